// Accounts for the engine's tests on the in-memory registry: each account's values live under
// HKEY_USERS\<SID>; the running account is chosen by the test, others are reached by lease
// unless made unreachable (header-only).
#pragma once

#include "fakes/FakeRegistry.h"
#include "optimize/OptimizeIt.h"

#include <map>
#include <set>
#include <string>

class TFakeUserHives final : public IUserHives {
 public:
  TFakeUserHives(TFakeRegistry& reg, std::string current) : Current(std::move(current)), FReg(reg) {}
  ~TFakeUserHives() override {
    for (const auto& [sid, key] : FRoots) FReg.CloseKey(key);
  }

  std::string CurrentUserSid() override { return Current; }
  TRegHandle CurrentUserRoot() override {
    TRegHandle& root = FRoots[Current];
    if (!root) FReg.CreateKey(kHkeyUsers, Current, kKeyAllAccess, root);
    return root;
  }
  std::unique_ptr<TLease> OpenUserRoot(const std::string& sid, std::string& error) override {
    TRegHandle key = 0;
    if (Unreachable.count(sid) || FReg.OpenKey(kHkeyUsers, sid, kKeyAllAccess, key) != kErrorSuccess) {
      error = "The profile of " + sid + " cannot be loaded.";
      return nullptr;
    }
    Leased.push_back(sid);
    return std::make_unique<TFakeLease>(FReg, key);
  }

  std::string Current;
  // Accounts whose hive cannot be reached.
  std::set<std::string> Unreachable;
  // The accounts leased so far, in order.
  std::vector<std::string> Leased;

 private:
  class TFakeLease final : public TLease {
   public:
    TFakeLease(TFakeRegistry& reg, TRegHandle key) : FReg(reg), FKey(key) {}
    ~TFakeLease() override { FReg.CloseKey(FKey); }
    TRegHandle Root() const override { return FKey; }

   private:
    TFakeRegistry& FReg;
    TRegHandle FKey;
  };
  TFakeRegistry& FReg;
  std::map<std::string, TRegHandle> FRoots;
};
