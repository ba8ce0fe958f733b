// The Win32 half of the tweak engine: the restore files on disk and the process-wide engine.
#include "optimize/OptimizeIt.h"

#include "common/ScopedHandle_win.h"
#include "common/Settings.h"
#include "common/WinApi.h"
#include "common/WinText_win.h"

#include <algorithm>

namespace {

class TSystemRestoreFileSystem final : public IRestoreFileSystem {
 public:
  long ReadText(const std::string& path, std::string& text) override {
    TScopedFileHandle file(::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return static_cast<long>(::GetLastError());
    std::string bytes;
    char buffer[64 * 1024];
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr))
        return static_cast<long>(::GetLastError());
      if (got == 0) break;
      bytes.append(buffer, got);
    }
    text = AnsiToUtf8(bytes);
    return ERROR_SUCCESS;
  }

  long WriteTextFlushed(const std::string& path, std::string_view text) override {
    const std::string bytes = Utf8ToAnsi(text);
    TScopedFileHandle file(::CreateFileW(Utf8ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return static_cast<long>(::GetLastError());
    size_t done = 0;
    while (done < bytes.size()) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
      DWORD written = 0;
      if (!::WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr))
        return static_cast<long>(::GetLastError());
      if (written == 0) return ERROR_WRITE_FAULT;
      done += written;
    }
    // The new content must be on the disk before it replaces the old.
    if (!::FlushFileBuffers(file.get())) return static_cast<long>(::GetLastError());
    return ERROR_SUCCESS;
  }

  long ReplaceWith(const std::string& target, const std::string& source) override {
    const std::wstring to = Utf8ToWide(target);
    const std::wstring from = Utf8ToWide(source);
    const DWORD attributes = ::GetFileAttributesW(to.c_str());
    // A read-only file is not to be rewritten, as an in-place write would be refused.
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
      return ERROR_ACCESS_DENIED;
    // One rename that replaces the old file. Not ReplaceFileW: Wine's moves the old file away
    // and deletes it before it moves the new one in, so a crash there loses both.
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return ERROR_SUCCESS;
    return static_cast<long>(::GetLastError());
  }

  long RemoveFile(const std::string& path) override {
    if (::DeleteFileW(Utf8ToWide(path).c_str())) return ERROR_SUCCESS;
    const DWORD error = ::GetLastError();
    return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
               ? ERROR_SUCCESS
               : static_cast<long>(error);
  }

  std::string ErrorText(long code) override {
    return SystemErrorText(static_cast<unsigned long>(code));
  }
};

}  // namespace

IRestoreFileSystem& SystemRestoreFileSystem() {
  static TSystemRestoreFileSystem files;
  return files;
}

void InitializeOptimizeModule() {
  gOptimizeIt = std::make_unique<TOptimizeIt>(gAppDir(), SystemRegistry(), SystemRestoreFileSystem());
}
