#include "e2e/AdminRun_win.h"

#include "common/WinApi.h"
#include "common/WinText_win.h"

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <vector>

namespace {

namespace fs = std::filesystem;

fs::path PathOf(const std::string& utf8) { return fs::path(Utf8ToWide(utf8)); }

std::string AdministratorDir() { return TestBinDir() + "admin-run\\"; }

// The value of an environment variable of this process, if set.
std::optional<std::wstring> Environment(const wchar_t* name) {
  const DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return std::nullopt;
  std::vector<wchar_t> text(size);
  ::GetEnvironmentVariableW(name, text.data(), size);
  return std::wstring(text.data());
}

// Sets an environment variable for the children started meanwhile and puts the old value (or
// its absence) back at the end of the scope.
class TScopedEnvironment {
 public:
  TScopedEnvironment(const wchar_t* name, const std::wstring& value)
      : FName(name), FOld(Environment(name)) {
    ::SetEnvironmentVariableW(name, value.c_str());
  }
  ~TScopedEnvironment() { ::SetEnvironmentVariableW(FName, FOld ? FOld->c_str() : nullptr); }
  TScopedEnvironment(const TScopedEnvironment&) = delete;
  TScopedEnvironment& operator=(const TScopedEnvironment&) = delete;

 private:
  const wchar_t* FName;
  std::optional<std::wstring> FOld;
};

}  // namespace

std::string PrepareAdministratorCopy() {
  const fs::path bin = PathOf(TestBinDir());
  const fs::path dir = PathOf(AdministratorDir());
  // A fresh folder: no restore file or log of an earlier run is taken over.
  fs::remove_all(dir);
  fs::create_directories(dir);
  for (const char* file : {"eBrisko.exe", "ServiceControl.dll", "msgbox.skn"})
    fs::copy_file(bin / file, dir / file);
  fs::copy(bin / "Resources", dir / "Resources", fs::copy_options::recursive);
  fs::copy_file(bin / ".." / "standin" / "netapi32.dll", dir / "netapi32.dll");
  return AdministratorDir();
}

std::string AdministratorProgram() { return AdministratorDir() + "eBrisko.exe"; }

TDriverProcess StartAsAdministrator(const std::string& args) {
  if (!fs::exists(PathOf(AdministratorProgram())))
    throw std::runtime_error("no administrator copy at " + AdministratorDir());
  const std::optional<std::wstring> old = Environment(L"WINEDLLOVERRIDES");
  const std::wstring overrides = (old && !old->empty() ? *old + L";" : std::wstring()) + L"netapi32=n";
  TScopedEnvironment environment(L"WINEDLLOVERRIDES", overrides);
  return TDriverProcess::Start(AdministratorProgram(), args);
}
