#include "e2e/ServiceEnvironment_win.h"

#include "../../klservice/ServiceControl.h"
#include "common/ScopedHandle_win.h"
#include "common/WinText_win.h"
#include "e2e/Driver_win.h"

#include <gtest/gtest.h>

namespace {

int32_t ServiceAction(int32_t action) {
  TScopedModule dll(::LoadLibraryW(Utf8ToWide(TestBinDir() + kServiceControlDll).c_str()));
  if (!dll) return -1;
  auto set = reinterpret_cast<TSetServiceAction>(
      reinterpret_cast<void*>(::GetProcAddress(dll.get(), "SetServiceAction")));
  if (!set) return -1;
  wchar_t text[kServiceCtlBufferChars] = {};
  return set(action, L"KLService", text);
}

unsigned long RunServiceProgram(const std::string& args) {
  TDriverProcess p = TDriverProcess::Start(TestBinDir() + "KLService.exe", args);
  return p.WaitExit(30000) ? p.ExitCode() : 0xFFFFFFFFul;
}

class TServiceEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    // The prefix may run the service from another folder (the Run command installs the shipped
    // programs): it is stopped, so the test's own service, with its log, is the one that runs.
    StopTestService();
    ASSERT_EQ(RunServiceProgram("--install"), 0u) << "KLService.exe --install";
    ASSERT_TRUE(StartTestService());
  }
  void TearDown() override {
    StopTestService();
    RunServiceProgram("--uninstall");
    SetLanguageSetting("");
  }
};

const auto* const kRegistered = ::testing::AddGlobalTestEnvironment(new TServiceEnvironment);

}  // namespace

bool StartTestService() { return ServiceAction(0) == 0; }
bool StopTestService() { return ServiceAction(1) == 0; }

void SetLanguageSetting(const std::string& language) {
  HKEY key = nullptr;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Quor\\eCentrio", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  TScopedRegKey owned(key);
  if (language.empty()) {
    ::RegDeleteValueW(key, L"Language");
    return;
  }
  const std::wstring value = Utf8ToWide(language);
  ::RegSetValueExW(key, L"Language", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}
