// The raw registry port on the Win32 registry W functions.
#include "common/RawRegistry.h"

#include "common/WinApi.h"
#include "common/WinText_win.h"

#include <cstring>
#include <cwchar>
#include <vector>

namespace {

// Predefined roots travel as their 32-bit values; as HKEY they are sign-extended.
HKEY ToHkey(TRegHandle key) {
  if (key >= 0x80000000u && key <= 0x800000FFu)
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG>(key)));
  return reinterpret_cast<HKEY>(key);
}

bool IsPredefined(TRegHandle key) { return key >= 0x80000000u && key <= 0x800000FFu; }

bool IsStringType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

class TWinRegistry final : public IRawRegistry {
 public:
  long OpenKey(TRegHandle parent, std::string_view subKey, uint32_t access,
               TRegHandle& out) override {
    HKEY key = nullptr;
    const LONG rc = ::RegOpenKeyExW(ToHkey(parent), Utf8ToWide(subKey).c_str(), 0, access, &key);
    if (rc == ERROR_SUCCESS) out = reinterpret_cast<TRegHandle>(key);
    return rc;
  }

  long CreateKey(TRegHandle parent, std::string_view subKey, uint32_t access,
                 TRegHandle& out) override {
    HKEY key = nullptr;
    const LONG rc = ::RegCreateKeyExW(ToHkey(parent), Utf8ToWide(subKey).c_str(), 0, nullptr,
                                      REG_OPTION_NON_VOLATILE, access, nullptr, &key, nullptr);
    if (rc == ERROR_SUCCESS) out = reinterpret_cast<TRegHandle>(key);
    return rc;
  }

  void CloseKey(TRegHandle key) override {
    if (key != 0 && !IsPredefined(key)) ::RegCloseKey(ToHkey(key));
  }

  long QueryValue(TRegHandle key, std::string_view name, TRegValue& out) override {
    const std::wstring wname = Utf8ToWide(name);
    std::vector<BYTE> data(256);
    DWORD type = REG_NONE;
    LONG rc = ERROR_MORE_DATA;
    // The value may grow between the two calls; ask again until it fits.
    while (rc == ERROR_MORE_DATA) {
      DWORD size = static_cast<DWORD>(data.size());
      rc = ::RegQueryValueExW(ToHkey(key), wname.c_str(), nullptr, &type, data.data(), &size);
      if (rc == ERROR_MORE_DATA) {
        data.resize(size > data.size() ? size : data.size() * 2);
      } else if (rc == ERROR_SUCCESS) {
        data.resize(size);
      }
    }
    if (rc != ERROR_SUCCESS) return rc;
    out.Type = type;
    if (IsStringType(type)) {
      std::wstring text(data.size() / sizeof(wchar_t), L'\0');
      if (!text.empty()) std::memcpy(text.data(), data.data(), text.size() * sizeof(wchar_t));
      // A stored string may or may not carry its terminator; lists keep their inner zeros.
      if (type == REG_MULTI_SZ) {
        while (!text.empty() && text.back() == L'\0') text.pop_back();
      } else {
        text.resize(std::wcslen(text.c_str()));
      }
      out.Data = WideToUtf8(text);
    } else {
      out.Data.assign(reinterpret_cast<const char*>(data.data()), data.size());
    }
    return ERROR_SUCCESS;
  }

  long SetValue(TRegHandle key, std::string_view name, uint32_t type,
                std::string_view data) override {
    const std::wstring wname = Utf8ToWide(name);
    if (IsStringType(type)) {
      std::wstring text = Utf8ToWide(data);
      text.push_back(L'\0');
      if (type == REG_MULTI_SZ) text.push_back(L'\0');
      return ::RegSetValueExW(ToHkey(key), wname.c_str(), 0, type,
                              reinterpret_cast<const BYTE*>(text.data()),
                              static_cast<DWORD>(text.size() * sizeof(wchar_t)));
    }
    return ::RegSetValueExW(ToHkey(key), wname.c_str(), 0, type,
                            reinterpret_cast<const BYTE*>(data.data()),
                            static_cast<DWORD>(data.size()));
  }

  long EnumValueNames(TRegHandle key, std::vector<std::string>& names) override {
    DWORD count = 0;
    DWORD maxLen = 0;
    LONG rc = ::RegQueryInfoKeyW(ToHkey(key), nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, &count, &maxLen, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    std::vector<wchar_t> buf(maxLen + 1);
    names.clear();
    for (DWORD i = 0;; ++i) {
      DWORD len = static_cast<DWORD>(buf.size());
      rc = ::RegEnumValueW(ToHkey(key), i, buf.data(), &len, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
      if (rc == ERROR_MORE_DATA) {  // a longer name was added meanwhile
        buf.resize(buf.size() * 2);
        --i;
        continue;
      }
      if (rc != ERROR_SUCCESS) return rc;
      names.push_back(WideToUtf8(std::wstring_view(buf.data(), len)));
    }
  }

  long DeleteKeyTree(TRegHandle parent, std::string_view subKey) override {
    // With a subkey name the tree delete removes that key itself as well.
    return ::RegDeleteTreeW(ToHkey(parent), Utf8ToWide(subKey).c_str());
  }

  long DeleteValue(TRegHandle key, std::string_view name) override {
    return ::RegDeleteValueW(ToHkey(key), Utf8ToWide(name).c_str());
  }

  long DeleteKey(TRegHandle parent, std::string_view subKey) override {
    // Not the tree delete: a key that holds subkeys is refused, and so kept.
    return ::RegDeleteKeyW(ToHkey(parent), Utf8ToWide(subKey).c_str());
  }
};

}  // namespace

IRawRegistry& SystemRegistry() {
  static TWinRegistry registry;
  return registry;
}
