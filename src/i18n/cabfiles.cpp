#include "i18n/cabfiles.h"

#include "common/TextUtil.h"

namespace {

bool IsSeparator(char c) noexcept { return c == '\\' || c == '/'; }

// The system drops trailing dots and blanks of a path part, so ". ." or "..." can climb
// like "..".
bool ClimbsUp(std::string_view part) noexcept {
  int dots = 0;
  for (char c : part) {
    if (c == '.') ++dots;
    else if (c != ' ') return false;
  }
  return dots >= 2;
}

bool IsDigitOrSuperscript(std::string_view s) noexcept {
  // The system takes the superscript digits 1, 2 and 3 (ANSI and UTF-8) for digits here too.
  if (s.size() == 1)
    return (s[0] >= '0' && s[0] <= '9') || s == "\xB9" || s == "\xB2" || s == "\xB3";
  return s == "\xC2\xB9" || s == "\xC2\xB2" || s == "\xC2\xB3";
}

std::string WithBackslash(std::string_view dir) {
  std::string out(dir);
  if (!out.empty() && !IsSeparator(out.back())) out += '\\';
  return out;
}

// The UTF-16 code units of a UTF-8 name with ASCII letters in upper case; bytes that are no
// valid UTF-8 count as single units so that every name still has a place.
std::u16string UpperUtf16(std::string_view s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    const unsigned char lead = static_cast<unsigned char>(s[i]);
    const size_t extra = lead >= 0xF8   ? 9  // no valid lead byte
                         : lead >= 0xF0 ? 3
                         : lead >= 0xE0 ? 2
                         : lead >= 0xC0 ? 1
                                        : 0;
    char32_t cp = lead & (extra ? 0x7F >> (extra + 1) : 0x7F);
    bool valid = (lead < 0x80 || extra > 0) && extra < 4 && i + extra < s.size();
    for (size_t k = 1; valid && k <= extra; ++k) {
      const unsigned char next = static_cast<unsigned char>(s[i + k]);
      valid = (next & 0xC0) == 0x80;
      cp = (cp << 6) | (next & 0x3F);
    }
    if (!valid || cp > 0x10FFFF) {
      out += static_cast<char16_t>(lead);
      ++i;
      continue;
    }
    i += 1 + extra;
    if (cp >= 'a' && cp <= 'z') cp -= 'a' - 'A';
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

}  // namespace

bool PrecedesInFolderListing(std::string_view a, std::string_view b) {
  return UpperUtf16(a) < UpperUtf16(b);
}

TCABDateTime DecodeDosDateTime(uint16_t dosDate, uint16_t dosTime) noexcept {
  TCABDateTime t;
  t.Year = 1980 + (dosDate >> 9);
  t.Month = (dosDate >> 5) & 0x0F;
  t.Day = dosDate & 0x1F;
  t.Hour = dosTime >> 11;
  t.Minute = (dosTime >> 5) & 0x3F;
  t.Second = (dosTime & 0x1F) * 2;
  return t;
}

bool IsSafeArchiveName(std::string_view name) noexcept {
  if (name.empty() || IsSeparator(name.front())) return false;
  if (name.find(':') != std::string_view::npos) return false;  // drive or alternate stream
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    const std::string_view part = name.substr(start, end - start);
    if (ClimbsUp(part) || IsDeviceName(part)) return false;
    start = end + 1;
  }
  return true;
}

bool IsDeviceName(std::string_view part) noexcept {
  // The device is named by what comes before the first dot, without trailing blanks.
  std::string_view base = part.substr(0, part.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  for (std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (SameText(base, device)) return true;
  const std::string_view stem = base.substr(0, 3);
  return base.size() >= 4 && (SameText(stem, "COM") || SameText(stem, "LPT")) &&
         IsDigitOrSuperscript(base.substr(3));
}

std::string ArchiveFolderPart(std::string_view name) {
  size_t cut = name.size();
  while (cut > 0 && !IsSeparator(name[cut - 1])) --cut;
  return std::string(name.substr(0, cut));
}

bool TCABFile::Wants(std::string_view name) const {
  switch (FMode) {
    case TCABMode::cmExtractAll:
      return true;
    case TCABMode::cmExtractFile:
      return SameText(name, FWanted);
    case TCABMode::cmList:
      break;
  }
  return false;
}

std::string TCABFile::TargetName(std::string_view name) const {
  return WithBackslash(TargetPath) + std::string(name);
}

std::string TCABFile::TargetFolder(std::string_view name) const {
  return WithBackslash(TargetPath) + ArchiveFolderPart(name);
}
