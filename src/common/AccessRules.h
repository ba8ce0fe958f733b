// Who may do what with the installed programs: the security descriptors the setup gives the
// service KLService and the program folder, and the steps that apply them over a port.
// Elevated programs run from the program folder and the service runs as SYSTEM, so neither
// may be changed by an ordinary user; starting the service stays open to interactive users.
#pragma once

#include <cstdint>
#include <string>

// The service: Windows' default entries for a new service (SYSTEM, Administrators, interactive
// and service users), with start (RP) added for interactive users. Stopping (WP), pausing
// (DT), changing (DC, WD, WO) and deleting (SD) stay with SYSTEM and Administrators.
inline constexpr const char* kServiceSddl =
    "D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)"
    "(A;;CCLCSWRPLOCRRC;;;IU)(A;;CCLCSWLOCRRC;;;SU)";

// The program folder, as Program Files has it: SYSTEM and Administrators full control, Users
// read and execute, for the folder and all it will hold; protected (P), so nothing the parent
// allows is inherited.
inline constexpr const char* kProgramFolderSddl =
    "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// What is at a path.
enum class TPathKind { Missing, EmptyFolder, Folder, NotFolder, Unreadable };

// The system calls behind the steps (real in AccessRules_win.cpp, faked in the tests).
class IAccessPort {
 public:
  virtual ~IAccessPort() = default;
  // What is at path (a full path without a trailing separator).
  virtual TPathKind Kind(const std::string& path) = 0;
  // Creates the folder path (its parent exists) with the descriptor sddl; 0 or an error code.
  virtual uint32_t CreateFolder(const std::string& path, const std::string& sddl) = 0;
  // Replaces the access list of the existing folder path by sddl's (protected); 0 or an error.
  virtual uint32_t SetFolderAccess(const std::string& path, const std::string& sddl) = 0;
  // Replaces the access list of the installed service name by sddl's; 0 or an error code.
  virtual uint32_t SetServiceAccess(const std::string& name, const std::string& sddl) = 0;
  // The system's text for an error code.
  virtual std::string ErrorText(uint32_t code) = 0;
};

// Outcome of a step: exit code 0 done, 1 a system call failed, 2 refused; the reason otherwise.
struct TAccessOutcome {
  int ExitCode = 0;
  std::string Reason;
};

// Makes folder the new program folder: refuses a path that is not a full local or network
// path, names something else than a folder, or a folder that holds anything (files of unknown
// origin are never taken over); creates the folder and each missing parent with
// kProgramFolderSddl, or gives an existing empty folder those rights.
TAccessOutcome PrepareProgramFolder(IAccessPort& port, const std::string& folder);

// Gives the installed service name the rights of kServiceSddl.
TAccessOutcome GrantServiceAccess(IAccessPort& port, const std::string& name);

// The port over the real system (Windows only).
IAccessPort& SystemAccessPort();
