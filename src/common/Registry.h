// TRegistry, the general registry accessor every subsystem uses (portable; works on a raw
// registry port).
#pragma once

#include "common/RawRegistry.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The kind of a registry value.
enum class TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

// A root key, one current key below it with its path, and the access mask new keys are
// opened with. Key names starting with "\" are absolute (from the root); others are relative
// to the current key when one is open. Reads and writes act on the current key.
class TRegistry {
 public:
  // An accessor on reg with root HKEY_CURRENT_USER, no current key and full access.
  explicit TRegistry(IRawRegistry& reg, uint32_t access = kKeyAllAccess);
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;
  // Closes the current key.
  virtual ~TRegistry();

  // The root key.
  TRegHandle RootKey() const noexcept { return FRootKey; }
  // Closes the current key and makes root the root key.
  void SetRootKey(TRegHandle root);
  // The open current key, or 0.
  TRegHandle CurrentKey() const noexcept { return FCurrentKey; }
  // The path of the current key below the root, without leading "\"; empty when none is open.
  const std::string& CurrentPath() const noexcept { return FCurrentPath; }
  // The access mask OpenKey uses.
  uint32_t Access() const noexcept { return FAccess; }
  // Sets the access mask OpenKey uses.
  void SetAccess(uint32_t access) noexcept { FAccess = access; }

  // Opens key with the access mask, creating it (and missing parents) when canCreate; on
  // success it becomes the current key. False, with the current key kept, on failure.
  bool OpenKey(std::string_view key, bool canCreate);
  // Opens key for reading, trying read access, then query and enumerate, then query alone; on
  // success the mask that worked becomes the access mask and the key the current key.
  virtual bool OpenKeyReadOnly(std::string_view key);
  // Closes the current key; the path becomes empty.
  void CloseKey();
  // Whether key exists (it may exist without being readable by this user).
  bool KeyExists(std::string_view key);
  // Deletes key with all its subkeys and values; an empty name is refused.
  bool DeleteKey(std::string_view key);

  // The string value name (REG_SZ or REG_EXPAND_SZ); empty when it cannot be read; raises
  // ERegistryException "Invalid data type for '<name>'" when it holds another type.
  std::string ReadString(std::string_view name);
  // Writes name as REG_SZ; raises ERegistryException "Failed to set data for '<name>'".
  void WriteString(std::string_view name, std::string_view value);
  // Writes name as REG_EXPAND_SZ; raises ERegistryException "Failed to set data for '<name>'".
  void WriteExpandString(std::string_view name, std::string_view value);
  // The DWORD value name; raises ERegistryException "Failed to get data for '<name>'" when it
  // cannot be read and "Invalid data type for '<name>'" when it is no DWORD.
  uint32_t ReadInteger(std::string_view name);
  // Writes name as REG_DWORD; raises ERegistryException "Failed to set data for '<name>'".
  void WriteInteger(std::string_view name, uint32_t value);
  // The kind of the value name; rdUnknown when it cannot be read or has another type.
  TRegDataType GetDataType(std::string_view name);
  // The names of the current key's values; empty when none can be listed.
  std::vector<std::string> GetValueNames();
  // Whether the current key holds a value name.
  bool ValueExists(std::string_view name);
  // Deletes the value name of the current key.
  bool DeleteValue(std::string_view name);

 protected:
  // The read-only open shared with the 64-bit accessor; viewFlag joins every mask tried.
  bool OpenKeyReadOnlyWithView(std::string_view key, uint32_t viewFlag);

  IRawRegistry& FReg;

 private:
  // The key a name is resolved from: the current key for a relative name, else the root.
  TRegHandle BaseKey(bool relative) const noexcept;
  // Makes the freshly opened key, reached by name, the current key.
  void ChangeKey(TRegHandle key, bool relative, std::string_view name);

  TRegHandle FRootKey = kHkeyCurrentUser;
  TRegHandle FCurrentKey = 0;
  std::string FCurrentPath;
  uint32_t FAccess;
};
