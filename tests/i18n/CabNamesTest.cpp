#include "i18n/cabfiles.h"

#include <gtest/gtest.h>

namespace {

TEST(CabNames, OnlyNamesBelowTheTargetAreSafe) {
  struct Case {
    const char* name;
    bool safe;
  } cases[] = {
      {"strtab.ini", true},
      {"html\\Quor-eBrisko.htm", true},
      {"a/b/c.txt", true},
      {"..name.txt", true},  // dots inside a name climb nothing
      {"", false},
      {"..\\evil.txt", false},
      {"sub\\..\\..\\evil.txt", false},
      {"sub/../evil.txt", false},
      {"sub\\...\\evil.txt", false},  // the system drops trailing dots: "..." is ".."
      {"sub\\.. \\evil.txt", false},
      {"..", false},
      {"C:\\Windows\\evil.dll", false},
      {"C:evil.txt", false},
      {"name.txt:stream", false},
      {"\\rooted.txt", false},
      {"/rooted.txt", false},
      {"\\\\server\\share\\x", false},
      // Device names, in any folder and with any extension, trailing dots or blanks.
      {"CON", false},
      {"nul", false},
      {"AUX.txt", false},
      {"sub\\COM1.txt", false},
      {"CON\\x.txt", false},
      {"lpt9.ini.bak", false},
      {"PRN.", false},
      {"NUL .txt", false},
      {"COM3 ", false},
      {"conin$", false},
      {"CONOUT$.log", false},
      {"COM\xC2\xB9.txt", false},
      {"CONSOLE.txt", true},  // only the exact device names
      {"COM10.txt", true},
      {"COM.txt", true},
      {"xNUL.txt", true},
      {"sub\\LPT.ini", true},
      {"CON x.txt", true},
  };
  for (const Case& c : cases) EXPECT_EQ(IsSafeArchiveName(c.name), c.safe) << c.name;
}

TEST(CabNames, TargetNamesKeepTheFolderPart) {
  TCABFile cab;
  cab.TargetPath = "C:\\pool";
  EXPECT_EQ(cab.TargetName("sub\\x.txt"), "C:\\pool\\sub\\x.txt");
  EXPECT_EQ(cab.TargetFolder("sub\\x.txt"), "C:\\pool\\sub\\");
  cab.TargetPath = "C:\\pool\\";
  EXPECT_EQ(cab.TargetFolder("x.txt"), "C:\\pool\\");
  cab.TargetPath.clear();
  EXPECT_EQ(cab.TargetName("sub\\x.txt"), "sub\\x.txt");
  EXPECT_EQ(cab.TargetFolder("x.txt"), "");
}

TEST(CabNames, DecodesDosDateAndTime) {
  // 2024-03-05 14:07:36: date (44 << 9) | (3 << 5) | 5, time (14 << 11) | (7 << 5) | 18.
  EXPECT_EQ(DecodeDosDateTime((44 << 9) | (3 << 5) | 5, (14 << 11) | (7 << 5) | 18),
            (TCABDateTime{2024, 3, 5, 14, 7, 36}));
}

}  // namespace
