#include "common/ResStrings_win.h"

#include "common/ResStrings.h"
#include "common/WinApi.h"
#include "common/WinText_win.h"

std::string LoadEnglishResString(unsigned id) {
  // With a zero length the loader hands out a read-only pointer into the resource itself.
  const wchar_t* text = nullptr;
  const int len = ::LoadStringW(::GetModuleHandleW(nullptr), id,
                                reinterpret_cast<LPWSTR>(&text), 0);
  if (len <= 0 || text == nullptr) return std::string();
  return WideToUtf8(std::wstring(text, static_cast<size_t>(len)));
}

void InstallResStringSource() { SetResStringSource(&LoadEnglishResString); }
