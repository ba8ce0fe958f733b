#include "common/WinText_win.h"

#include "common/ResStrings.h"
#include "common/WinApi.h"

#include <cstdio>

namespace {

std::wstring ToWide(UINT cp, std::string_view s) {
  if (s.empty()) return {};
  const int n = ::MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), out.data(), n);
  return out;
}

std::string FromWide(UINT cp, std::wstring_view s) {
  if (s.empty()) return {};
  const int n = ::WideCharToMultiByte(cp, 0, s.data(), static_cast<int>(s.size()), nullptr, 0,
                                      nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  ::WideCharToMultiByte(cp, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr,
                        nullptr);
  return out;
}

}  // namespace

std::wstring Utf8ToWide(std::string_view s) { return ToWide(CP_UTF8, s); }
std::string WideToUtf8(std::wstring_view s) { return FromWide(CP_UTF8, s); }
std::string Utf8ToAnsi(std::string_view s) { return FromWide(CP_ACP, ToWide(CP_UTF8, s)); }
std::string AnsiToUtf8(std::string_view s) { return FromWide(CP_UTF8, ToWide(CP_ACP, s)); }

std::string SystemErrorText(unsigned long code) {
  wchar_t buf[1025] = {};
  const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, buf, 1025, nullptr);
  std::wstring text(buf, n);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r')) text.pop_back();
  return WideToUtf8(text);
}

EOleSysError OleSysError(long hr) {
  std::string text = SystemErrorText(static_cast<unsigned long>(hr));
  if (text.empty()) {
    char number[9];
    std::snprintf(number, sizeof number, "%.8lX", static_cast<unsigned long>(hr));
    text = LoadResStringFmt(rsOleError, {number});
  }
  return EOleSysError(text, hr);
}
