// The string table: every visible text is looked up by section and English key (portable).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Turns the bytes of a file in the system ANSI code page into UTF-8.
using TAnsiDecoder = std::function<std::string(std::string_view)>;

// One profile (INI) file, read by the rules of the system's profile reader, so that a string
// table reads here exactly as GetPrivateProfileStringA reads it.
class TProfileFile {
 public:
  // Room of the section-name list and of one section's key-name list, zero bytes included.
  static constexpr size_t kListLimit = 16384;
  // Longest translation kept, in bytes.
  static constexpr size_t kValueLimit = 2047;

  // Parses text that is already UTF-8: "[name]" lines open sections, "key=value" lines define
  // keys, blanks around keys and values are dropped, lines starting with ";" are comments.
  static TProfileFile Parse(std::string_view text);

  // Section names in file order, as many whole names as fit into kListLimit.
  std::vector<std::string> SectionNames() const;
  // Keys of the first section of that name (letter case ignored) in file order, lines without
  // "=" and comments left out, as many whole names as fit into kListLimit.
  std::vector<std::string> KeyNames(std::string_view section) const;
  // The first definition of key in that section, without one pair of enclosing matching
  // quotes, cut to kValueLimit bytes; empty when there is none.
  std::string Value(std::string_view section, std::string_view key) const;

 private:
  struct TEntry {
    std::string Name;
    std::string Value;
    bool HasValue = false;
  };
  struct TSection {
    std::string Name;
    std::vector<TEntry> Entries;
  };
  const TSection* Find(std::string_view section) const;

  std::vector<TSection> FSections;
};

// The merged translations of the chosen language.
class TStringTable {
 public:
  // An empty table; Decoder turns ANSI files into UTF-8 (none: bytes are taken as they are).
  explicit TStringTable(TAnsiDecoder decoder = {});

  // The translation of key in section (both matched without regard to ASCII letter case),
  // or the key itself when there is none. Never fails; safe from several reading threads.
  std::string GetText(std::string_view section, std::string_view key) const;
  // Merges the string-table file at path (UTF-8 path); a missing or unreadable file adds
  // nothing. A later file's translation replaces an earlier one; an empty one removes it.
  void LoadFile(const std::string& path);
  // Merges the content of one string-table file given as its bytes; a leading UTF-8
  // byte-order mark marks UTF-8, anything else is ANSI text.
  void LoadText(std::string_view bytes);
  // Empties the table.
  void Clear();

  // The sections in order, each with its key and translation pairs in order (for checks).
  struct TSection {
    std::string Name;
    std::vector<std::pair<std::string, std::string>> Lines;
  };
  const std::vector<TSection>& Sections() const { return FSections; }

 private:
  TSection& SectionFor(std::string_view name);
  void Merge(const TProfileFile& file);

  TAnsiDecoder FDecoder;
  std::vector<TSection> FSections;
};

// The process-wide table; exists from InitializeStringTableModule to the module's end.
extern std::unique_ptr<TStringTable> gStringTable;

// Creates the empty gStringTable, reading ANSI files in the system code page; runs once
// before the main routine (Windows build).
void InitializeStringTableModule();
