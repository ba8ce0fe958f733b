// KLService.exe installed in this prefix's service manager, started and stopped through
// ServiceControl.dll, answering on loopback, its schedule surviving a restart.
#include "klservice/ServiceControl.h"

#include "common/WinApi.h"

#include "LineClient_win.h"
#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Not the usual port: other build trees on this machine may run their own service on it.
constexpr uint16_t kTestPort = 28904;

std::wstring BinDir() {
  std::string dir = std::string("Z:") + QB_BINARY_DIR + "/bin/";
  for (char& c : dir)
    if (c == '/') c = '\\';
  return Utf8ToWide(dir);
}

// Runs KLService.exe with args and gives its exit code.
DWORD RunService(const std::wstring& args) {
  std::wstring command = L"\"" + BinDir() + L"KLService.exe\" " + args;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &pi))
    return ::GetLastError();
  TScopedHandle process(pi.hProcess), thread(pi.hThread);
  ::WaitForSingleObject(process.get(), 30000);
  DWORD code = 1;
  ::GetExitCodeProcess(process.get(), &code);
  return code;
}

// Wine 8 starts a second services.exe when "wineboot -i" runs in a session that already has
// one; both answer the service-manager pipe in turn, each with its own database, so a service
// created through one is unknown to the other and its start times out. Ends every service
// manager of this prefix but the first, and gives how many were ended.
int EndDuplicateServiceManagers() {
  TScopedHandle snap(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snap) return 0;
  struct TFound {
    DWORD Pid;
    ULONGLONG Created;
  };
  std::vector<TFound> found;
  PROCESSENTRY32W pe{};
  pe.dwSize = sizeof pe;
  for (BOOL ok = ::Process32FirstW(snap.get(), &pe); ok; ok = ::Process32NextW(snap.get(), &pe)) {
    if (::lstrcmpiW(pe.szExeFile, L"services.exe") != 0) continue;
    TScopedHandle p(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pe.th32ProcessID));
    FILETIME created{}, exited, kernel, user;
    if (p) ::GetProcessTimes(p.get(), &created, &exited, &kernel, &user);
    found.push_back({pe.th32ProcessID,
                     (ULONGLONG(created.dwHighDateTime) << 32) | created.dwLowDateTime});
  }
  if (found.size() < 2) return 0;
  std::sort(found.begin(), found.end(),
            [](const TFound& a, const TFound& b) { return a.Created < b.Created; });
  int ended = 0;
  for (size_t i = 1; i < found.size(); ++i) {
    TScopedHandle p(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, found[i].Pid));
    if (p && ::TerminateProcess(p.get(), 1)) {
      ::WaitForSingleObject(p.get(), 5000);
      ++ended;
    }
  }
  return ended;
}

class KLServiceEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    dll.reset(::LoadLibraryW((BinDir() + L"ServiceControl.dll").c_str()));
    ASSERT_TRUE(dll);
    getStatus = reinterpret_cast<TGetServiceStatus>(
        reinterpret_cast<void*>(::GetProcAddress(dll.get(), "GetServiceStatus")));
    setAction = reinterpret_cast<TSetServiceAction>(
        reinterpret_cast<void*>(::GetProcAddress(dll.get(), "SetServiceAction")));
    ASSERT_TRUE(getStatus && setAction);
    if (const int n = EndDuplicateServiceManagers())
      std::printf("ended %d duplicate services.exe of this prefix\n", n);
    RunService(L"--uninstall");  // left over from an interrupted run
  }
  void TearDown() override { RunService(L"--uninstall"); }
  uint32_t Status(int32_t* rc = nullptr) {
    uint32_t status = 0xFFFFFFFF;
    const int32_t r = getStatus(&status, L"KLService", L"");
    if (rc) *rc = r;
    return status;
  }
  int32_t Action(int32_t action) {
    wchar_t text[kServiceCtlBufferChars] = L"x";
    const int32_t rc = setAction(action, L"KLService", text);
    lastText = WideToUtf8(text);
    return rc;
  }

  TWinsockScope winsock;
  TScopedModule dll;
  TGetServiceStatus getStatus = nullptr;
  TSetServiceAction setAction = nullptr;
  std::string lastText;
};

TEST_F(KLServiceEndToEnd, MissingServiceIsReportedStopped) {
  int32_t rc = 0;
  EXPECT_EQ(Status(&rc), 1u);
  EXPECT_EQ(rc, ERROR_SERVICE_DOES_NOT_EXIST);
  EXPECT_EQ(Action(0), ERROR_SERVICE_DOES_NOT_EXIST);
  EXPECT_EQ(lastText, "not installed");
  EXPECT_EQ(Action(7), ERROR_INVALID_PARAMETER);
}

TEST_F(KLServiceEndToEnd, InstalledServiceAnswersAndKeepsItsScheduleAcrossARestart) {
  ASSERT_EQ(RunService(L"--install --port " + std::to_wstring(kTestPort)), 0u);
  int32_t rc = -1;
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(Status(&rc), 1u);
    // Each query opens the service manager anew; a prefix in which a second services.exe
    // answers (a "wineboot -i" on a running session) gives either manager's view in turn.
    ASSERT_EQ(rc, 0) << "the service manager of this prefix does not know the new service";
  }

  ASSERT_EQ(Action(0), 0) << lastText;
  EXPECT_EQ(lastText, "running");
  EXPECT_EQ(Status(), 4u);
  {
    TLineClient client(kTestPort);  // accepting as soon as the start returned
    ASSERT_TRUE(client.Connected());
    EXPECT_EQ(client.Ask("GetInfo 0,\"module.optimize\",\"optimi.free.getconf\",nocache=true"),
              "0,Enabled=0,Period=60");
    EXPECT_EQ(client.Ask("GetInfo 1,\"module.optimize\",\"optimi.free.setconf\","
                         "\"nocache=true,Enabled=-1,Period=5\""),
              "1,Enabled=-1,Period=5");
    EXPECT_EQ(client.Ask("GetInfo 2,\"module.optimize\",\"optimi.free\",nocache=true").substr(0, 10),
              "2,FreedMB=");
    EXPECT_EQ(client.Ask("GetInfo 3,\"module.optimize\",\"optimize.memory.usage\",nocache=true")
                  .substr(0, 8),
              "3,count=");

    ASSERT_EQ(Action(1), 0) << lastText;
    EXPECT_EQ(Status(), 1u);
    std::string line;
    EXPECT_FALSE(client.ReadLine(line));
    EXPECT_TRUE(client.ClosedByPeer()) << "stopping closes the connections";
  }
  ASSERT_EQ(Action(0), 0) << lastText;
  TLineClient client(kTestPort);
  EXPECT_EQ(client.Ask("GetInfo 4,\"module.optimize\",\"optimi.free.getconf\",nocache=true"),
            "4,Enabled=-1,Period=5");
  EXPECT_EQ(Action(0), 0) << "starting a running service is no error";

  EXPECT_EQ(RunService(L"--uninstall"), 0u);
  EXPECT_EQ(Status(&rc), 1u);
  EXPECT_EQ(rc, ERROR_SERVICE_DOES_NOT_EXIST);
  TScopedRegKey params;
  EXPECT_NE(::RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                            L"SYSTEM\\CurrentControlSet\\Services\\KLService\\Parameters", 0,
                            KEY_READ, params.put()),
            ERROR_SUCCESS)
      << "the schedule goes with the service";
}

}  // namespace
