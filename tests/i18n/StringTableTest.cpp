#include "i18n/StringTable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

const char* const kAwkward =
    "; leading comment\n"
    "orphan=before any section\n"
    "[Optimization]\n"
    "  Used  \t=\t Benutzt  \r\n"
    "Free=\"Frei\"\n"
    "Single='Einzeln'\n"
    "Mixed=\"Gemischt'\n"
    "Lonely=\"\n"
    "Inner=\"a\"b\"\n"
    "Formula=a=b=c\n"
    "Dup=first\n"
    "dup=second\n"
    "  ; Hidden=comment\n"
    "NoEquals\n"
    "NoEquals=later\n"
    "Empty=\n"
    "[Broken\n"
    "[Suggestion] trailing text\n"
    "Check=Pruefen\n"
    "[ Spaced ]\n"
    "Inside=spaced\n"
    "[optimization]\n"
    "Later=never seen\n";

TEST(ProfileFile, ReadsLikeTheSystemReader) {
  const TProfileFile f = TProfileFile::Parse(kAwkward);
  EXPECT_EQ(f.SectionNames(), (Names{"Optimization", "Suggestion", "Spaced", "optimization"}));
  // Comments, lines without "=" and the unclosed section line are no keys; a duplicate is
  // listed twice, as the system lists it.
  EXPECT_EQ(f.KeyNames("OPTIMIZATION"), (Names{"Used", "Free", "Single", "Mixed", "Lonely",
                                               "Inner", "Formula", "Dup", "dup", "NoEquals",
                                               "Empty"}));

  struct Case {
    const char* section;
    const char* key;
    const char* value;
  } cases[] = {
      {"Optimization", "Used", "Benutzt"},       // blanks around key and value
      {"Optimization", " used ", "Benutzt"},     // the query is trimmed and case-folded
      {"Optimization", "Free", "Frei"},          // one pair of double quotes
      {"Optimization", "Single", "Einzeln"},     // one pair of single quotes
      {"Optimization", "Mixed", "\"Gemischt'"},  // quotes that do not match stay
      {"Optimization", "Lonely", "\""},
      {"Optimization", "Inner", "a\"b"},
      {"Optimization", "Formula", "a=b=c"},      // only the first "=" splits
      {"Optimization", "DUP", "first"},          // first definition wins
      {"Optimization", "NoEquals", ""},          // the line without "=" shadows the later one
      {"Optimization", "Empty", ""},
      {"Optimization", "Hidden", ""},
      {"Optimization", "Later", ""},             // a repeated section is never reached
      {"Suggestion", "Check", "Pruefen"},        // text after "]" is ignored
      {"spaced", "Inside", "spaced"},            // blanks inside the brackets are dropped
      {"Missing", "Used", ""},
      {"", "orphan", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(f.Value(c.section, c.key), c.value) << c.section << "/" << c.key;
}

TEST(ProfileFile, CutsAtTheReaderLimits) {
  const std::string longValue(3000, 'x');
  EXPECT_EQ(TProfileFile::Parse("[S]\nk=" + longValue).Value("S", "k"),
            std::string(TProfileFile::kValueLimit, 'x'));
  // Characters, not bytes, are counted: 2047 umlauts of two bytes each survive.
  std::string umlauts;
  for (int i = 0; i < 2100; ++i) umlauts += "\xC3\xA4";
  EXPECT_EQ(TProfileFile::Parse("[S]\nk=" + umlauts).Value("S", "k").size(), 2 * 2047u);

  // 100-character names take 101 places each: 162 fit into 16384 with the final zero byte,
  // the 163rd would be cut and is dropped whole.
  std::string text = "[S]\n";
  for (int i = 0; i < 170; ++i) {
    std::string name = std::to_string(1000 + i);
    name.resize(100, 'k');
    text += name + "=v\n";
  }
  const Names keys = TProfileFile::Parse(text).KeyNames("S");
  ASSERT_EQ(keys.size(), 162u);
  EXPECT_EQ(keys.back().substr(0, 4), "1161");
}

TEST(StringTable, EmptyTableAnswersWithTheKey) {
  TStringTable table;
  EXPECT_EQ(table.GetText("Optimization", "Used"), "Used");
  EXPECT_EQ(table.GetText("", ""), "");
  EXPECT_EQ(table.GetText("Hint", "HEX"), "HEX");
}

TEST(StringTable, LooksUpWithoutLetterCaseAndNeverTrims) {
  TStringTable table;
  table.LoadText("[Optimization]\nUsed=Benutzt\n Records = Eintraege\nFormula=a=b\nQ=\"x\"\n");
  EXPECT_EQ(table.GetText("optimization", "used"), "Benutzt");
  EXPECT_EQ(table.GetText("Optimization", "Formula"), "a=b");
  EXPECT_EQ(table.GetText("Optimization", "Q"), "x");
  // The file's key is trimmed to "Records": the program's " Records" never matches it.
  EXPECT_EQ(table.GetText("Optimization", " Records"), " Records");
  EXPECT_EQ(table.GetText("Optimization", "Records"), "Eintraege");
  EXPECT_EQ(table.GetText("Suggestion", "Used"), "Used");
}

TEST(StringTable, LaterFilesReplaceAndEmptyTranslationsRemove) {
  TStringTable table;
  table.LoadText("[Optimization]\nFree=Frei\nUsed=Benutzt\nApply=Anwenden\n");
  table.LoadText("[OPTIMIZATION]\nfree=Verfuegbar\nUsed=\nNew=Neu\n[General]\nOK=Gut\n");
  EXPECT_EQ(table.GetText("Optimization", "Free"), "Verfuegbar");
  EXPECT_EQ(table.GetText("Optimization", "Used"), "Used");
  EXPECT_EQ(table.GetText("Optimization", "Apply"), "Anwenden");
  EXPECT_EQ(table.GetText("Optimization", "New"), "Neu");
  EXPECT_EQ(table.GetText("General", "OK"), "Gut");
  // The section keeps the name it was first read under; replaced lines keep their place.
  ASSERT_EQ(table.Sections().size(), 2u);
  EXPECT_EQ(table.Sections()[0].Name, "Optimization");
  EXPECT_EQ(table.Sections()[0].Lines.front().first, "free");

  table.Clear();
  EXPECT_EQ(table.GetText("Optimization", "Free"), "Free");
}

TEST(StringTable, ByteOrderMarkMeansUtf8AndAnsiGoesThroughTheDecoder) {
  int decoded = 0;
  TStringTable table([&](std::string_view ansi) {
    ++decoded;
    std::string out;
    for (unsigned char c : ansi) {  // Latin-1 is enough to see the conversion happen
      if (c < 0x80) {
        out += static_cast<char>(c);
      } else {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    return out;
  });
  table.LoadText("\xEF\xBB\xBF[S]\nOK=Gr\xC3\xBC\xC3\x9F" "e\n");
  EXPECT_EQ(decoded, 0);
  EXPECT_EQ(table.GetText("S", "OK"), "Gr\xC3\xBC\xC3\x9F" "e");
  table.LoadText("[S]\nFree=fr\xFC" "h\n");
  EXPECT_EQ(decoded, 1);
  EXPECT_EQ(table.GetText("S", "Free"), "fr\xC3\xBC" "h");
}

TEST(StringTable, MissingFileAddsNothing) {
  TStringTable table;
  table.LoadFile(std::string(QB_BINARY_DIR) + "/no/such/strtab.ini");
  EXPECT_TRUE(table.Sections().empty());
}

}  // namespace
