// An in-memory registry for the native tests: keys and values with case-insensitive names,
// handles with access checks, and switches that refuse opens or fail writes.
#pragma once

#include "common/RawRegistry.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class TFakeRegistry final : public IRawRegistry {
 public:
  // One OpenKey or CreateKey call as the accessor made it.
  struct TOpenCall {
    std::string Path;  // full path such as "HKLM\Software\Quor"
    uint32_t Access;
    bool Create;
    bool operator==(const TOpenCall&) const = default;
  };

  long OpenKey(TRegHandle parent, std::string_view subKey, uint32_t access,
               TRegHandle& out) override;
  long CreateKey(TRegHandle parent, std::string_view subKey, uint32_t access,
                 TRegHandle& out) override;
  void CloseKey(TRegHandle key) override;
  long QueryValue(TRegHandle key, std::string_view name, TRegValue& out) override;
  long SetValue(TRegHandle key, std::string_view name, uint32_t type,
                std::string_view data) override;
  long EnumValueNames(TRegHandle key, std::vector<std::string>& names) override;
  long DeleteKeyTree(TRegHandle parent, std::string_view subKey) override;
  long DeleteValue(TRegHandle key, std::string_view name) override;
  long DeleteKey(TRegHandle parent, std::string_view subKey) override;

  // Refuses, with ERROR_ACCESS_DENIED, every open or create of path (any path when empty)
  // asking for exactly access.
  void DenyAccess(std::string_view path, uint32_t access);
  // Makes every later SetValue fail with code (kErrorSuccess switches it off).
  void FailSetValue(long code) { FSetValueError = code; }

  // Creates the key at path with its parents.
  void AddKey(std::string_view path);
  // Stores a REG_SZ value (creating the key).
  void PutString(std::string_view path, std::string_view name, std::string_view value);
  // Stores a REG_DWORD value (creating the key).
  void PutDword(std::string_view path, std::string_view name, uint32_t value);
  // The value stored at path, if any.
  std::optional<TRegValue> Value(std::string_view path, std::string_view name) const;
  // Whether the key at path exists.
  bool HasKey(std::string_view path) const;
  // The paths of every key, in lower case, sorted.
  std::vector<std::string> KeyPaths() const;
  // The open and create calls made so far, in order.
  const std::vector<TOpenCall>& Opens() const { return FOpens; }
  // How many handles are open now.
  size_t OpenHandleCount() const { return FHandles.size(); }

 private:
  struct TKey {
    std::map<std::string, std::pair<std::string, TRegValue>> Values;  // by lower-case name
  };
  struct THandle {
    std::string Path;     // lower case
    std::string Display;  // as the caller spelled it
    uint32_t Access;
  };

  long Open(TRegHandle parent, std::string_view subKey, uint32_t access, bool create,
            TRegHandle& out);
  // The key and access behind a handle; null when the handle or its key is gone.
  TKey* Lookup(TRegHandle key, uint32_t& access, long& error);
  std::optional<std::string> PathOf(TRegHandle key) const;

  std::map<std::string, TKey> FKeys;  // by lower-case full path
  std::map<TRegHandle, THandle> FHandles;
  std::vector<std::pair<std::string, uint32_t>> FDenied;
  std::vector<TOpenCall> FOpens;
  TRegHandle FNextHandle = 0x1000;
  long FSetValueError = kErrorSuccess;
};
