#include "common/FolderWalk_win.h"

#include "common/ProtectedFolders.h"

#include <winternl.h>

#include <utility>
#include <vector>

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The final path of handle, normalized, with its drive letter or share ("\\?\" form).
std::wstring FinalPathOf(HANDLE handle) {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetFinalPathNameByHandleW(handle, buf.data(), static_cast<DWORD>(buf.size()),
                                                FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0) return {};
    if (n < buf.size()) {
      buf.resize(n);
      return buf;
    }
    buf.resize(n + 1);
  }
}

// The name the system gives the object behind handle ("\Device\HarddiskVolume1\x" on
// Windows, "\??\C:\x" under Wine); empty when it cannot say.
std::wstring SystemNameOf(HANDLE handle) {
  std::vector<LONGLONG> buf(1024 / sizeof(LONGLONG));
  for (;;) {
    ULONG needed = 0;
    const ULONG size = static_cast<ULONG>(buf.size() * sizeof(LONGLONG));
    const NTSTATUS status = ::NtQueryObject(handle, ObjectNameInformation, buf.data(), size, &needed);
    if (status >= 0) {
      const auto* name = reinterpret_cast<const UNICODE_STRING*>(buf.data());
      return std::wstring(name->Buffer, name->Length / sizeof(wchar_t));
    }
    if (needed <= size) return {};
    buf.resize(needed / sizeof(LONGLONG) + 1);
  }
}

// dir and name joined by one separator.
std::wstring JoinPath(const std::wstring& dir, std::wstring_view name) {
  std::wstring path;
  path.reserve(dir.size() + 1 + name.size());
  path = dir;
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  path += name;
  return path;
}

// path made absolute, in the "\\?\" form that lifts the MAX_PATH limit.
std::wstring LongForm(const std::wstring& path) {
  if (path.rfind(LR"(\\?\)", 0) == 0) return path;
  const DWORD n = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return {};
  std::wstring full(n, L'\0');
  const DWORD m = ::GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  if (m == 0 || m >= n) return {};
  full.resize(m);
  if (full.rfind(LR"(\\.\)", 0) == 0) return {};  // devices are no folders to clear
  if (full.rfind(LR"(\\)", 0) == 0) return LR"(\\?\UNC\)" + full.substr(2);
  return LR"(\\?\)" + full;
}

bool SetInfo(HANDLE h, FILE_INFO_BY_HANDLE_CLASS cls, void* info, DWORD size) {
  return ::SetFileInformationByHandle(h, cls, info, size) != FALSE;
}

// Attributes that FILE_BASIC_INFO may set.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

bool SetAttributes(HANDLE h, DWORD attributes) {
  FILE_BASIC_INFO info = {};  // zero times stay as they are
  info.FileAttributes = attributes & kSettableAttributes;
  if (info.FileAttributes == 0) info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
  return SetInfo(h, FileBasicInfo, &info, sizeof info);
}

bool IsPlainFolder(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Whether actual is expected with trailing dots and blanks of some of its components left out,
// as Wine names objects whose names end in them (dots in every component, blanks in the last).
bool IsWineSpelling(std::wstring_view actual, std::wstring_view expected) {
  for (;;) {
    const size_t a = actual.find(L'\\');
    const size_t e = expected.find(L'\\');
    const std::wstring_view ac = actual.substr(0, a);
    const std::wstring_view ec = expected.substr(0, e);
    const bool same =
        ac == ec || (!ac.empty() && ac.size() < ec.size() && ec.substr(0, ac.size()) == ac &&
                     ec.find_first_not_of(L". ", ac.size()) == std::wstring_view::npos);
    if (!same) return false;
    if (a == std::wstring_view::npos || e == std::wstring_view::npos) return a == e;
    actual.remove_prefix(a + 1);
    expected.remove_prefix(e + 1);
  }
}

}  // namespace

TObjectName TObjectName::Child(std::wstring_view name) const {
  return {JoinPath(Path, name), JoinPath(SystemName, name)};
}

