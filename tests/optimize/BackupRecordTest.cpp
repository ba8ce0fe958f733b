// The record of changed values and what undo may write from it, on the in-memory registry:
// its text form, damaged and mismatched backups, the record of an earlier version, accounts,
// and the randomized round trip with user edits and two accounts.
#include "fakes/FakeRegistry.h"
#include "fakes/FakeRestoreFiles.h"
#include "fakes/FakeUserHives.h"
#include "optimize/OptimizeWorld.h"
#include "optimize/SpeedStates.h"

#include "common/Errors.h"
#include "common/TextUtil.h"

#include <gmock/gmock.h>

#include <random>

namespace {

const std::string kSidA = "S-1-5-21-7-1001";
const std::string kSidB = "S-1-5-21-7-1002";

// Every key and value of the registry, by lower-case path and name; the product's own key
// (the stored states) aside.
using TRegSnapshot = std::map<std::string, std::map<std::string, TRegValue>>;
TRegSnapshot Snapshot(TFakeRegistry& reg) {
  TRegSnapshot snap;
  for (const std::string& path : reg.KeyPaths()) {
    if (path.find("\\software\\quor") != std::string::npos) continue;
    const size_t slash = path.find('\\');
    if (slash == std::string::npos) continue;  // the roots themselves
    const std::string root = path.substr(0, slash);
    const TRegHandle base = root == "hklm" ? kHkeyLocalMachine : root == "hku" ? kHkeyUsers : kHkeyCurrentUser;
    TRegHandle key = 0;
    if (reg.OpenKey(base, path.substr(slash + 1), kKeyRead, key) != kErrorSuccess) continue;
    auto& values = snap[path];
    std::vector<std::string> names;
    reg.EnumValueNames(key, names);
    for (const std::string& n : names) {
      TRegValue v;
      reg.QueryValue(key, n, v);
      values[LowerAscii(n)] = v;
    }
    reg.CloseKey(key);
  }
  return snap;
}

// A catalogue row or the option, under the machine or an account's hive.
struct TSlot {
  bool CurrentUser;
  std::string KeyPath;
  std::string Name;
  std::string Text;  // what the program writes there
};
std::vector<TSlot> Slots() {
  std::vector<TSlot> slots;
  for (const TSpeedSwitch s : kAllSpeedSwitches)
    for (const TTweak& t : Catalogue(s)) slots.push_back({t.CurrentUser, t.KeyPath, RegName(t), t.ValueText});
  slots.push_back({HKLM, kBootDefragKey, kBootDefragValue, "Y"});
  return slots;
}

// Where a slot lives for an account: HKLM, or HKU\<sid>.
std::string SlotKey(const TSlot& s, const std::string& sid) {
  return s.CurrentUser ? "\\" + sid + s.KeyPath : s.KeyPath;
}
TRegHandle SlotRoot(const TSlot& s) { return s.CurrentUser ? kHkeyUsers : kHkeyLocalMachine; }

std::optional<TRegValue> Read(IRawRegistry& reg, TRegHandle root, std::string_view key, std::string_view name) {
  TRegHandle k = 0;
  if (reg.OpenKey(root, SubKey(key), kKeyRead, k) != kErrorSuccess) return std::nullopt;
  TRegValue v;
  const long rc = reg.QueryValue(k, name, v);
  reg.CloseKey(k);
  return rc == kErrorSuccess ? std::optional(v) : std::nullopt;
}

// Sets a value (creating its key) or deletes it (keeping a missing key missing).
void Edit(IRawRegistry& reg, TRegHandle root, std::string_view key, std::string_view name,
          const std::optional<TRegValue>& value) {
  TRegHandle k = 0;
  if (value) {
    ASSERT_EQ(reg.CreateKey(root, SubKey(key), kKeyAllAccess, k), kErrorSuccess);
    reg.SetValue(k, name, value->Type, value->Data);
  } else {
    if (reg.OpenKey(root, SubKey(key), kKeyAllAccess, k) != kErrorSuccess) return;
    reg.DeleteValue(k, name);
  }
  reg.CloseKey(k);
}

TSpeedStates AllOn() { return {true, true, true, true, true}; }

// An engine for the account sid on the shared registry and files.
struct TAccount {
  TAccount(TFakeRegistry& reg, IRestoreFileSystem& files, const std::string& sid)
      : Hives(reg, sid), Engine(kDir, reg, files, &Hives) {}
  TFakeUserHives Hives;
  TOptimizeIt Engine;
};

// A machine where switches were applied over the user's own values (of every kind).
struct Applied : ::testing::Test {
  TFakeRegistry Reg;
  TFakeRestoreFiles Files;
  TAccount A{Reg, Files, kSidA};
  TRegSnapshot Before;
  void SetUp() override {
    Reg.AddKey(std::string("HKLM") + kProductKey);  // the program's own key, there since setup
    Edit(Reg, kHkeyUsers, "\\" + kSidA + kDesktopKey, "MenuShowDelay", Sz("400"));
    Edit(Reg, kHkeyUsers, "\\" + kSidA + kDesktopKey, "WaitToKillAppTimeout", ExpandSz("%WAIT%"));
    Edit(Reg, kHkeyLocalMachine, kTcpParamsKey, "DefaultTTL", Dword(64));
    Edit(Reg, kHkeyLocalMachine, kSessionKey, "AutoChkTimeOut", Dword(0xffffffffu));
    Edit(Reg, kHkeyLocalMachine, kControlKey, "WaitToKillServiceTimeout", Sz("20000"));
    Before = Snapshot(Reg);
    ApplySpeedStates(A.Engine, Reg, AllOn());
  }
};

}  // namespace

