// What the engine's cases run on: a registry and a file store, in memory natively and the real
// ones under Windows, with the same probes and write counters for both.
#pragma once

#include "common/RawRegistry.h"
#include "optimize/OptimizeIt.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>

// The root of a row, as the engine's currentUser flag names it.
inline constexpr bool HKLM = false;
inline constexpr bool HKCU = true;
// The engine's folder in the in-memory tests, and its two backup files there.
inline const std::string kDir = "C:\\App\\";
inline const std::string kRestorePath = kDir + kRestoreFileName;
inline const std::string kChangedPath = kDir + kChangedFileName;

// A registry and a file store for one test; leaves the real ones as it found them.
class TEngineWorld {
 public:
  virtual ~TEngineWorld() = default;
  virtual IRawRegistry& Registry() = 0;
  virtual IRestoreFileSystem& Files() = 0;
  // The engine's folder, with a trailing separator.
  virtual std::string Dir() = 0;
};

struct TWorldKind {
  std::string Name;
  std::function<std::unique_ptr<TEngineWorld>()> Make;
};
inline void PrintTo(const TWorldKind& kind, std::ostream* os) { *os << kind.Name; }

// Counts the writes and deletes that reach a registry.
class TCountingRegistry final : public IRawRegistry {
 public:
  explicit TCountingRegistry(IRawRegistry& inner) : FInner(inner) {}
  long OpenKey(TRegHandle p, std::string_view s, uint32_t a, TRegHandle& o) override {
    return FInner.OpenKey(p, s, a, o);
  }
  long CreateKey(TRegHandle p, std::string_view s, uint32_t a, TRegHandle& o) override {
    return FInner.CreateKey(p, s, a, o);
  }
  void CloseKey(TRegHandle k) override { FInner.CloseKey(k); }
  long QueryValue(TRegHandle k, std::string_view n, TRegValue& o) override {
    return FInner.QueryValue(k, n, o);
  }
  long SetValue(TRegHandle k, std::string_view n, uint32_t t, std::string_view d) override {
    ++Changes;
    return FInner.SetValue(k, n, t, d);
  }
  long EnumValueNames(TRegHandle k, std::vector<std::string>& n) override {
    return FInner.EnumValueNames(k, n);
  }
  long DeleteKeyTree(TRegHandle p, std::string_view s) override {
    ++Changes;
    return FInner.DeleteKeyTree(p, s);
  }
  long DeleteValue(TRegHandle k, std::string_view n) override {
    ++Changes;
    return FInner.DeleteValue(k, n);
  }
  long DeleteKey(TRegHandle p, std::string_view s) override {
    ++Changes;
    return FInner.DeleteKey(p, s);
  }
  int Changes = 0;

 private:
  IRawRegistry& FInner;
};

// Counts the saves that reach a file store.
class TCountingFiles final : public IRestoreFileSystem {
 public:
  explicit TCountingFiles(IRestoreFileSystem& inner) : FInner(inner) {}
  long ReadText(const std::string& p, std::string& t) override { return FInner.ReadText(p, t); }
  long WriteTextFlushed(const std::string& p, std::string_view t) override {
    ++Saves;
    return FInner.WriteTextFlushed(p, t);
  }
  long ReplaceWith(const std::string& t, const std::string& s) override {
    return FInner.ReplaceWith(t, s);
  }
  long RemoveFile(const std::string& p) override { return FInner.RemoveFile(p); }
  std::string ErrorText(long c) override { return FInner.ErrorText(c); }
  bool CodePageHolds(std::string_view t) override { return FInner.CodePageHolds(t); }
  int Saves = 0;

 private:
  IRestoreFileSystem& FInner;
};

inline TRegHandle RootOf(bool currentUser) {
  return currentUser ? kHkeyCurrentUser : kHkeyLocalMachine;
}
inline std::string_view SubKey(std::string_view keyPath) {
  return keyPath.substr(keyPath.starts_with('\\') ? 1 : 0);
}

// The value name of a catalogue row in the registry ("@" is the default value).
inline std::string RegName(const TTweak& t) {
  return std::string(t.ValueName) == "@" ? std::string() : std::string(t.ValueName);
}

// One value read straight from the registry, if it exists.
inline std::optional<TRegValue> GetValue(IRawRegistry& reg, bool currentUser,
                                         std::string_view keyPath, std::string_view name) {
  TRegHandle key = 0;
  if (reg.OpenKey(RootOf(currentUser), SubKey(keyPath), kKeyRead, key) != kErrorSuccess)
    return std::nullopt;
  TRegValue value;
  const long rc = reg.QueryValue(key, name, value);
  reg.CloseKey(key);
  if (rc != kErrorSuccess) return std::nullopt;
  return value;
}

// Writes one value straight to the registry (creating the key), or deletes it (nullopt).
inline void PutValue(IRawRegistry& reg, bool currentUser, std::string_view keyPath,
                     std::string_view name, const std::optional<TRegValue>& value) {
  TRegHandle key = 0;
  ASSERT_EQ(reg.CreateKey(RootOf(currentUser), SubKey(keyPath), kKeyAllAccess, key), kErrorSuccess);
  if (value) {
    EXPECT_EQ(reg.SetValue(key, name, value->Type, value->Data), kErrorSuccess);
  } else {
    reg.DeleteValue(key, name);
  }
  reg.CloseKey(key);
}