TObjectName ResolveFolder(const std::wstring& path) {
  if (path.empty()) return {};
  const std::wstring full = LongForm(path);
  if (full.empty()) return {};
  TScopedFileHandle h(::CreateFileW(full.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h) return {};
  FILE_BASIC_INFO info = {};
  if (!::GetFileInformationByHandleEx(h.get(), FileBasicInfo, &info, sizeof info) ||
      !(info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return {};
  TObjectName folder{FinalPathOf(h.get()), {}};
  // Wine gives no final path beyond MAX_PATH, but its system names are drive paths.
  if (folder.Path.empty()) {
    const std::wstring name = SystemNameOf(h.get());
    if (name.rfind(LR"(\??\)", 0) == 0) folder.Path = LR"(\\?\)" + name.substr(4);
  }
  if (folder.Path.empty()) return {};
  // The system names a handle by the path it was opened with (short names and all on Windows),
  // so the folder's name comes from the final path that its entries will be opened by.
  TScopedFileHandle opened(::CreateFileW(folder.Path.c_str(), FILE_READ_ATTRIBUTES, kShareAll,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                         nullptr));
  if (opened) folder.SystemName = SystemNameOf(opened.get());
  if (folder.SystemName.empty()) return {};
  return folder;
}

bool IsLinkEntry(DWORD attributes, DWORD reparseTag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
         (reparseTag == 0 || IsReparseTagNameSurrogate(reparseTag));
}

bool IsAt(HANDLE handle, const TObjectName& name) {
  const std::wstring actual = SystemNameOf(handle);
  if (actual.empty()) return false;
  // Both names come from the system (a listing and a handle), spelled alike on Windows: any
  // difference, in letter case too, means the handle was led elsewhere.
  if (actual == name.SystemName) return true;
  if (!IsWineSpelling(actual, name.SystemName) || actual.rfind(LR"(\??\)", 0) != 0) return false;
  // Wine's spelling of a name with trailing dots or blanks, or a link to the object that has
  // the name Wine gives: only the latter is that object when opened by that name.
  TScopedFileHandle other(::CreateFileW((LR"(\\?\)" + actual.substr(4)).c_str(),
                                        FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr));
  if (!other) return true;
  BY_HANDLE_FILE_INFORMATION a = {};
  BY_HANDLE_FILE_INFORMATION b = {};
  if (!::GetFileInformationByHandle(handle, &a) || !::GetFileInformationByHandle(other.get(), &b))
    return false;
  return a.dwVolumeSerialNumber != b.dwVolumeSerialNumber || a.nFileIndexHigh != b.nFileIndexHigh ||
         a.nFileIndexLow != b.nFileIndexLow;
}

TScopedFileHandle OpenFolderForListing(const TObjectName& folder) {
  TScopedFileHandle h(::CreateFileW(folder.Path.c_str(),
                                    FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                    kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
  if (!h) return {};
  FILE_ATTRIBUTE_TAG_INFO info = {};
  if (!::GetFileInformationByHandleEx(h.get(), FileAttributeTagInfo, &info, sizeof info) ||
      !IsPlainFolder(info.FileAttributes) || !IsAt(h.get(), folder))
    return {};
  return h;
}

void ListFolder(HANDLE folder, const std::function<void(const TFolderEntry&)>& onEntry) {
  // One large batch per call keeps the round trips to the file system few.
  std::vector<LONGLONG> buf(64 * 1024 / sizeof(LONGLONG));
  const DWORD size = static_cast<DWORD>(buf.size() * sizeof(LONGLONG));
  while (::GetFileInformationByHandleEx(folder, FileFullDirectoryInfo, buf.data(), size)) {
    const auto* p = reinterpret_cast<const unsigned char*>(buf.data());
    for (;;) {
      const auto* info = reinterpret_cast<const FILE_FULL_DIR_INFO*>(p);
      const std::wstring_view name(info->FileName, info->FileNameLength / sizeof(wchar_t));
      if (name != L"." && name != L"..") {
        TFolderEntry entry;
        entry.Name = name;
        entry.Attributes = info->FileAttributes;
        // For a reparse point the system reports its tag in place of the extended-attribute size.
        entry.ReparseTag = (info->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? info->EaSize : 0;
        entry.Size = info->EndOfFile.QuadPart;
        onEntry(entry);
      }
      if (info->NextEntryOffset == 0) break;
      p += info->NextEntryOffset;
    }
  }
}

bool DeleteExact(const TObjectName& object, DWORD attributes) {
  const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  TScopedFileHandle h(::CreateFileW(
      object.Path.c_str(), DELETE | FILE_READ_ATTRIBUTES | (readOnly ? FILE_WRITE_ATTRIBUTES : 0),
      kShareAll, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0), nullptr));
  if (!h || !IsAt(h.get(), object)) return false;
  if (readOnly && !SetAttributes(h.get(), attributes & ~FILE_ATTRIBUTE_READONLY)) return false;
  FILE_DISPOSITION_INFO disposition = {TRUE};
  if (SetInfo(h.get(), FileDispositionInfo, &disposition, sizeof disposition)) return true;
  // Left in place: then also as it was.
  if (readOnly) SetAttributes(h.get(), attributes);
  return false;
}

std::vector<TListedEntry> ListEntries(HANDLE folder) {
  std::vector<TListedEntry> entries;
  ListFolder(folder, [&](const TFolderEntry& e) {
    entries.push_back({std::wstring(e.Name), e.Attributes, e.ReparseTag, e.Size});
  });
  return entries;
}

std::wstring GuardFileIn(const std::vector<TListedEntry>& entries) {
  for (const TListedEntry& e : entries) {
    // Only a short name of plain letters can be one; the rest need no conversion.
    if (e.Name.size() > 32) continue;
    std::string ascii;
    for (const wchar_t c : e.Name) {
      if (c >= 128) break;
      ascii += static_cast<char>(c);
    }
    if (ascii.size() == e.Name.size() && IsGuardFileName(ascii)) return e.Name;
  }
  return {};
}

void DeleteTree(const TObjectName& folder, const TFolderGate& gate) {
  // A folder is deleted once its contents are gone; the stack replaces recursion, so no depth
  // of nesting can exhaust the thread's stack.
  struct TPending {
    TObjectName Name;
    DWORD Attributes;
    bool Listed;
    bool Kept;
  };
  std::vector<TPending> pending{{folder, 0, false, false}};
  while (!pending.empty()) {
    if (pending.back().Listed) {
      const TPending done = std::move(pending.back());
      pending.pop_back();
      // Never the top folder, nor one the gate kept.
      if (!pending.empty() && !done.Kept) DeleteExact(done.Name, done.Attributes);
      continue;
    }
    pending.back().Listed = true;
    const TObjectName current = pending.back().Name;
    const TScopedFileHandle h = OpenFolderForListing(current);
    if (!h) continue;
    // The whole listing first: a guard file anywhere in it keeps every entry.
    const std::vector<TListedEntry> entries = ListEntries(h.get());
    if (gate && !gate(current, GuardFileIn(entries))) {
      pending.back().Kept = true;
      continue;
    }
    for (const TListedEntry& e : entries) {
      if (IsPlainFolder(e.Attributes))
        pending.push_back({current.Child(e.Name), e.Attributes, false, false});
      else
        DeleteExact(current.Child(e.Name), e.Attributes);  // files, and links themselves
    }
  }
}

int64_t MeasureExact(const TObjectName& file, int64_t listedSize) {
  // Opening for reading fails for a file held open without sharing: it counts 0, as it cannot
  // be cleared either. The handle confirms the file; the listing already holds its size.
  TScopedFileHandle h(::CreateFileW(file.Path.c_str(), FILE_READ_DATA | FILE_READ_ATTRIBUTES,
                                    kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h || !IsAt(h.get(), file)) return 0;
  return listedSize;
}

int64_t SizeOfTree(const TObjectName& folder, const TFolderGate& gate) {
  int64_t total = 0;
  std::vector<TObjectName> pending{folder};
  while (!pending.empty()) {
    const TObjectName current = std::move(pending.back());
    pending.pop_back();
    const TScopedFileHandle h = OpenFolderForListing(current);
    if (!h) continue;
    // Decided before anything is opened, as the clearing decides it.
    const std::vector<TListedEntry> entries = ListEntries(h.get());
    if (gate && !gate(current, GuardFileIn(entries))) continue;
    for (const TListedEntry& e : entries) {
      if (e.Attributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (IsPlainFolder(e.Attributes)) pending.push_back(current.Child(e.Name));
      } else if (!IsLinkEntry(e.Attributes, e.ReparseTag)) {
        total += MeasureExact(current.Child(e.Name), e.Size);
      }
    }
  }
  return total;
}

bool IsPlainFileAt(const TObjectName& file) {
  TScopedFileHandle h(::CreateFileW(file.Path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  FILE_ATTRIBUTE_TAG_INFO info = {};
  return h && ::GetFileInformationByHandleEx(h.get(), FileAttributeTagInfo, &info, sizeof info) &&
         !(info.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
         IsAt(h.get(), file);
}

std::wstring FirstLinkBelow(const TObjectName& folder) {
  std::vector<TObjectName> pending{folder};
  while (!pending.empty()) {
    const TObjectName current = std::move(pending.back());
    pending.pop_back();
    const TScopedFileHandle h = OpenFolderForListing(current);
    // A folder that cannot be looked into may hold anything.
    if (!h) return current.Path;
    for (const TListedEntry& e : ListEntries(h.get())) {
      const TObjectName child = current.Child(e.Name);
      // Any other reparse point is refused as well: this is a search for what to avoid.
      if (IsPlainFolder(e.Attributes))
        pending.push_back(child);
      else if ((e.Attributes & FILE_ATTRIBUTE_DIRECTORY) || !IsPlainFileAt(child))
        return child.Path;
    }
  }
  return {};
}