TEST(ChangeRecord, ItsTextReadsBackAsWrittenAndAnyChangeToItIsNoticed) {
  TChangeRecord record;
  record.Generation = 41;
  record.RestoreSums = {TextChecksum(""), TextChecksum("a=1\r\n")};
  record.Values = {{true, kSidA, "\\Control Panel\\Desktop", "MenuShowDelay", TPreviousKind::pkString,
                    "a,b=c%d\r\n\xC3\xBC", false, "0"},
                   {false, "", kUnloadKey, "", TPreviousKind::pkNone, "", false, "1"},
                   {false, "", kSessionKey, "AutoChkTimeOut", TPreviousKind::pkDword, "4294967295", true, "3"},
                   {true, kSidB, kDesktopKey, "ABC", TPreviousKind::pkUnknown, "", false, "2"},
                   {false, "", kBootDefragKey, "Enable", TPreviousKind::pkNone, "", false, "N", "Y"}};
  record.Keys = {{false, "", kUnloadKey}};
  const std::string text = FormatChangeRecord(record);
  // Plain ASCII lines, whatever the values hold.
  for (const char c : text) EXPECT_TRUE(static_cast<unsigned char>(c) < 0x80) << text;
  TChangeRecord back;
  ASSERT_TRUE(ParseChangeRecord(text, back));
  EXPECT_EQ(back.Generation, 41u);
  EXPECT_EQ(back.RestoreSums, record.RestoreSums);
  EXPECT_EQ(back.Values, record.Values);
  EXPECT_EQ(back.Keys, record.Keys);
  // Cut at every byte, or one byte changed anywhere: not a record.
  for (size_t cut = 0; cut < text.size(); ++cut) EXPECT_FALSE(ParseChangeRecord(text.substr(0, cut), back)) << cut;
  for (size_t i = 0; i < text.size(); ++i) {
    std::string damaged = text;
    damaged[i] = damaged[i] == 'x' ? 'y' : 'x';
    EXPECT_FALSE(ParseChangeRecord(damaged, back)) << i;
  }
}