inline TRegValue Sz(std::string text) { return {kRegSz, std::move(text)}; }
inline TRegValue ExpandSz(std::string text) { return {kRegExpandSz, std::move(text)}; }
inline TRegValue Dword(uint32_t v) {
  std::string bytes(4, '\0');
  std::memcpy(bytes.data(), &v, 4);
  return {kRegDword, bytes};
}

inline bool operator==(const TRegValue& a, const TRegValue& b) {
  return a.Type == b.Type && a.Data == b.Data;
}
inline void PrintTo(const TRegValue& v, std::ostream* os) {
  *os << "type " << v.Type << " data ";
  if (v.Type == kRegDword && v.Data.size() == 4) {
    uint32_t n = 0;
    std::memcpy(&n, v.Data.data(), 4);
    *os << n;
  } else {
    *os << '"' << v.Data << '"';
  }
}

// The catalogue's distinct values (the shared one once), by root, key path and name.
using TValueId = std::tuple<bool, std::string, std::string>;
inline std::vector<TValueId> CatalogueValues() {
  std::vector<TValueId> ids;
  for (const TSpeedSwitch s : kAllSpeedSwitches)
    for (const TTweak& t : Catalogue(s)) {
      TValueId id{t.CurrentUser, t.KeyPath, RegName(t)};
      if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
    }
  return ids;
}

// Every catalogue value as it is now.
inline std::map<TValueId, std::optional<TRegValue>> CatalogueState(IRawRegistry& reg) {
  std::map<TValueId, std::optional<TRegValue>> state;
  for (const auto& id : CatalogueValues())
    state[id] = GetValue(reg, std::get<0>(id), std::get<1>(id), std::get<2>(id));
  return state;
}

// Puts every catalogue value back as state holds it.
inline void SetCatalogueState(IRawRegistry& reg,
                              const std::map<TValueId, std::optional<TRegValue>>& state) {
  for (const auto& [id, value] : state) PutValue(reg, std::get<0>(id), std::get<1>(id), std::get<2>(id), value);
}

// The fixture of the cases that run on every world.
class EngineCases : public ::testing::TestWithParam<TWorldKind> {
 protected:
  void SetUp() override {
    FWorld = GetParam().Make();
    FReg = std::make_unique<TCountingRegistry>(FWorld->Registry());
    FFiles = std::make_unique<TCountingFiles>(FWorld->Files());
    // Every case starts from no catalogue value at all.
    std::map<TValueId, std::optional<TRegValue>> none;
    for (const auto& id : CatalogueValues()) none[id] = std::nullopt;
    SetCatalogueState(*FReg, none);
    FReg->Changes = 0;
  }
  TOptimizeIt Engine() { return TOptimizeIt(FWorld->Dir(), *FReg, *FFiles); }
  std::string RestorePath() { return FWorld->Dir() + kRestoreFileName; }
  // The restore file's text; empty when it is missing.
  std::string RestoreText() { return LoadTextFile(FWorld->Files(), RestorePath()); }
  void WriteRestoreText(const std::string& text) {
    ASSERT_EQ(FWorld->Files().WriteTextFlushed(RestorePath(), text), kErrorSuccess);
  }
  std::optional<TRegValue> Get(bool cu, std::string_view path, std::string_view name) {
    return GetValue(*FReg, cu, path, name);
  }
  void Put(bool cu, std::string_view path, std::string_view name, std::optional<TRegValue> v) {
    PutValue(*FReg, cu, path, name, v);
  }

  std::unique_ptr<TEngineWorld> FWorld;
  std::unique_ptr<TCountingRegistry> FReg;
  std::unique_ptr<TCountingFiles> FFiles;
};

// Key paths of the catalogue the cases use.
inline constexpr const char* kPrefetchKey =
    "\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management\\PrefetchParameters";
inline constexpr const char* kSessionKey = "\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline constexpr const char* kControlKey = "\\SYSTEM\\CurrentControlSet\\Control";
inline constexpr const char* kDesktopKey = "\\Control Panel\\Desktop";
inline constexpr const char* kUnloadKey =
    "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\AlwaysUnloadDLL";
inline constexpr const char* kMemoryKey =
    "\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management";
inline constexpr const char* kTcpipKey = "\\SYSTEM\\CurrentControlSet\\Services\\Tcpip";
inline constexpr const char* kTcpParamsKey = "\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";

// The machine of the end-to-end tests before the program touches it: no catalogue value but
// some of the user's own, of several kinds (a text, an expandable text, numbers, all 32 bits).
inline void PlantUsersOwnValues(IRawRegistry& reg) {
  for (const auto& [cu, key, name] : CatalogueValues()) PutValue(reg, cu, key, name, std::nullopt);
  PutValue(reg, true, kDesktopKey, "MenuShowDelay", Sz("400"));
  PutValue(reg, true, kDesktopKey, "WaitToKillAppTimeout", ExpandSz("%WAIT%"));
  PutValue(reg, false, kTcpParamsKey, "DefaultTTL", Dword(64));
  PutValue(reg, false, kSessionKey, "AutoChkTimeOut", Dword(0xffffffffu));
  PutValue(reg, false, kControlKey, "WaitToKillServiceTimeout", Sz("20000"));
}
