#include "i18n/StringTable.h"

#include "common/FileSystem.h"
#include "common/TextUtil.h"

#include <optional>

std::unique_ptr<TStringTable> gStringTable;

namespace {

// The profile reader's notion of white space: the ASCII spaces and the end-of-file mark.
bool IsProfileSpace(char c) noexcept {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == 0x1a;
}

std::string_view TrimProfileSpace(std::string_view s) noexcept {
  while (!s.empty() && IsProfileSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsProfileSpace(s.back())) s.remove_suffix(1);
  return s;
}

// Limits count characters, as the system reader does; for 8-bit text that is bytes.
bool IsLeadByte(char c) noexcept { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }

size_t CharCount(std::string_view s) noexcept {
  size_t n = 0;
  for (char c : s) n += IsLeadByte(c) ? 1 : 0;
  return n;
}

std::string_view CharPrefix(std::string_view s, size_t chars) noexcept {
  size_t seen = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if (IsLeadByte(s[i]) && seen++ == chars) return s.substr(0, i);
  }
  return s;
}

// Names as they would fill a zero-separated list of kListLimit characters: a name that would
// be cut, and every one after it, is left out.
std::vector<std::string> FitIntoList(std::vector<std::string> names) {
  size_t room = TProfileFile::kListLimit;
  size_t kept = 0;
  for (const std::string& name : names) {
    const size_t need = CharCount(name) + 1;
    if (need + 1 > room) break;
    room -= need;
    ++kept;
  }
  names.resize(kept);
  return names;
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

}  // namespace

TProfileFile TProfileFile::Parse(std::string_view text) {
  TProfileFile file;
  file.FSections.push_back({});  // keys before the first section line belong to no section
  while (!text.empty()) {
    const size_t eol = text.find('\n');
    std::string_view line = TrimProfileSpace(text.substr(0, eol));
    text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
    if (line.empty()) continue;

    if (line.front() == '[') {
      const size_t close = line.rfind(']');
      if (close != std::string_view::npos) {
        file.FSections.push_back({std::string(TrimProfileSpace(line.substr(1, close - 1))), {}});
        continue;
      }
      // Without "]" the line is read as a key line, as the system reader does.
    }
    TEntry entry;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      entry.Name = std::string(line);
    } else {
      entry.Name = std::string(TrimProfileSpace(line.substr(0, eq)));
      entry.Value = std::string(TrimProfileSpace(line.substr(eq + 1)));
      entry.HasValue = true;
    }
    file.FSections.back().Entries.push_back(std::move(entry));
  }
  return file;
}

const TProfileFile::TSection* TProfileFile::Find(std::string_view section) const {
  section = TrimProfileSpace(section);
  if (section.empty()) return nullptr;
  for (const TSection& s : FSections)
    if (SameText(s.Name, section)) return &s;
  return nullptr;
}

std::vector<std::string> TProfileFile::SectionNames() const {
  std::vector<std::string> names;
  for (const TSection& s : FSections)
    if (!s.Name.empty()) names.push_back(s.Name);
  return FitIntoList(std::move(names));
}

std::vector<std::string> TProfileFile::KeyNames(std::string_view section) const {
  std::vector<std::string> names;
  if (const TSection* s = Find(section)) {
    for (const TEntry& e : s->Entries) {
      if (!e.HasValue || (!e.Name.empty() && e.Name.front() == ';')) continue;
      // An empty name would end the zero-separated list early; it names no text anyway.
      if (e.Name.empty()) continue;
      names.push_back(e.Name);
    }
  }
  return FitIntoList(std::move(names));
}

std::string TProfileFile::Value(std::string_view section, std::string_view key) const {
  const TSection* s = Find(section);
  if (!s) return {};
  key = TrimProfileSpace(key);
  for (const TEntry& e : s->Entries) {
    if (!SameText(e.Name, key)) continue;
    // The first line of that name decides, also when it has no "=" and so no value.
    std::string_view v = e.Value;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
      v = v.substr(1, v.size() - 2);
    return std::string(CharPrefix(v, kValueLimit));
  }
  return {};
}

TStringTable::TStringTable(TAnsiDecoder decoder) : FDecoder(std::move(decoder)) {}

std::string TStringTable::GetText(std::string_view section, std::string_view key) const {
  for (const TSection& s : FSections) {
    if (!SameText(s.Name, section)) continue;
    for (const auto& [k, translation] : s.Lines)
      if (SameText(k, key)) return translation;
    break;  // the first section of that name answers alone
  }
  return std::string(key);
}

void TStringTable::LoadFile(const std::string& path) {
  if (const std::optional<std::string> bytes = ReadFileBytes(path)) LoadText(*bytes);
}

void TStringTable::LoadText(std::string_view bytes) {
  if (bytes.starts_with(kUtf8Bom)) {
    Merge(TProfileFile::Parse(bytes.substr(kUtf8Bom.size())));
  } else if (FDecoder) {
    Merge(TProfileFile::Parse(FDecoder(bytes)));
  } else {
    Merge(TProfileFile::Parse(bytes));
  }
}

void TStringTable::Clear() { FSections.clear(); }

TStringTable::TSection& TStringTable::SectionFor(std::string_view name) {
  for (TSection& s : FSections)
    if (SameText(s.Name, name)) return s;
  FSections.push_back({std::string(name), {}});
  return FSections.back();
}

void TStringTable::Merge(const TProfileFile& file) {
  for (const std::string& sectionName : file.SectionNames()) {
    TSection& section = SectionFor(sectionName);
    for (const std::string& key : file.KeyNames(sectionName)) {
      std::string translation = file.Value(sectionName, key);
      auto line = section.Lines.begin();
      while (line != section.Lines.end() && !SameText(line->first, key)) ++line;
      if (translation.empty()) {
        if (line != section.Lines.end()) section.Lines.erase(line);
      } else if (line != section.Lines.end()) {
        *line = {key, std::move(translation)};
      } else {
        section.Lines.emplace_back(key, std::move(translation));
      }
    }
  }
}