TEST_F(Applied, DamagedMissingOrMismatchedBackupsTurnIntoARefusalAndNothingIsWritten) {
  const std::string record = *Files.File(kChangedPath);
  const std::string restore = *Files.File(kRestorePath);
  ASSERT_FALSE(restore.empty());
  // An earlier generation of the pair: after Turbo Startup alone.
  std::string earlierRecord, earlierRestore;
  {
    TFakeRegistry reg;
    TFakeRestoreFiles files;
    Edit(reg, kHkeyLocalMachine, kSessionKey, "AutoChkTimeOut", Dword(0xffffffffu));
    TAccount a(reg, files, kSidA);
    a.Engine.ApplyTurboStartup();
    earlierRecord = *files.File(kChangedPath);
    earlierRestore = *files.File(kRestorePath);
  }
  auto lines = [](const std::string& text) {
    std::vector<size_t> ends;
    for (size_t pos = text.find("\r\n"); pos != std::string::npos; pos = text.find("\r\n", pos + 2)) ends.push_back(pos + 2);
    return ends;
  };
  struct TCase {
    std::string Name;
    std::optional<std::string> Record, Restore;
  };
  std::vector<TCase> cases = {{"record missing", std::nullopt, restore},
                              {"record empty", "", restore},
                              {"restore missing", record, std::nullopt},
                              {"restore empty", record, ""},
                              {"earlier record", earlierRecord, restore},
                              {"earlier restore", record, earlierRestore}};
  for (const size_t end : lines(record))
    if (end < record.size()) cases.push_back({"record cut after byte " + std::to_string(end), record.substr(0, end), restore});
  for (const size_t end : lines(restore))
    if (end < restore.size()) cases.push_back({"restore cut after byte " + std::to_string(end), record, restore.substr(0, end)});
  size_t start = 0;
  for (const size_t end : lines(record)) {
    std::string damaged = record;
    damaged[start + (end - start) / 2] ^= 0x01;
    cases.push_back({"record line at " + std::to_string(start) + " damaged", damaged, restore});
    start = end;
  }
  start = 0;
  for (const size_t end : lines(restore)) {
    std::string damaged = restore;
    damaged[end - 3] = damaged[end - 3] == '7' ? '8' : '7';
    cases.push_back({"restore line at " + std::to_string(start) + " damaged", record, damaged});
    start = end;
  }
  const TRegSnapshot tweaked = Snapshot(Reg);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TFakeRestoreFiles files;
    if (c.Record) files.Put(kChangedPath, *c.Record);
    if (c.Restore) files.Put(kRestorePath, *c.Restore);
    TAccount a(Reg, files, kSidA);
    EXPECT_THROW(a.Engine.UndoAll(), Exception);
    for (const TSpeedSwitch s : kAllSpeedSwitches) EXPECT_THROW(a.Engine.Undo(s), Exception);
    EXPECT_EQ(Snapshot(Reg), tweaked);
    // Both files stay as they were, for the uninstaller to keep.
    EXPECT_EQ(files.File(kChangedPath), c.Record);
    EXPECT_EQ(files.File(kRestorePath), c.Restore);
  }
  // The pair itself is sound.
  A.Engine.UndoAll();
  EXPECT_EQ(Snapshot(Reg), Before);
}

TEST_F(Applied, AValueChangedByTheUserSinceIsLeftAsTheyMadeItAndLogged) {
  const std::string desktop = "\\" + kSidA + kDesktopKey;
  Edit(Reg, kHkeyUsers, desktop, "MenuShowDelay", Sz("250"));
  Edit(Reg, kHkeyUsers, desktop, "AutoEndTasks", std::nullopt);
  Edit(Reg, kHkeyLocalMachine, kTcpipKey, "DefaultTTL", Dword(99));
  std::vector<std::string> log;
  A.Engine.Log = [&](const std::string& line) { log.push_back(line); };
  A.Engine.UndoAll();
  EXPECT_EQ(Read(Reg, kHkeyUsers, desktop, "MenuShowDelay"), Sz("250"));
  EXPECT_EQ(Read(Reg, kHkeyUsers, desktop, "AutoEndTasks"), std::nullopt);
  EXPECT_EQ(Read(Reg, kHkeyLocalMachine, kTcpipKey, "DefaultTTL"), Dword(99));
  EXPECT_EQ(log.size(), 3u);
  EXPECT_THAT(log, ::testing::Contains(::testing::HasSubstr("MenuShowDelay")));
  // Every other value is back, and their records are gone.
  EXPECT_EQ(Read(Reg, kHkeyLocalMachine, kControlKey, "WaitToKillServiceTimeout"), Sz("20000"));
  EXPECT_TRUE(A.Engine.LoadChangeRecord().Values.empty());
}

