// Puts registry values a test changes back as they were: each value (kind and data) or its
// absence, and removes the keys the test made that did not exist before.
#pragma once

#include "common/RawRegistry.h"

#include <optional>
#include <string>
#include <vector>

class TRegistryGuard {
 public:
  // One value: root (the user's when CurrentUser, else the machine's), key path with a
  // leading "\" and value name (empty: the key's default value).
  struct TId {
    bool CurrentUser;
    std::string Key;
    std::string Name;
  };

  // Notes the values and which of their keys exist, on the machine's registry.
  explicit TRegistryGuard(std::vector<TId> ids);
  // Puts everything back.
  ~TRegistryGuard();
  TRegistryGuard(const TRegistryGuard&) = delete;
  TRegistryGuard& operator=(const TRegistryGuard&) = delete;

 private:
  struct TSaved {
    TId Id;
    bool KeyExisted;
    std::optional<TRegValue> Value;
  };
  std::vector<TSaved> FSaved;
  // The outermost missing key above or at each value's key, as (root, path).
  std::vector<std::pair<bool, std::string>> FMissingKeys;
};
