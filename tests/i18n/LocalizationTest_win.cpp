// Start-up of the language: the real packs through the pool into the string table.
#include "common/WinApi.h"

#include <gtest/gtest.h>

#include "support/TestFiles.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "common/WinText_win.h"
#include "i18n/Localization.h"
#include "i18n/StringTable.h"

namespace {

namespace fs = std::filesystem;

class TCountingClock final : public IClock {
 public:
  int64_t NowMs() override { return FNow; }
  void SleepMs(uint32_t ms) override { FNow += ms; }
  int64_t FNow = 0;
};

class TCountingPump final : public IMessagePump {
 public:
  void ProcessMessages() override { ++FCalls; }
  int FCalls = 0;
};

// The module's globals as start-up leaves them, over a work folder of the test's own and a
// Resources folder with the built packs and the fixture packs.
class Localization : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string base = std::string(QB_BINARY_DIR) + "/i18n-localization/" +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(base);
    FWorkUnix = base + "/work";
    FResourcesUnix = base + "/Resources";
    fs::create_directories(FWorkUnix);
    fs::create_directories(FResourcesUnix);
    const std::string built = std::string(QB_BINARY_DIR) + "/bin/Resources/";
    const std::string fixtures = std::string(QB_BINARY_DIR) + "/tests/i18n/fixtures/";
    fs::copy_file(built + "German_eBrisko.lpk", FResourcesUnix + "/German_eBrisko.lpk");
    fs::copy_file(built + "English_eBrisko.lpk", FResourcesUnix + "/English_eBrisko.lpk");
    fs::copy_file(fixtures + "two.cab", FResourcesUnix + "/Two_eBrisko.lpk");
    fs::copy_file(fixtures + "nostrtab.cab", FResourcesUnix + "/Bare_eBrisko.lpk");
    fs::copy_file(fixtures + "devices.cab", FResourcesUnix + "/Devices_eBrisko.lpk");
    gStringTable = std::make_unique<TStringTable>([](std::string_view a) { return AnsiToUtf8(a); });
  }
  void TearDown() override { FinalizeLocalizationModule(); }

  void Start(const std::string& pack, const std::string& workDir) {
    gLocalization = std::make_unique<TLocalization>(WinPath(FResourcesUnix), workDir, WinPath(FWorkUnix),
                                                    FClock, FPump);
    gLocalization->SetLanguage(pack);
  }
  std::string Pool() const { return WinPath(FWorkUnix) + "\\__LanguageFiles\\"; }

  std::string FWorkUnix, FResourcesUnix;
  TCountingClock FClock;
  TCountingPump FPump;
};

TEST_F(Localization, GermanPackShowsGermanTexts) {
  Start("German_eBrisko", WinPath(FWorkUnix));
  ASSERT_TRUE(gFilePool);
  EXPECT_EQ(gLocalization->PackName(), "German_eBrisko.lpk");
  EXPECT_EQ(gStringTable->GetText("Optimization", "Used"), "Belegt");
  EXPECT_EQ(gStringTable->GetText("optimization", "apply"), "\xC3\x9C" "bernehmen");
  EXPECT_EQ(gStringTable->GetText("TcpClient", "Service stopped"), "Dienst beendet");
  EXPECT_EQ(gStringTable->GetText("Suggestion", "You should upgrade your memory."),
            "Sie sollten den Arbeitsspeicher erweitern.");
  EXPECT_EQ(gStringTable->GetText("General", "Failed to set data for 'Optimization'"),
            "Daten f\xC3\xBCr 'Optimization' konnten nicht geschrieben werden");
  EXPECT_EQ(gStringTable->GetText("Optimization", " Records"), " Records");
  EXPECT_EQ(gFilePool->GetFileName("EHELP_eBrisko.CHM"), Pool() + "EHELP_eBrisko.CHM");
  EXPECT_TRUE(fs::is_regular_file(FWorkUnix + "/__LanguageFiles/EHELP_eBrisko.CHM"));
  EXPECT_EQ(gFilePool->GetFileName("missing.txt"), "");
  EXPECT_EQ(FClock.FNow, 0);  // no wait on the way
}

TEST_F(Localization, EnglishPackLeavesEveryTextAsItIs) {
  Start("English_eBrisko", WinPath(FWorkUnix));
  ASSERT_TRUE(gFilePool);
  EXPECT_EQ(gStringTable->GetText("Optimization", "Used"), "Used");
  EXPECT_EQ(gStringTable->GetText("Suggestion", "Memory Usage Check"), "Memory Usage Check");
}

