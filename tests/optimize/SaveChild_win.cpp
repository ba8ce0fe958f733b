// A program that saves the restore file and dies at a chosen step of the save, or saves in a
// loop until it is killed: for the crash tests of the save.
//   optimize_save_child <folder> <before-write|during-write|after-write|before-replace|after-replace|none>
//   optimize_save_child <folder> loop <event to set once saving>
#include "common/RawRegistry.h"
#include "common/ScopedHandle_win.h"
#include "common/WinApi.h"
#include "common/WinText_win.h"
#include "optimize/OptimizeIt.h"

#include <cstdio>
#include <string>

namespace {

[[noreturn]] void Die() {
  ::TerminateProcess(::GetCurrentProcess(), 99);
  for (;;) ::Sleep(1000);
}

// The machine's files, with the process ending at one step of the save.
class TDyingFiles final : public IRestoreFileSystem {
 public:
  explicit TDyingFiles(std::string step) : FStep(std::move(step)) {}
  long ReadText(const std::string& path, std::string& text) override {
    return Real().ReadText(path, text);
  }
  long WriteTextFlushed(const std::string& path, std::string_view text) override {
    At("before-write");
    if (FStep == "during-write") {
      Real().WriteTextFlushed(path, text.substr(0, text.size() / 2));
      Die();
    }
    const long rc = Real().WriteTextFlushed(path, text);
    At("after-write");
    return rc;
  }
  long ReplaceWith(const std::string& target, const std::string& source) override {
    At("before-replace");
    const long rc = Real().ReplaceWith(target, source);
    At("after-replace");
    return rc;
  }
  long RemoveFile(const std::string& path) override { return Real().RemoveFile(path); }
  std::string ErrorText(long code) override { return Real().ErrorText(code); }
  bool CodePageHolds(std::string_view text) override { return Real().CodePageHolds(text); }

 private:
  static IRestoreFileSystem& Real() { return SystemRestoreFileSystem(); }
  void At(const char* step) {
    if (FStep == step) Die();
  }
  std::string FStep;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const std::string folder = WideToUtf8(argv[1]);
  const std::string mode = WideToUtf8(argv[2]);
  TDyingFiles files(mode);
  TOptimizeIt engine(folder, SystemRegistry(), files);
  try {
    if (mode != "loop") {
      engine.WriteRestoreEntry("\\SYSTEM\\Key5_Value", "dword:-1");
      return 0;
    }
    // The parent waits for the event named by the third argument, then kills this process at
    // a random moment.
    if (argc < 4) return 2;
    const TScopedHandle ready(::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]));
    for (unsigned i = 0;; ++i) {
      engine.WriteRestoreEntry("\\SYSTEM\\Key0_Value", i % 2 ? "B" : "A");
      if (i == 1 && ready) ::SetEvent(ready.get());
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 3;
  }
}
