#include "i18n/cabfiles.h"

#include "common/WinApi.h"

#include <fdi.h>

#include <cstdlib>
#include <new>

#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"

namespace {

// What the decoder holds as a file handle: the system handle and, for a file being
// extracted, its progress figures.
struct TCabHandle {
  HANDLE Handle = INVALID_HANDLE_VALUE;
  std::string Name;
  int32_t Size = 0;
  int32_t Written = 0;
};

TCabHandle* FromFdi(INT_PTR hf) noexcept { return reinterpret_cast<TCabHandle*>(hf); }
INT_PTR ToFdi(TCabHandle* h) noexcept { return reinterpret_cast<INT_PTR>(h); }

// The archive whose run is in progress on this thread; the decoder's file callbacks carry no
// user data of their own.
thread_local TCABFile* tRunning = nullptr;

class TRunScope {
 public:
  explicit TRunScope(TCABFile* cab) noexcept : FPrevious(tRunning) { tRunning = cab; }
  ~TRunScope() { tRunning = FPrevious; }
  TRunScope(const TRunScope&) = delete;
  TRunScope& operator=(const TRunScope&) = delete;

 private:
  TCABFile* FPrevious;
};

// A failed file call: reported once, with the code of that very failure.
void ReportFailure(DWORD code) noexcept {
  try {
    if (tRunning && tRunning->OnSystemError) {
      tRunning->OnSystemError(code);
    } else {
      ShowSystemError(code);
    }
  } catch (...) {
  }
}

bool ForceDirectories(const std::wstring& dir) {
  std::wstring path = dir;
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  if (path.empty() || (path.size() == 2 && path[1] == L':')) return true;
  const DWORD attrs = ::GetFileAttributesW(path.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES) return (attrs & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const size_t cut = path.find_last_of(L"\\/");
  if (cut != std::wstring::npos && !ForceDirectories(path.substr(0, cut))) return false;
  return ::CreateDirectoryW(path.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

std::wstring FullPath(const std::wstring& path) {
  const DWORD n = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring out(n, L'\0');
  const DWORD m = ::GetFullPathNameW(path.c_str(), n, out.data(), nullptr);
  out.resize(m < n ? m : 0);
  return out.empty() ? path : out;
}

// The UTC file time extraction gives a file of the stored local DOS date and time.
bool StoredDateAsFileTime(uint16_t dosDate, uint16_t dosTime, FILETIME& utc) {
  FILETIME local{};
  return ::DosDateTimeToFileTime(dosDate, dosTime, &local) && ::LocalFileTimeToFileTime(&local, &utc);
}

// The decoder stays loaded once it was needed: loading it again for every run of a start-up
// (list, list, extract) costs more than the run itself.
HMODULE CabinetLibrary() {
  static const TScopedModule library(::LoadLibraryW(L"cabinet.dll"));
  return library.get();
}

template <class T>
T Proc(HMODULE lib, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(lib, name)));
}

}  // namespace

// The decoder's callbacks; none lets an exception out.
struct TCABCallbacks {
  static void* DIAMONDAPI Alloc(ULONG cb) { return std::malloc(cb ? cb : 1); }
  static void DIAMONDAPI Free(void* pv) { std::free(pv); }