TEST_F(Applied, AnUnreachableAccountIsReportedAndKeepsItsRecordsUntilItCanBeReached) {
  TAccount b(Reg, Files, kSidB);
  Edit(Reg, kHkeyUsers, "\\" + kSidB + kDesktopKey, "ABC", Sz("mine"));
  ApplySpeedStates(b.Engine, Reg, AllOn());
  EXPECT_EQ(Read(Reg, kHkeyUsers, "\\" + kSidB + kDesktopKey, "ABC"), Sz("2"));
  A.Hives.Unreachable = {kSidB};
  try {
    A.Engine.UndoAll();
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(std::string(e.what()),
              "The settings of the account " + kSidB + " cannot be reached. The profile of " + kSidB +
                  " cannot be loaded.");
  }
  EXPECT_EQ(Read(Reg, kHkeyUsers, "\\" + kSidA + kDesktopKey, "MenuShowDelay"), Sz("400"));
  EXPECT_EQ(Read(Reg, kHkeyUsers, "\\" + kSidB + kDesktopKey, "ABC"), Sz("2"));
  for (const TChangedValue& v : A.Engine.LoadChangeRecord().Values) EXPECT_EQ(v.Sid, kSidB);
  A.Hives.Unreachable.clear();
  A.Engine.UndoAll();
  EXPECT_EQ(A.Hives.Leased, (std::vector<std::string>{kSidB}));
  EXPECT_EQ(Read(Reg, kHkeyUsers, "\\" + kSidB + kDesktopKey, "ABC"), Sz("mine"));
  EXPECT_EQ(Snapshot(Reg), [&] {
    TRegSnapshot expected = Before;
    expected[LowerAscii("hku\\" + kSidB + kDesktopKey)]["abc"] = Sz("mine");
    expected[LowerAscii("hku\\" + kSidB + "\\control panel")];
    expected[LowerAscii("hku\\" + kSidB)];
    return expected;
  }());
}

TEST(BackupRecord, APreviousValueTheRestoreFileCannotHoldStopsTheSwitchBeforeAnythingIsWritten) {
  struct TCase {
    const char* Text;
    const char* Message;
  } cases[] = {{"400\r\n500", "The value 'MenuShowDelay' holds a line break, which the restore file cannot keep"},
               {"ab\ncd", "The value 'MenuShowDelay' holds a line break, which the restore file cannot keep"},
               {"\xE2\x82\xAC 5", "The value 'MenuShowDelay' holds a character that the restore file cannot keep"}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    TFakeRegistry reg;
    TFakeRestoreFiles files;
    TAccount a(reg, files, kSidA);
    Edit(reg, kHkeyUsers, "\\" + kSidA + kDesktopKey, "MenuShowDelay", Sz(c.Text));
    const TRegSnapshot before = Snapshot(reg);
    try {
      a.Engine.ApplyPerformanceEnhancement();
      ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), c.Message);
    }
    EXPECT_EQ(Snapshot(reg), before);
    EXPECT_TRUE(files.Files().empty());
  }
  // Latin letters the code page holds are fine.
  TFakeRegistry reg;
  TFakeRestoreFiles files;
  TAccount a(reg, files, kSidA);
  Edit(reg, kHkeyUsers, "\\" + kSidA + kDesktopKey, "MenuShowDelay", Sz("Gr\xC3\xBC\xC3\x9F" "e"));
  a.Engine.ApplyPerformanceEnhancement();
  a.Engine.UndoPerformanceEnhancement();
  EXPECT_EQ(Read(reg, kHkeyUsers, "\\" + kSidA + kDesktopKey, "MenuShowDelay"), Sz("Gr\xC3\xBC\xC3\x9F" "e"));
}

