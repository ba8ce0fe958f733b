// The Win32 half of the clean-up primitives: the browser's history object, the shell folders,
// the file walks and the count pass.
#include "common/CleanupAPI.h"
#include "common/CleanupAPI_win.h"
#include "common/FileSystem.h"

#include "common/FolderWalk_win.h"
#include "common/GenericAPI.h"
#include "common/GenericShellAPI_win.h"
#include "common/ProtectedFolders_win.h"
#include "common/RawRegistry.h"
#include "common/ScopedHandle_win.h"
#include "common/WinApi.h"
#include "common/WinText_win.h"

#include <shellapi.h>
#include <shlobj.h>
#include <urlhist.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

// The browser's URL-history object and its clearing interface.
constexpr CLSID kClsidCUrlHistory = {
    0x3C374A40, 0xBAE4, 0x11CF, {0xBF, 0x7D, 0x00, 0xAA, 0x00, 0x69, 0x46, 0xEE}};
constexpr IID kIidIUrlHistoryStg2 = {
    0xAFA0DC11, 0xC313, 0x11D0, {0x83, 0x1A, 0x00, 0xC0, 0x4F, 0xD5, 0xAE, 0x38}};

// COM for the calling thread while this lives, unless the thread already has it.
class TComScope {
 public:
  TComScope() : FOwned(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  TComScope(const TComScope&) = delete;
  TComScope& operator=(const TComScope&) = delete;
  // A thread in the multithreaded apartment refuses (RPC_E_CHANGED_MODE) and keeps its COM.
  ~TComScope() {
    if (FOwned) ::CoUninitialize();
  }

 private:
  bool FOwned;
};

// The Windows temporary folder, or empty.
std::wstring TempPath() { return Utf8ToWide(TempFolder()); }

// The total size below the folder named by path (a link at path itself is followed); 0 for a
// folder the clearing would leave alone, so the figure never offers what it will not delete.
int64_t FolderSizeW(const std::wstring& path,
                    std::shared_ptr<const TProtectedFolders> guarded = nullptr) {
  const TCleanupTarget target = guarded ? CleanupTarget(path, "GetFolderSize", std::move(guarded))
                                        : CleanupTarget(path, "GetFolderSize");
  return target.Folder.Path.empty() ? 0 : SizeOfTree(target.Folder, target.Gate);
}

// Where Wine keeps the Recycle Bin (the desktop's trash folder of the Unix user, as a Windows
// path); empty on Windows.
std::wstring WineTrashFiles() {
  const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  if (!ntdll || !::GetProcAddress(ntdll, "wine_get_version")) return {};
  using TDosNameFn = wchar_t*(__cdecl*)(const char*);
  const auto dosName = reinterpret_cast<TDosNameFn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
  const auto variable = [](const wchar_t* name) {
    std::wstring value(32768, L'\0');
    const DWORD n = ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    value.resize(n < value.size() ? n : 0);
    return value;
  };
  std::wstring data;
  const std::wstring xdg = variable(L"XDG_DATA_HOME");
  if (!xdg.empty() && xdg[0] == L'/' && dosName) {
    if (wchar_t* name = dosName(WideToUtf8(xdg).c_str())) {
      data = name;
      ::HeapFree(::GetProcessHeap(), 0, name);
    }
  } else {
    // "\??\Z:\home\user", the Unix home.
    const std::wstring home = variable(L"WINEHOMEDIR");
    if (home.rfind(LR"(\??\)", 0) == 0) data = home.substr(4) + LR"(\.local\share)";
  }
  return data.empty() ? std::wstring() : data + LR"(\Trash\files)";
}

}  // namespace

int64_t CountSavedPasswords() { return CountSavedPasswords(SystemRegistry()); }
int64_t ClearSavedPasswords() { return ClearSavedPasswords(SystemRegistry()); }
int64_t CountTypedUrls() { return CountTypedUrls(SystemRegistry()); }

void ClearTypedUrls() {
  TComPtr<IUnknown> object;
  HRESULT hr = ::CoCreateInstance(kClsidCUrlHistory, nullptr,
                                  CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                  object.put_void());
  if (FAILED(hr)) throw OleSysError(hr);
  TComPtr<IUrlHistoryStg2> history;
  hr = object->QueryInterface(kIidIUrlHistoryStg2, history.put_void());
  if (FAILED(hr)) throw OleSysError(hr);
  // Some hosts do not implement the clearing; the typed URLs go all the same.
  history->ClearHistory();
  DeleteTypedUrlsKey(SystemRegistry());
}

void ClearSpecialFolder(int csidl) {
  const std::wstring path = SpecialFolderPath(csidl);
  if (!path.empty()) DeleteFolderContents(IncludeTrailingSeparator(WideToUtf8(path)));
}

void ClearInternetCache() { ClearSpecialFolder(CSIDL_INTERNET_CACHE); }

void ClearTempFolder() {
  const std::wstring path = TempPath();
  if (!path.empty()) DeleteFolderContents(WideToUtf8(path));
}