  // The paths handed to the decoder are UTF-8, so every name it opens is too.
  static INT_PTR DIAMONDAPI Open(char* file, int /*oflag*/, int /*pmode*/) {
    try {
      TScopedFileHandle h(::CreateFileW(Utf8ToWide(file).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!h) return -1;
      auto* ch = new TCabHandle;
      ch->Handle = h.release();
      return ToFdi(ch);
    } catch (...) {
      return -1;
    }
  }

  static UINT DIAMONDAPI Read(INT_PTR hf, void* pv, UINT cb) {
    DWORD got = 0;
    if (!::ReadFile(FromFdi(hf)->Handle, pv, cb, &got, nullptr)) return static_cast<UINT>(-1);
    return got;
  }

  static UINT DIAMONDAPI Write(INT_PTR hf, void* pv, UINT cb) {
    TCabHandle* h = FromFdi(hf);
    DWORD put = 0;
    if (!::WriteFile(h->Handle, pv, cb, &put, nullptr)) {
      ReportFailure(::GetLastError());
      return static_cast<UINT>(-1);
    }
    try {
      h->Written += static_cast<int32_t>(put);
      if (tRunning && tRunning->OnDecompressProgress)
        tRunning->OnDecompressProgress(*tRunning, h->Name, h->Written, h->Size);
    } catch (...) {
      return static_cast<UINT>(-1);  // a failing handler ends the run as a failed write
    }
    return put;
  }

  static int DIAMONDAPI Close(INT_PTR hf) {
    TCabHandle* h = FromFdi(hf);
    const bool closed = ::CloseHandle(h->Handle) != FALSE;
    if (!closed) ReportFailure(::GetLastError());
    delete h;
    return closed ? 0 : -1;
  }

  static LONG DIAMONDAPI Seek(INT_PTR hf, LONG dist, int seektype) {
    // The decoder's origins 0, 1, 2 are FILE_BEGIN, FILE_CURRENT, FILE_END.
    ::SetLastError(NO_ERROR);
    const DWORD pos = ::SetFilePointer(FromFdi(hf)->Handle, dist, nullptr, static_cast<DWORD>(seektype));
    if (pos == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR) {
      ReportFailure(::GetLastError());
      return -1;
    }
    return static_cast<LONG>(pos);
  }

  static INT_PTR DIAMONDAPI Notify(FDINOTIFICATIONTYPE fdint, PFDINOTIFICATION pfdin) {
    try {
      auto* self = static_cast<TCABFile*>(pfdin->pv);
      switch (fdint) {
        case fdintCOPY_FILE:
          return OnCopyFile(*self, pfdin);
        case fdintCLOSE_FILE_INFO:
          return OnCloseFile(pfdin);
        default:
          return 0;
      }
    } catch (...) {
      return -1;
    }
  }

  static INT_PTR OnCopyFile(TCABFile& self, PFDINOTIFICATION pfdin) {
    const std::string name = (pfdin->attribs & _A_NAME_IS_UTF) ? std::string(pfdin->psz1)
                                                               : AnsiToUtf8(pfdin->psz1);
    if (self.FMode == TCABFile::TCABMode::cmList) {
      self.FContents.push_back(
          {name, static_cast<int32_t>(pfdin->cb), DecodeDosDateTime(pfdin->date, pfdin->time)});
      self.FDosDates.push_back({pfdin->date, pfdin->time});
    }
    // A name that would climb out of the target folder is skipped, never written.
    if (!self.Wants(name) || !IsSafeArchiveName(name)) return 0;

    std::wstring folder = Utf8ToWide(self.TargetFolder(name));
    if (self.TargetPath.empty()) folder = FullPath(folder.empty() ? L"." : folder);
    ForceDirectories(folder);

    const std::string target = self.TargetName(name);
    const std::wstring wtarget = Utf8ToWide(target);
    bool allow = true;
    if (::GetFileAttributesW(wtarget.c_str()) != INVALID_FILE_ATTRIBUTES) {
      if (self.OnOverWriteFile) self.OnOverWriteFile(self, target, allow);
      if (allow) ::DeleteFileW(wtarget.c_str());
    }
    if (!allow) return 0;

    TScopedFileHandle h(::CreateFileW(wtarget.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) return -1;
    auto* ch = new TCabHandle;
    ch->Handle = h.release();
    ch->Name = name;
    ch->Size = static_cast<int32_t>(pfdin->cb);
    return ToFdi(ch);
  }

  static INT_PTR OnCloseFile(PFDINOTIFICATION pfdin) {
    TCabHandle* h = FromFdi(pfdin->hf);
    FILETIME utc{};
    if (StoredDateAsFileTime(pfdin->date, pfdin->time, utc)) ::SetFileTime(h->Handle, nullptr, nullptr, &utc);
    return Close(pfdin->hf) == 0 ? TRUE : FALSE;
  }
};

void TCABFile::List() {
  FContents.clear();
  FDosDates.clear();
  FMode = TCABMode::cmList;
  Process();
}

bool TCABFile::ExtractAll() {
  FMode = TCABMode::cmExtractAll;
  return Process() == 0;
}

bool TCABFile::ExtractFile(const std::string& name) {
  FWanted = name;
  FMode = TCABMode::cmExtractFile;
  return Process() == 0;
}

bool TCABFile::TargetHoldsListing() const {
  if (FContents.empty() || FDosDates.size() != FContents.size()) return false;
  for (size_t i = 0; i < FContents.size(); ++i) {
    const TCABFileEntry& entry = FContents[i];
    if (!IsSafeArchiveName(entry.Name)) continue;  // never written by an extraction either
    WIN32_FILE_ATTRIBUTE_DATA data{};
    FILETIME stored{};
    if (!::GetFileAttributesExW(Utf8ToWide(TargetName(entry.Name)).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || data.nFileSizeHigh != 0 ||
        data.nFileSizeLow != static_cast<DWORD>(entry.Size) ||
        !StoredDateAsFileTime(FDosDates[i].first, FDosDates[i].second, stored) ||
        ::CompareFileTime(&data.ftLastWriteTime, &stored) != 0)
      return false;
  }
  return true;
}

int TCABFile::Process() {
  const std::wstring wcab = Utf8ToWide(CABFile);
  {
    TScopedFileHandle probe(::CreateFileW(wcab.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!probe) return -1;
  }
  HMODULE lib = CabinetLibrary();
  if (!lib) return -1;
  const auto create = Proc<decltype(&FDICreate)>(lib, "FDICreate");
  const auto isCabinet = Proc<decltype(&FDIIsCabinet)>(lib, "FDIIsCabinet");
  const auto copy = Proc<decltype(&FDICopy)>(lib, "FDICopy");
  const auto destroy = Proc<decltype(&FDIDestroy)>(lib, "FDIDestroy");
  if (!create || !isCabinet || !copy || !destroy) return -1;

  ERF erf{};
  HFDI hfdi = create(TCABCallbacks::Alloc, TCABCallbacks::Free, TCABCallbacks::Open,
                     TCABCallbacks::Read, TCABCallbacks::Write, TCABCallbacks::Close,
                     TCABCallbacks::Seek, cpu80386, &erf);
  if (!hfdi) return -1;

  int result = -1;
  {
    TRunScope running(this);
    std::string cabUtf8 = CABFile;
    const INT_PTR hf = TCABCallbacks::Open(cabUtf8.data(), 0, 0);
    FDICABINETINFO info{};
    const bool cabinet = hf != -1 && isCabinet(hfdi, hf, &info);
    if (hf != -1) TCABCallbacks::Close(hf);
    if (cabinet) {
      const std::wstring full = FullPath(wcab);
      const size_t cut = full.find_last_of(L"\\/");
      std::string name = WideToUtf8(cut == std::wstring::npos ? full : full.substr(cut + 1));
      std::string dir = WideToUtf8(cut == std::wstring::npos ? L"" : full.substr(0, cut + 1));
      if (copy(hfdi, name.data(), dir.data(), 0, TCABCallbacks::Notify, nullptr, this)) result = 0;
    }
  }
  if (!destroy(hfdi)) result = -1;
  return result;
}

void ShowSystemError(unsigned long code) {
  if (code == 0) return;
  ::MessageBoxW(nullptr, Utf8ToWide(SystemErrorText(code)).c_str(), L"Error",
                MB_OK | MB_ICONWARNING);
}
