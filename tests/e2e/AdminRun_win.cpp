#include "e2e/AdminRun_win.h"

#include "common/WinApi.h"
#include "common/WinText_win.h"
#include "e2e/RegistryGuard_win.h"

#include <filesystem>
#include <stdexcept>

namespace {

namespace fs = std::filesystem;

fs::path PathOf(const std::string& utf8) { return fs::path(Utf8ToWide(utf8)); }

std::string AdministratorDir() { return TestBinDir() + "admin-run\\"; }

// Wine's per-program library choice. WINEDLLOVERRIDES would do the same from a shell, but a
// Wine process hands its children the variable of its own Unix environment, not the one it
// sets with SetEnvironmentVariable, so a test cannot choose it for one child that way.
constexpr const char* kOverridesKey = "\\Software\\Wine\\AppDefaults\\eBrisko.exe\\DllOverrides";
constexpr const char* kOverrideName = "netapi32";

void PutOverride(const std::string& value) {
  HKEY key = nullptr;
  const std::wstring path = Utf8ToWide(std::string(kOverridesKey).substr(1));
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
    throw std::runtime_error("cannot write the library override");
  const std::wstring text = Utf8ToWide(value);
  const LONG rc = ::RegSetValueExW(key, Utf8ToWide(kOverrideName).c_str(), 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(text.c_str()),
                                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(key);
  if (rc != ERROR_SUCCESS) throw std::runtime_error("cannot write the library override");
}

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
  PlaceStandIn(AdministratorDir());
  return AdministratorDir();
}

void PlaceStandIn(const std::string& folder) {
  fs::copy_file(PathOf(TestBinDir()) / ".." / "standin" / "netapi32.dll",
                PathOf(folder) / "netapi32.dll", fs::copy_options::overwrite_existing);
}

void RemoveAdministratorCopy() {
  std::error_code ignored;
  fs::remove_all(PathOf(AdministratorDir()), ignored);
}

std::string AdministratorProgram() { return AdministratorDir() + "eBrisko.exe"; }

TDriverProcess StartAsAdministrator(const std::string& args) {
  if (!fs::exists(PathOf(AdministratorProgram())))
    throw std::runtime_error("no administrator copy at " + AdministratorDir());
  return StartProgramAsAdministrator(AdministratorProgram(), args);
}

TDriverProcess StartProgramAsAdministrator(const std::string& program, const std::string& args) {
  // Native first, then Wine's own: only a program with the stand-in beside it (this copy)
  // loads it, so the override harms no other start even while it is set.
  TRegistryGuard guard({{true, kOverridesKey, kOverrideName}});
  PutOverride("native,builtin");
  TDriverProcess process = TDriverProcess::Start(program, args);
  // The library is chosen while the program loads its imports, before it first waits for
  // input; a program that ends before that has made its choice as well.
  process.WaitInputIdle(30000);
  return process;
}