namespace {

// CountCookies, with the protected folders already looked up when given.
int64_t CountCookiesWith(std::shared_ptr<const TProtectedFolders> guarded) {
  const std::wstring path = SpecialFolderPath(CSIDL_COOKIES);
  // A folder that does not exist holds no cookies (and must not be created by counting).
  const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
  // A folder the clearing leaves alone offers nothing; the files that are exactly there (no
  // links, which Wine lists as their targets) are the ones a cookie can be.
  const TCleanupTarget target = guarded ? CleanupTarget(path, "CountCookies", std::move(guarded))
                                        : CleanupTarget(path, "CountCookies");
  if (target.Folder.Path.empty()) return 0;
  std::set<std::wstring> plainFiles;
  {
    const TScopedFileHandle h = OpenFolderForListing(target.Folder);
    if (!h) return 0;
    const std::vector<TListedEntry> entries = ListEntries(h.get());
    if (!target.Gate(target.Folder, GuardFileIn(entries))) return 0;
    for (const TListedEntry& e : entries)
      if (!(e.Attributes & FILE_ATTRIBUTE_DIRECTORY) && !IsLinkEntry(e.Attributes, e.ReparseTag) &&
          IsPlainFileAt(target.Folder.Child(e.Name)))
        plainFiles.insert(e.Name);
  }
  TItemIdList folder;
  if (FAILED(::SHParseDisplayName(path.c_str(), nullptr, folder.put(), 0, nullptr)) || !folder)
    return 0;
  std::vector<TItemIdList> items;
  EnumFolderItems(folder.get(), {TFolderItemKind::fikNonFolders}, items);
  int64_t count = 0;
  for (const TItemIdList& item : items) {
    TItemIdList full(::ILCombine(folder.get(), item.get()));
    wchar_t itemPath[MAX_PATH + 1] = {};
    if (!full || !::SHGetPathFromIDListW(full.get(), itemPath)) continue;
    const std::wstring_view name(itemPath);
    const size_t slash = name.find_last_of(L'\\');
    if (plainFiles.count(std::wstring(slash == name.npos ? name : name.substr(slash + 1)))) ++count;
  }
  return count;
}

}  // namespace

int64_t CountCookies() { return CountCookiesWith(nullptr); }

void EmptyRecycleBin(HWND owner) {
  // Wine's emptying deletes what a link in its trash points to; Windows removes such a link
  // itself. Under Wine the bin is emptied only when nothing in it is a link.
  const std::wstring trash = WineTrashFiles();
  if (!trash.empty()) {
    const TObjectName folder = ResolveFolder(trash);
    if (!folder.Path.empty()) {
      const std::wstring link = FirstLinkBelow(folder);
      if (!link.empty()) {
        WriteLog("[EmptyRecycleBin]Left the Recycle Bin as it is: it holds " +
                 WideToUtf8(link.rfind(LR"(\\?\)", 0) == 0 ? link.substr(4) : link) +
                 ", a link or an entry that cannot be told from one, and emptying it here would "
                 "delete what the link points to");
        return;
      }
    }
  }
  ::SHEmptyRecycleBinW(owner, nullptr, SHERB_NOCONFIRMATION);
}

int64_t GetFileSizeOf(std::string_view fileName) {
  std::wstring name = Utf8ToWide(fileName);
  if (name.empty()) return 0;
  // A Win32 name means what it means to Windows (a trailing dot or blank dropped); a "\\?\"
  // name is taken as it is written.
  if (name.rfind(LR"(\\?\)", 0) != 0) {
    const DWORD n = ::GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (n == 0) return 0;
    std::wstring full(n, L'\0');
    const DWORD m = ::GetFullPathNameW(name.c_str(), n, full.data(), nullptr);
    if (m == 0 || m >= n) return 0;
    full.resize(m);
    name = std::move(full);
  }
  const size_t slash = name.find_last_of(L'\\');
  if (slash == std::wstring::npos || slash + 1 == name.size()) return 0;
  const std::wstring leaf = name.substr(slash + 1);
  if (leaf.find_first_of(L"*?") != std::wstring::npos) return 0;
  const TObjectName folder = ResolveFolder(name.substr(0, slash + 1));
  if (folder.Path.empty()) return 0;
  // The handle tells a folder or a link (the file itself is opened, never a target), and
  // confirms that nothing led elsewhere.
  const TObjectName file = folder.Child(leaf);
  TScopedFileHandle h(::CreateFileW(file.Path.c_str(), FILE_READ_DATA | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                    nullptr));
  FILE_ATTRIBUTE_TAG_INFO info = {};
  LARGE_INTEGER size = {};
  if (!h || !::GetFileInformationByHandleEx(h.get(), FileAttributeTagInfo, &info, sizeof info) ||
      (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      IsLinkEntry(info.FileAttributes, info.ReparseTag) || !IsAt(h.get(), file) ||
      !::GetFileSizeEx(h.get(), &size))
    return 0;
  return size.QuadPart;
}

int64_t GetFolderSize(std::string_view dir) {
  return FolderSizeW(Utf8ToWide(IncludeTrailingSeparator(dir)));
}

TCountFigures CountPass(const TCountSink& onFigure) {
  const TComScope com;
  TCountFigures figures;
  const auto guarded = std::make_shared<const TProtectedFolders>(LoadProtectedFolders());
  const auto reached = [&](TCountItem item) {
    if (onFigure) onFigure(item, figures);
  };

  const std::wstring cache = SpecialFolderPath(CSIDL_INTERNET_CACHE);
  if (!cache.empty()) figures.InternetCacheBytes = FolderSizeW(cache, guarded);
  reached(TCountItem::ciInternetCache);

  figures.Cookies = CountCookiesWith(guarded);
  reached(TCountItem::ciCookies);

  const std::wstring temp = TempPath();
  if (!temp.empty()) figures.TempFilesBytes = FolderSizeW(temp, guarded);
  reached(TCountItem::ciTempFiles);

  figures.SavedPasswords = CountSavedPasswords();
  reached(TCountItem::ciSavedPasswords);

  figures.TypedUrls = CountTypedUrls();
  reached(TCountItem::ciTypedUrls);
  return figures;
}