TEST_F(Localization, MissingPackLeavesEnglishAndNoPool) {
  Start("Klingon_eBrisko", WinPath(FWorkUnix));
  EXPECT_FALSE(gFilePool);
  EXPECT_EQ(gLocalization->PackName(), "");
  EXPECT_EQ(gStringTable->GetText("Optimization", "Used"), "Used");
  EXPECT_FALSE(fs::exists(FWorkUnix + "/__LanguageFiles"));
}

TEST_F(Localization, StringTablesMergeInNameOrderTheLaterWinning) {
  Start("Two_eBrisko", WinPath(FWorkUnix));
  EXPECT_EQ(gStringTable->GetText("Optimization", "Free"), "Verfuegbar");  // strtab2 wins
  EXPECT_EQ(gStringTable->GetText("Optimization", "Used"), "Benutzt");
  std::vector<std::string> tables;
  gFilePool->FindFiles("STRTAB*", tables);
  EXPECT_EQ(tables, (std::vector<std::string>{Pool() + "strtab1.ini", Pool() + "strtab2.ini"}));
}

TEST_F(Localization, DeviceNamedEntriesAreSkippedAndTablesMergeInWindowsOrder) {
  // The pack holds "CON", "NUL", "AUX.txt", "sub\COM1.txt", "PRN.", "CONOUT$" and "LPT1 .ini"
  // ahead of "strtab_eBrisko.ini", "strtabFix.ini" and "keep.txt".
  Start("Devices_eBrisko", WinPath(FWorkUnix));
  ASSERT_TRUE(gFilePool);
  std::set<std::string> pooled;
  for (const auto& e : fs::recursive_directory_iterator(FWorkUnix + "/__LanguageFiles"))
    pooled.insert(fs::relative(e.path(), FWorkUnix + "/__LanguageFiles").generic_string());
  EXPECT_EQ(pooled, (std::set<std::string>{"strtab_eBrisko.ini", "strtabFix.ini", "keep.txt"}));
  std::vector<std::string> tables;
  gFilePool->FindFiles(kStringTableMask, tables);
  EXPECT_EQ(tables, (std::vector<std::string>{Pool() + "strtabFix.ini",
                                              Pool() + "strtab_eBrisko.ini"}));
  // On Windows "strtab_eBrisko.ini" is listed last, so its text wins over the fix table's.
  EXPECT_EQ(gStringTable->GetText("Optimization", "Free"), "Frei");
  EXPECT_EQ(gStringTable->GetText("Optimization", "Used"), "Belegt");
  EXPECT_EQ(gStringTable->GetText("Optimization", "Total"), "Gesamt");
}

TEST_F(Localization, PackWithoutStringTablesLeavesTheTableEmpty) {
  Start("Bare_eBrisko", WinPath(FWorkUnix));
  ASSERT_TRUE(gFilePool);
  EXPECT_TRUE(gStringTable->Sections().empty());
  EXPECT_EQ(gFilePool->GetFileName("readme.txt"), Pool() + "readme.txt");
}

TEST_F(Localization, FurtherPacksJoinThePoolOnce) {
  Start("Two_eBrisko", WinPath(FWorkUnix));
  const std::string german = WinPath(FResourcesUnix) + "\\German_eBrisko.lpk";
  EXPECT_TRUE(gFilePool->AddPack(german));
  EXPECT_FALSE(gFilePool->AddPack(german));
  std::string upper = german;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_FALSE(gFilePool->AddPack(upper));
  EXPECT_FALSE(gFilePool->AddPack(WinPath(FResourcesUnix) + "\\None_eBrisko.lpk"));
  EXPECT_EQ(gFilePool->GetFileName("EHELP_eBrisko.CHM"), Pool() + "EHELP_eBrisko.CHM");

  // Opening the German pack by name merges its tables over the earlier ones.
  gLocalization->SetLanguage("German_eBrisko");
  EXPECT_EQ(gStringTable->GetText("Optimization", "Free"), "Frei");
  EXPECT_EQ(gLocalization->PackName(), "German_eBrisko.lpk");
}

TEST_F(Localization, EmptyWorkFolderPutsThePoolIntoTheFallbackFolder) {
  Start("German_eBrisko", "");
  ASSERT_TRUE(gFilePool);
  EXPECT_EQ(gFilePool->PoolDir(), Pool());
  EXPECT_EQ(gStringTable->GetText("Optimization", "Free"), "Frei");
}

