// The raw registry as a port: the few key and value calls the registry accessor is built on
// (portable interface). Numbers are those of the Win32 registry, so the Windows adapter passes
// them through unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// An open key, or one of the predefined root keys below.
using TRegHandle = std::uintptr_t;

// Predefined root keys (their 32-bit values).
inline constexpr TRegHandle kHkeyClassesRoot = 0x80000000u;
inline constexpr TRegHandle kHkeyCurrentUser = 0x80000001u;
inline constexpr TRegHandle kHkeyLocalMachine = 0x80000002u;
inline constexpr TRegHandle kHkeyUsers = 0x80000003u;

// Access masks.
inline constexpr uint32_t kKeyQueryValue = 0x0001;
inline constexpr uint32_t kKeySetValue = 0x0002;
inline constexpr uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr uint32_t kKeyEnumerateSubKeys = 0x0008;
inline constexpr uint32_t kKeyWow64_64Key = 0x0100;
inline constexpr uint32_t kStandardRightsRead = 0x00020000;
inline constexpr uint32_t kKeyRead = 0x00020019;
inline constexpr uint32_t kKeyAllAccess = 0x000F003F;

// Value types.
inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;

// Result codes (Win32 error numbers).
inline constexpr long kErrorSuccess = 0;
inline constexpr long kErrorFileNotFound = 2;
inline constexpr long kErrorAccessDenied = 5;
inline constexpr long kErrorInvalidHandle = 6;
inline constexpr long kErrorInvalidParameter = 87;
inline constexpr long kErrorKeyDeleted = 1018;

// One value as read: string types as UTF-8 text without the terminating zero, every other
// type as its raw bytes.
struct TRegValue {
  uint32_t Type = kRegNone;
  std::string Data;
};

// The registry calls the accessor needs. Key and value names are UTF-8; every call returns a
// Win32 error number (kErrorSuccess on success).
class IRawRegistry {
 public:
  virtual ~IRawRegistry() = default;
  // Opens subKey below parent with access; the handle goes to out.
  virtual long OpenKey(TRegHandle parent, std::string_view subKey, uint32_t access,
                       TRegHandle& out) = 0;
  // Opens subKey below parent with access, creating it and its missing parents first.
  virtual long CreateKey(TRegHandle parent, std::string_view subKey, uint32_t access,
                         TRegHandle& out) = 0;
  // Closes a handle from OpenKey or CreateKey; root keys are left alone.
  virtual void CloseKey(TRegHandle key) = 0;
  // Reads the value name (empty: the key's default value) of key.
  virtual long QueryValue(TRegHandle key, std::string_view name, TRegValue& out) = 0;
  // Writes the value name of key; for string types data is UTF-8 text.
  virtual long SetValue(TRegHandle key, std::string_view name, uint32_t type,
                        std::string_view data) = 0;
  // The names of all values of key.
  virtual long EnumValueNames(TRegHandle key, std::vector<std::string>& names) = 0;
  // Deletes subKey below parent with all its subkeys and values.
  virtual long DeleteKeyTree(TRegHandle parent, std::string_view subKey) = 0;
  // Deletes the value name of key.
  virtual long DeleteValue(TRegHandle key, std::string_view name) = 0;
  // Deletes subKey below parent with its values when it has no subkeys of its own (refused,
  // with kErrorAccessDenied, when it has).
  virtual long DeleteKey(TRegHandle parent, std::string_view subKey) = 0;
};

// The machine's registry (Windows build only).
IRawRegistry& SystemRegistry();