TEST(BackupRecord, TheRecordOfAnEarlierVersionIsTakenBackWhereItCanBeVouchedFor) {
  TFakeRegistry reg;
  TFakeRestoreFiles files;
  TAccount a(reg, files, kSidA);
  const std::string desktop = "\\" + kSidA + kDesktopKey;
  // Left by the earlier version: tweaked values, their marks and the restore entries.
  Edit(reg, kHkeyLocalMachine, kSessionKey, "AutoChkTimeOut", Dword(3));
  Edit(reg, kHkeyLocalMachine, kPrefetchKey, "EnablePrefetcher", Dword(1));
  Edit(reg, kHkeyLocalMachine, kTcpipKey, "DefaultTTL", Dword(128));
  Edit(reg, kHkeyLocalMachine, kControlKey, "WaitToKillServiceTimeout", Sz("3000"));
  Edit(reg, kHkeyUsers, desktop, "MenuShowDelay", Sz("0"));
  Edit(reg, kHkeyUsers, desktop, "HungAppTimeout", Sz("1000"));
  Edit(reg, kHkeyUsers, desktop, "AutoEndTasks", Sz("7"));  // the user's since
  files.Put(kChangedPath, std::string(kSessionKey) + "_AutoChkTimeOut=REG_DWORD\r\n" + kPrefetchKey +
                              "_EnablePrefetcher=created\r\n" + kTcpipKey + "_DefaultTTL=REG_DWORD\r\n" +
                              kControlKey + "_WaitToKillServiceTimeout=REG_SZ\r\n" + kDesktopKey +
                              "_MenuShowDelay=REG_SZ\r\n" + kDesktopKey + "_HungAppTimeout=REG_SZ\r\n" +
                              kDesktopKey + "_AutoEndTasks=created\r\n");
  files.Put(kRestorePath, std::string(kSessionKey) + "_AutoChkTimeOut=dword:-1\r\n" + kControlKey +
                              "_WaitToKillServiceTimeout=20000\r\n" + kDesktopKey + "_MenuShowDelay=400\r\n" +
                              kTcpipKey + "_DefaultTTL=dword:\r\n");
  try {
    a.Engine.UndoAll();
    FAIL() << "no error";
  } catch (const Exception& e) {
    // The cut-off number and the text without its entry are not guessed at.
    EXPECT_EQ(std::string(e.what()),
              "The earlier value of 'DefaultTTL' is not known, so it was left as it is\n"
              "The earlier value of 'HungAppTimeout' is not known, so it was left as it is");
  }
  EXPECT_EQ(Read(reg, kHkeyLocalMachine, kSessionKey, "AutoChkTimeOut"), Dword(0xffffffffu));
  EXPECT_EQ(Read(reg, kHkeyLocalMachine, kPrefetchKey, "EnablePrefetcher"), std::nullopt);
  EXPECT_EQ(Read(reg, kHkeyLocalMachine, kControlKey, "WaitToKillServiceTimeout"), Sz("20000"));
  EXPECT_EQ(Read(reg, kHkeyUsers, desktop, "MenuShowDelay"), Sz("400"));
  EXPECT_EQ(Read(reg, kHkeyUsers, desktop, "AutoEndTasks"), Sz("7"));
  EXPECT_EQ(Read(reg, kHkeyLocalMachine, kTcpipKey, "DefaultTTL"), Dword(128));
  EXPECT_EQ(Read(reg, kHkeyUsers, desktop, "HungAppTimeout"), Sz("1000"));
  // Rewritten in the current form, holding only what is still unknown.
  const TChangeRecord left = a.Engine.LoadChangeRecord();
  ASSERT_EQ(left.Values.size(), 2u);
  EXPECT_EQ(left.Values[0].ValueName, "DefaultTTL");
  EXPECT_EQ(left.Values[1].Sid, kSidA);
}

