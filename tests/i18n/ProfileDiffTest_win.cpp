// Our string-table reader against the system's profile reader, on the same files.
#include "common/WinApi.h"

#include <gtest/gtest.h>

#include "support/TestFiles.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/WinText_win.h"
#include "i18n/StringTable.h"

namespace {

using Names = std::vector<std::string>;

// A zero-separated list from the system reader; a list the reader had to cut (it then
// returns size - 2) loses its last, cut name, as ours never keeps a cut name.
Names SplitList(const std::vector<char>& buf, DWORD got, DWORD size) {
  Names names;
  for (DWORD i = 0; i < got && buf[i];) {
    std::string name(&buf[i]);
    i += static_cast<DWORD>(name.size()) + 1;
    names.push_back(std::move(name));
  }
  if (got == size - 2 && !names.empty()) names.pop_back();
  return names;
}

Names SystemSections(const std::string& file) {
  std::vector<char> buf(TProfileFile::kListLimit);
  const DWORD got = ::GetPrivateProfileSectionNamesA(buf.data(), static_cast<DWORD>(buf.size()),
                                                     file.c_str());
  return SplitList(buf, got, static_cast<DWORD>(buf.size()));
}

Names SystemKeys(const std::string& file, const std::string& section) {
  std::vector<char> buf(TProfileFile::kListLimit);
  const DWORD got = ::GetPrivateProfileStringA(section.c_str(), nullptr, "", buf.data(),
                                               static_cast<DWORD>(buf.size()), file.c_str());
  return SplitList(buf, got, static_cast<DWORD>(buf.size()));
}

std::string SystemValue(const std::string& file, const std::string& section,
                        const std::string& key) {
  std::vector<char> buf(TProfileFile::kValueLimit + 1);
  const DWORD got = ::GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buf.data(),
                                               static_cast<DWORD>(buf.size()), file.c_str());
  return std::string(buf.data(), got);
}

Names ToAnsi(const Names& names) {
  Names out;
  for (const std::string& n : names) out.push_back(Utf8ToAnsi(n));
  return out;
}

// Compares every section, key and translation of the file; the system answers in ANSI, we
// in UTF-8.
void ExpectSameAsSystem(const std::string& unixPath) {
  SCOPED_TRACE(unixPath);
  const std::string file = WinPath(unixPath);
  std::string text = ReadBytes(unixPath);
  ASSERT_FALSE(text.empty());
  text = text.starts_with("\xEF\xBB\xBF") ? text.substr(3) : AnsiToUtf8(text);
  const TProfileFile ours = TProfileFile::Parse(text);

  const Names sections = SystemSections(file);
  ASSERT_FALSE(sections.empty());
  EXPECT_EQ(ToAnsi(ours.SectionNames()), sections);
  for (const std::string& section : sections) {
    const std::string ourSection = AnsiToUtf8(section);
    const Names keys = SystemKeys(file, section);
    EXPECT_EQ(ToAnsi(ours.KeyNames(ourSection)), keys) << section;
    for (const std::string& key : keys)
      EXPECT_EQ(Utf8ToAnsi(ours.Value(ourSection, AnsiToUtf8(key))), SystemValue(file, section, key))
          << section << "/" << key;
  }
}

std::string WriteFixture(const std::string& name, const std::string& content) {
  const std::string dir = std::string(QB_BINARY_DIR) + "/i18n-profile";
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/" + name;
  std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
  return path;
}

TEST(ProfileDiff, AgreesOnTheFixtures) {
  ExpectSameAsSystem(std::string(QB_SOURCE_DIR) + "/tests/i18n/fixtures/profile/awkward.ini");
  ExpectSameAsSystem(std::string(QB_SOURCE_DIR) + "/tests/i18n/fixtures/profile/bom.ini");
  ExpectSameAsSystem(std::string(QB_SOURCE_DIR) + "/packs/German/strtab_eBrisko.ini");
  ExpectSameAsSystem(std::string(QB_SOURCE_DIR) + "/packs/English/strtab_eBrisko.ini");
}

TEST(ProfileDiff, AgreesAtTheLimits) {
  // Translations around the 2047-character limit, plain and quoted.
  std::string text = "[Long]\n";
  for (size_t n : {2046u, 2047u, 2048u, 2049u, 5000u})
    text += "plain" + std::to_string(n) + "=" + std::string(n, 'v') + "\n";
  for (size_t n : {2045u, 2046u, 2050u})
    text += "quoted" + std::to_string(n) + "=\"" + std::string(n, 'q') + "\"\n";
  // Key names that overflow one section's list, and section names that overflow the file's.
  text += "[Keys]\n";
  for (int i = 0; i < 200; ++i) {
    std::string key = "key" + std::to_string(1000 + i);
    key.resize(97, 'k');
    text += key + "=value " + std::to_string(i) + "\n";
  }
  for (int i = 0; i < 200; ++i) {
    std::string section = "section" + std::to_string(1000 + i);
    section.resize(90, 's');
    text += "[" + section + "]\nk=" + std::to_string(i) + "\n";
  }
  ExpectSameAsSystem(WriteFixture("limits.ini", text));
}

TEST(ProfileDiff, LoadFileGivesTheSystemReadersTranslations) {
  // The table built by the merge rules from the system reader equals the one LoadFile builds.
  const std::string unixPath = std::string(QB_SOURCE_DIR) + "/tests/i18n/fixtures/profile/awkward.ini";
  const std::string file = WinPath(unixPath);
  TStringTable ours([](std::string_view ansi) { return AnsiToUtf8(ansi); });
  ours.LoadFile(unixPath);
  TStringTable system;
  std::string merged;
  for (const std::string& section : SystemSections(file)) {
    merged += "[" + AnsiToUtf8(section) + "]\n";
    for (const std::string& key : SystemKeys(file, section)) {
      const std::string value = SystemValue(file, section, key);
      if (!value.empty()) merged += AnsiToUtf8(key) + "=\"" + AnsiToUtf8(value) + "\"\n";
    }
  }
  system.LoadText("\xEF\xBB\xBF" + merged);
  ASSERT_EQ(ours.Sections().size(), system.Sections().size());
  for (size_t i = 0; i < ours.Sections().size(); ++i) {
    EXPECT_EQ(ours.Sections()[i].Name, system.Sections()[i].Name);
    EXPECT_EQ(ours.Sections()[i].Lines, system.Sections()[i].Lines) << ours.Sections()[i].Name;
  }
  EXPECT_EQ(ours.GetText("OPTIMIZATION", "gr\xC3\xB6\xC3\x9F" "e"), "Gr\xC3\xB6\xC3\x9F" "e in ANSI");
}

}  // namespace
