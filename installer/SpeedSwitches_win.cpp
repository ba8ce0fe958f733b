// SpeedSwitches.exe: the speed switches for the main window and the uninstaller, run elevated
// where writing them needs it.
//   SpeedSwitches.exe apply "<program folder>" <s1,s2,s3,s4,s5> [<pipe name>]
//   SpeedSwitches.exe undo "<program folder>" [<pipe name>]
// apply does what the main window's Apply does for the five states (each "1" or "0"): the
// switches 1 to 5 in order, "Enable", then the stored states. undo takes back every value the
// program's record holds, of every account, "Enable" included (for the uninstaller). Exit code
// 0 on success; otherwise non-zero and the reason, the engine's own words, on standard output
// (in the system's ANSI code page) and, when a pipe is named, through that pipe (UTF-8): a
// program started elevated through the shell inherits no handles of its starter.
#include "common/GenericAPI.h"
#include "common/GenericShellAPI.h"
#include "common/RawRegistry.h"
#include "common/ResStrings_win.h"
#include "common/ScopedHandle_win.h"
#include "common/Settings.h"
#include "common/WinApi.h"
#include "common/WinText_win.h"
#include "optimize/OptimizeIt.h"
#include "optimize/SpeedStates.h"

#include <cstdio>
#include <exception>
#include <string>

namespace {

constexpr int kFailed = 1;
constexpr std::wstring_view kPipePrefix = L"\\\\.\\pipe\\";
// The starter reads the text once this program has ended; more than its pipe holds would block.
constexpr size_t kMaxPipeText = 16 * 1024;

// Hands the reason to the starter: standard output always, the pipe when there is one.
void Report(const std::string& text, const wchar_t* pipe) {
  const std::string bytes = Utf8ToAnsi(text) + "\r\n";
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
  if (!pipe) return;
  TScopedFileHandle file(::CreateFileW(pipe, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return;
  const std::string utf8 = text.substr(0, kMaxPipeText);
  DWORD written = 0;
  ::WriteFile(file.get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

int Usage() {
  Report("usage: SpeedSwitches apply \"<program folder>\" <s1,s2,s3,s4,s5> [<pipe name>]\n"
         "       SpeedSwitches undo \"<program folder>\" [<pipe name>]",
         nullptr);
  return ERROR_INVALID_PARAMETER;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return Usage();
  const std::wstring command = argv[1];
  const bool apply = command == L"apply";
  if (!apply && command != L"undo") return Usage();
  const int pipeArg = apply ? 4 : 3;
  if (argc < pipeArg || argc > pipeArg + 1 || !*argv[2]) return Usage();
  const wchar_t* pipe = argc > pipeArg ? argv[pipeArg] : nullptr;
  // Only a pipe: this program may run elevated, and must not write where a caller points it.
  if (pipe && std::wstring_view(pipe).substr(0, kPipePrefix.size()) != kPipePrefix) return Usage();
  TSpeedStates states{};
  if (apply && !ParseSpeedStates(WideToUtf8(argv[3]), states)) return Usage();

  InstallResStringSource();
  // The diagnostic log lives in the all-users application data folder.
  InitializeShellModule();
  const std::string dir = WideToUtf8(argv[2]);
  const DWORD attributes = ::GetFileAttributesW(argv[2]);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    // A missing folder would read as "nothing changed": say so instead of claiming success.
    Report("The folder \"" + dir + "\" does not exist.", pipe);
    return kFailed;
  }
  try {
    TOptimizeIt engine(dir, SystemRegistry(), SystemRestoreFileSystem(), &SystemUserHives());
    engine.Log = [](const std::string& line) { WriteLog(line); };
    if (apply) {
      ApplySpeedStates(engine, SystemRegistry(), states);
    } else {
      engine.UndoAll();
      // Everything is back: stored states that said otherwise would mislead a later start.
      if (!ReadSetting(SystemRegistry(), kSpeedStatesValue, false, kProductKey).empty())
        WriteSetting(SystemRegistry(), kSpeedStatesValue, "0,0,0,0,0", false, kProductKey);
    }
  } catch (const std::exception& e) {
    Report(e.what(), pipe);
    return kFailed;
  }
  return 0;
}