TEST(BackupRecord, AMissingRecordIsNothingToDoOnlyWhileTheStoredStatesSaySo) {
  for (const char* states : {"0,0,0,1,0", "0,1,0,0,0"}) {
    SCOPED_TRACE(states);
    TFakeRegistry reg;
    TFakeRestoreFiles files;
    Edit(reg, kHkeyLocalMachine, kProductKey, kSpeedStatesValue, Sz(states));
    files.Put(kRestorePath, std::string(kControlKey) + "_WaitToKillServiceTimeout=20000\r\n");
    TAccount a(reg, files, kSidA);
    if (std::string(states) == "0,0,0,1,0") {
      EXPECT_NO_THROW(a.Engine.UndoAll());
    } else {
      try {
        a.Engine.UndoAll();
        FAIL() << "no error";
      } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), "The record of the values this program changed is missing or empty: \"" +
                                             kChangedPath + "\". The speed settings were left as they are.");
      }
    }
  }
}

TEST(BackupRecord, KeysTheSwitchesCreatedGoWhenTheyAreEmptyAndOnlyThen) {
  TFakeRegistry reg;
  TFakeRestoreFiles files;
  TAccount a(reg, files, kSidA);
  a.Engine.ApplyTurboStartup();
  a.Engine.ApplyBootDefrag(true);
  EXPECT_TRUE(reg.HasKey(std::string("HKLM") + kPrefetchKey));
  a.Engine.UndoTurboStartup();
  EXPECT_FALSE(reg.HasKey(std::string("HKLM") + kPrefetchKey));
  EXPECT_FALSE(reg.HasKey(std::string("HKLM") + kMemoryKey));
  // A created key that holds a value of someone else's stays.
  a.Engine.ApplyTurboStartup();
  Edit(reg, kHkeyLocalMachine, kPrefetchKey, "EnableSuperfetch", Dword(3));
  a.Engine.UndoAll();
  EXPECT_EQ(Read(reg, kHkeyLocalMachine, kPrefetchKey, "EnableSuperfetch"), Dword(3));
  EXPECT_FALSE(reg.HasKey("HKLM\\SOFTWARE\\Microsoft\\Dfrg"));
  EXPECT_TRUE(a.Engine.LoadChangeRecord().Keys.empty());
}

// ---- The randomized round trip ----

namespace {

std::string RandomText(std::mt19937& rng) {
  static const char* const kSamples[] = {"", "0", "1", "2", "1000", "3000", "20000", "dword:5", "hex:ff", "a=b",
                                         " spaced ", "%SystemRoot%", "Y", "N", "no", "a\r\nb", "\xE2\x82\xAC",
                                         "\xC3\xA9t\xC3\xA9", "x,y%z"};
  std::uniform_int_distribution<int> pick(0, std::size(kSamples));
  const int i = pick(rng);
  if (i < static_cast<int>(std::size(kSamples))) return kSamples[i];
  std::string text(std::uniform_int_distribution<int>(1, 12)(rng), ' ');
  for (char& c : text) c = static_cast<char>(std::uniform_int_distribution<int>(0x20, 0x7e)(rng));
  return text;
}

// A random state of one value, given the program's own text for it.
std::optional<TRegValue> RandomValue(std::mt19937& rng, const std::string& text) {
  std::string payload = text;
  const bool number = TOptimizeIt::ParseValueText(payload) != TRegValueKind::rvkString;
  switch (std::uniform_int_distribution<int>(0, 7)(rng)) {
    case 0:
    case 1: return std::nullopt;
    case 2: return Sz(RandomText(rng));
    case 3: return ExpandSz(RandomText(rng));
    case 4: {
      static const uint32_t kNumbers[] = {0, 1, 3, 128, 0x7fff, 0x7fffffff, 0x80000000u, 0xffffffffu};
      return Dword(kNumbers[std::uniform_int_distribution<int>(0, std::size(kNumbers) - 1)(rng)]);
    }
    case 5: return TRegValue{kRegBinary, std::string("\x01\x00\xff", 3)};
    default:  // already the program's value
      return number ? Dword(static_cast<uint32_t>(std::stoul(payload, nullptr, 16))) : Sz(payload);
  }
}

}  // namespace

