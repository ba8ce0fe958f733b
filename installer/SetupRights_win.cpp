// SetupRights.exe: gives the program folder and the service their access rights, for the setup.
//   SetupRights.exe folder "<program folder>"   make the new program folder (see below)
//   SetupRights.exe service <service name>     let interactive users start the service
// The folder is created with the rights Program Files has (or an empty one given them); one
// that holds anything is refused. Exit code 0 done, 1 a system call failed, 2 refused, with
// the reason on standard output in the system's ANSI code page for the setup to show.
#include "common/AccessRules.h"
#include "common/WinApi.h"
#include "common/WinText_win.h"

#include <cstdio>
#include <string>

namespace {

void Say(const std::string& text) {
  const std::string bytes = Utf8ToAnsi(text) + "\r\n";
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc == 3 ? argv[1] : L"";
  if (command != L"folder" && command != L"service") {
    Say("usage: SetupRights folder <program folder> | service <service name>");
    return ERROR_INVALID_PARAMETER;
  }
  const std::string target = WideToUtf8(argv[2]);
  const TAccessOutcome outcome = command == L"folder"
                                     ? PrepareProgramFolder(SystemAccessPort(), target)
                                     : GrantServiceAccess(SystemAccessPort(), target);
  if (!outcome.Reason.empty()) Say(outcome.Reason);
  return outcome.ExitCode;
}