TEST_F(Localization, UnmakeablePoolFolderExtractsOnDemandIntoTemp) {
  // A file where the work folder should be: the pool folder cannot be made below it.
  const std::string blocker = FWorkUnix + "/blocker";
  std::ofstream(blocker) << "not a folder";
  Start("German_eBrisko", WinPath(blocker));
  ASSERT_TRUE(gFilePool);
  EXPECT_FALSE(gFilePool->Extracted());
  EXPECT_TRUE(gStringTable->Sections().empty());  // no pool folder, no string tables

  const std::string help = gFilePool->GetFileName("EHELP_eBrisko.CHM");
  wchar_t temp[MAX_PATH + 1] = {};
  ASSERT_GT(::GetTempPathW(MAX_PATH + 1, temp), 0u);
  EXPECT_EQ(help, WideToUtf8(temp) + "EHELP_eBrisko.CHM");
  EXPECT_NE(::GetFileAttributesW(Utf8ToWide(help).c_str()), INVALID_FILE_ATTRIBUTES);
  ::DeleteFileW(Utf8ToWide(help).c_str());
}

// A later start finds the pool as an earlier one left it: a file that is there with the pack's
// size and stored date is taken as it is; any other difference has the pack unpacked again.
TEST_F(Localization, ALaterStartUnpacksOnlyAPoolThatDiffersFromThePack) {
  const std::string table = FWorkUnix + "/__LanguageFiles/strtab1.ini";
  auto content = [&] {
    std::ifstream in(table, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  // Rewrites the table with text of the same length and puts its date back.
  auto sameSizeAndDate = [&] {
    const auto date = fs::last_write_time(table);
    std::string text = content();
    for (char& c : text)
      if (c == 'e') c = 'E';
    std::ofstream(table, std::ios::binary | std::ios::trunc) << text;
    fs::last_write_time(table, date);
  };
  const struct {
    const char* Case;
    std::function<void()> Change;
    bool Unpacked;
  } cases[] = {
      {"untouched", [] {}, false},
      {"same size and date", sameSizeAndDate, false},
      {"other size", [&] { std::ofstream(table, std::ios::app) << "; more\r\n"; }, true},
      {"other date", [&] { fs::last_write_time(table, fs::last_write_time(table) + std::chrono::hours(3)); }, true},
      {"missing", [&] { fs::remove(table); }, true},
  };
  // Each start in a process of its own: the module's globals begin empty.
  auto restart = [] {
    FinalizeLocalizationModule();
    gStringTable = std::make_unique<TStringTable>([](std::string_view a) { return AnsiToUtf8(a); });
  };
  for (const auto& c : cases) {
    restart();
    fs::remove_all(FWorkUnix + "/__LanguageFiles");
    Start("Two_eBrisko", WinPath(FWorkUnix));
    const std::string packed = content();
    ASSERT_FALSE(packed.empty()) << c.Case;
    restart();

    c.Change();
    const std::string before = fs::exists(table) ? content() : std::string();
    Start("Two_eBrisko", WinPath(FWorkUnix));
    ASSERT_TRUE(gFilePool) << c.Case;
    EXPECT_TRUE(gFilePool->Extracted()) << c.Case;
    EXPECT_EQ(content(), c.Unpacked ? packed : before) << c.Case;
    // Either way the tables are read from the pool.
    EXPECT_EQ(gStringTable->GetText("Optimization", "Free"), "Verfuegbar") << c.Case;
  }
}

}  // namespace

namespace {

// The entry points as start-up calls them: the empty table first, the localization at step 5,
// the language at step 7, the release at the end.
TEST_F(Localization, ModuleEntryPointsBringUpAndReleaseTheLanguage) {
  FinalizeLocalizationModule();
  InitializeStringTableModule();
  ASSERT_TRUE(gStringTable);
  EXPECT_EQ(gStringTable->GetText("Optimization", "Used"), "Used");
  CreateLocalization(WinPath(FResourcesUnix), WinPath(FWorkUnix));
  ASSERT_TRUE(gLocalization);
  EXPECT_FALSE(gFilePool);
  gLocalization->SetLanguage("German_eBrisko");
  EXPECT_EQ(gStringTable->GetText("Optimization", "Temporary Internet Files"),
            "Tempor\xC3\xA4re Internetdateien");
  FinalizeLocalizationModule();
  EXPECT_FALSE(gLocalization);
  EXPECT_FALSE(gStringTable);
  EXPECT_FALSE(gFilePool);
  EXPECT_TRUE(fs::is_regular_file(FWorkUnix + "/__LanguageFiles/strtab_eBrisko.ini"));
}

}  // namespace
