#include "i18n/cabfiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

TEST(PoolOrder, NamesSortAsAnNtfsFolderListsThem) {
  // Upper case first, then ordinal: "_" (0x5F) follows the letters, "[" and "^" fall between.
  std::vector<std::string> names = {"strtab_eBrisko.ini", "strtabFix.ini", "STRTAB.ini",
                                    "strtab[1].ini",      "strtab^.ini",   "strtab1.ini",
                                    "strtabz.ini",        "strtab\xC3\xA9.ini"};
  std::sort(names.begin(), names.end(), PrecedesInFolderListing);
  EXPECT_EQ(names, (std::vector<std::string>{"STRTAB.ini", "strtab1.ini", "strtabFix.ini",
                                             "strtabz.ini", "strtab[1].ini", "strtab^.ini",
                                             "strtab_eBrisko.ini", "strtab\xC3\xA9.ini"}));
}

TEST(PoolOrder, ComparesUtf16UnitsAndKeepsInvalidBytesInOrder) {
  // U+FF21 (three UTF-8 bytes) comes after a supplementary character (four bytes) in UTF-8
  // but before it in UTF-16, where the latter is a surrogate pair from 0xD800.
  EXPECT_TRUE(PrecedesInFolderListing("\xF0\x9F\x98\x80", "\xEF\xBC\xA1"));
  EXPECT_FALSE(PrecedesInFolderListing("\xEF\xBC\xA1", "\xF0\x9F\x98\x80"));
  EXPECT_FALSE(PrecedesInFolderListing("abc", "ABC"));
  EXPECT_FALSE(PrecedesInFolderListing("ABC", "abc"));
  // A stray or cut-off byte stands for the code unit of its value: 0x80 and 0xC3 before U+00E9.
  EXPECT_TRUE(PrecedesInFolderListing("a\x80", "a\xC3\xA9"));
  EXPECT_TRUE(PrecedesInFolderListing("a\xC3", "a\xC3\xA9"));
  EXPECT_FALSE(PrecedesInFolderListing("a\xC3\xA9", "a\xC3"));
}

}  // namespace
