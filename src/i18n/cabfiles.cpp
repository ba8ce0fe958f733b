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

std::string WithBackslash(std::string_view dir) {
  std::string out(dir);
  if (!out.empty() && !IsSeparator(out.back())) out += '\\';
  return out;
}

}  // namespace

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
    if (ClimbsUp(name.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
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
