// SpeedUndo.exe: takes back every speed switch the program holds changed, for the uninstaller.
//   SpeedUndo.exe <program folder>
// Runs the program's own tweak engine on the restore files in that folder. Exit code 0 when
// every value is back (or nothing was changed); otherwise 1 and the reasons, one per line, on
// standard output in the system's ANSI code page, for the uninstaller to show. The uninstaller
// removes nothing unless this succeeds, so the backup is never lost.
#include "common/RawRegistry.h"
#include "common/ResStrings_win.h"
#include "common/WinApi.h"
#include "common/WinText_win.h"
#include "optimize/OptimizeIt.h"

#include <cstdio>
#include <exception>
#include <string>

namespace {

void Say(const std::string& text) {
  const std::string bytes = Utf8ToAnsi(text) + "\r\n";
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2 || !*argv[1]) {
    Say("usage: SpeedUndo <program folder>");
    return ERROR_INVALID_PARAMETER;
  }
  InstallResStringSource();
  const std::string dir = WideToUtf8(argv[1]);
  const DWORD attributes = ::GetFileAttributesW(argv[1]);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    // A missing folder would read as "nothing changed": say so instead of claiming success.
    Say("The folder \"" + dir + "\" does not exist.");
    return 1;
  }
  try {
    TOptimizeIt engine(dir, SystemRegistry(), SystemRestoreFileSystem());
    engine.UndoAll();
  } catch (const std::exception& e) {
    Say(e.what());
    return 1;
  }
  return 0;
}