TEST(BackupRoundTrip, AThousandEarlierStatesOfTwoAccountsComeBackExactlyBesideTheUsersEdits) {
  std::mt19937 rng(20261211);
  const std::vector<TSlot> slots = Slots();
  int failures = 0, edits = 0;
  for (int round = 0; round < 1000; ++round) {
    SCOPED_TRACE(round);
    TFakeRegistry reg;
    TFakeRestoreFiles files;
    // Values beside the program's stay untouched as well.
    reg.PutString(std::string("HKLM") + kTcpParamsKey, "Hostname", "box");
    reg.AddKey(std::string("HKLM") + kProductKey);
    for (const std::string& sid : {kSidA, kSidB}) {
      reg.AddKey("HKU\\" + sid);
      for (const TSlot& s : slots)
        if (s.CurrentUser || sid == kSidA)
          if (auto v = RandomValue(rng, s.Text)) Edit(reg, SlotRoot(s), SlotKey(s, sid), s.Name, v);
    }
    // Some keys are missing altogether, and must come back missing.
    for (const char* key : {kPrefetchKey, kUnloadKey, kTcpParamsKey, "\\SOFTWARE\\Microsoft\\Dfrg"})
      if (rng() % 4 == 0) reg.DeleteKeyTree(kHkeyLocalMachine, SubKey(key));
    if (rng() % 4 == 0) reg.DeleteKeyTree(kHkeyUsers, kSidB + "\\Control Panel");
    TFakeRegistry expected = reg;

    TAccount a(reg, files, kSidA), b(reg, files, kSidB);
    const int steps = std::uniform_int_distribution<int>(1, 5)(rng);
    for (int step = 0; step < steps; ++step) {
      TAccount& who = rng() % 2 ? a : b;
      // Now and then the registry or the disk refuses writes for a while.
      const int trouble = std::uniform_int_distribution<int>(0, 9)(rng);
      reg.FailSetValue(trouble == 0 ? kErrorAccessDenied : kErrorSuccess);
      std::bernoulli_distribution failSave(trouble == 1 ? 0.3 : 0.0);
      files.WriteFault = [&] { return failSave(rng) ? TFakeRestoreFiles::kDiskFull : kErrorSuccess; };
      TSpeedStates states{};
      for (bool& on : states) on = rng() % 2;
      try {
        ApplySpeedStates(who.Engine, reg, states);
      } catch (const Exception&) {
        ++failures;
      }
      reg.FailSetValue(kErrorSuccess);
      files.WriteFault = nullptr;
      // The user edits a value now and then: theirs from then on, in both registries.
      if (rng() % 3 == 0) {
        const TSlot& s = slots[std::uniform_int_distribution<size_t>(0, slots.size() - 1)(rng)];
        const std::string sid = rng() % 2 ? kSidA : kSidB;
        const auto now = Read(reg, SlotRoot(s), SlotKey(s, sid), s.Name);
        std::optional<TRegValue> edit = rng() % 4 ? std::optional(Sz("user " + std::to_string(round))) : std::nullopt;
        if (now && now->Type == kRegSz && now->Data.starts_with("user")) edit = std::nullopt;
        if (!(edit || now)) continue;
        ++edits;
        Edit(reg, SlotRoot(s), SlotKey(s, sid), s.Name, edit);
        Edit(expected, SlotRoot(s), SlotKey(s, sid), s.Name, edit);
      }
    }
    // The undo of everything, as the uninstaller runs it, by either account.
    TAccount& last = rng() % 2 ? a : b;
    last.Engine.UndoAll();
    // A key the user's edit created in one registry but the program had made in the other is
    // the user's in both.
    EXPECT_EQ(Snapshot(reg), Snapshot(expected));
    EXPECT_TRUE(last.Engine.LoadChangeRecord().Values.empty());
    if (::testing::Test::HasFailure()) break;
  }
  // The random states do reach the errors and the edits.
  EXPECT_GT(failures, 100);
  EXPECT_GT(edits, 200);
}
