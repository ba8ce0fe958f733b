#include "help/hh.h"

#include "common/RawRegistry.h"

std::string FindHelpControl(IRawRegistry& reg,
                            const std::function<bool(const std::string&)>& fileExists) {
  TRegHandle key = 0;
  if (reg.OpenKey(kHkeyClassesRoot, kHelpControlKey, kKeyRead, key) != kErrorSuccess) return {};
  TRegValue value;
  const long rc = reg.QueryValue(key, "", value);
  reg.CloseKey(key);
  if (rc != kErrorSuccess || (value.Type != kRegSz && value.Type != kRegExpandSz)) return {};
  std::string path = value.Data;
  if (!path.empty() && !fileExists(path)) return {};
  return path;
}
