// A main window on fakes for the native tests: the service link, the memory status, the
// cursor, the boxes, and the speed switches on an in-memory registry with the real tweak
// engine (header-only).
#pragma once

#include "app/PerformanceMain.h"

#include "common/Errors.h"
#include "fakes/FakePump.h"
#include "fakes/FakeRegistry.h"
#include "fakes/FakeRestoreFiles.h"
#include "optimize/OptimizeIt.h"
#include "optimize/OptimizeWorld.h"
#include "optimize/SpeedStates.h"
#include "service/tcpClient.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

inline constexpr uint64_t kMiB = 1024ull * 1024;

// Records every GetInfo and answers from a table by item.
class TFakeLink final : public IServiceLink {
 public:
  void AvaliableSensors(std::string&) override {}
  void DisableAlert(const std::string&) override {}
  void EnableAlert(const std::string&, float, float) override {}
  std::string GetField(const std::string&, const std::string&, const std::string&) override {
    return {};
  }
  void GetInfo(const std::string& module, const std::string& item, std::string& info) override {
    Calls.push_back(module + "|" + item + "|" + info);
    if (Fail) throw Exception("Connection refused.");
    info = Answers.count(item) ? Answers[item] : std::string();
  }
  void IsAlertEnabled(const std::string&, int16_t&) override {}
  void Subscribe(int32_t&) override {}
  void Unsubscribe(int32_t) override {}
  void WaitAlert(int32_t, int32_t&, uint8_t&, std::string&) override {}
  bool IsConnected() override { return true; }

  std::vector<std::string> Calls;
  std::map<std::string, std::string> Answers;
  bool Fail = false;
};

struct TBox {
  std::string Caption, Title, Text;
  MessageBoxIcon Icon;
  MessageBoxButtons Buttons;
  bool Owned;
};

// The main window on the fakes above; an administrator unless a test says otherwise.
struct TWindowFixture {
  std::shared_ptr<TFakeLink> Link = std::make_shared<TFakeLink>();
  TMemoryFigures Memory{63, 1024 * kMiB, 384 * kMiB};
  TScreenCursor Cursor = TScreenCursor::Other;
  std::vector<TScreenCursor> CursorLog;
  std::vector<TBox> Boxes;
  uint16_t BoxAnswer = mrYes;
  int Closes = 0, Helps = 0, Abouts = 0;
  // The user's privilege level; none when the query fails.
  std::optional<int> Privilege = 2;
  TFakePump Pump;
  TFakeRegistry Registry;
  // Every write and delete of the window and the engine passes through here.
  TCountingRegistry Counted{Registry};
  TFakeRestoreFiles Files;
  std::unique_ptr<TOptimizeIt> Engine =
      std::make_unique<TOptimizeIt>("C:\\Program\\", Counted, Files);
  std::unique_ptr<TfmPerformance> Window;
  // The token: elevated unless a test says otherwise; none when it cannot be read.
  std::optional<TTokenElevation> Elevation = TTokenElevation{true, TElevationType::etFull};
  // The state lists the elevated helper was started with, and the cursor it saw.
  std::vector<std::string> HelperRuns;
  std::vector<TScreenCursor> HelperCursors;
  // What the helper does: by default what SpeedSwitches.exe does, on the same registry and
  // files, ending with exit code 1 and the engine's words on an error.
  std::function<TSpeedHelperRun(const std::string&)> Helper = [this](const std::string& states) {
    TSpeedHelperRun run;
    run.Outcome = TSpeedHelperRun::TOutcome::Finished;
    TSpeedStates parsed{};
    if (!ParseSpeedStates(states, parsed)) {
      run.ExitCode = 87;
      return run;
    }
    try {
      TOptimizeIt elevated("C:\\Program\\", Counted, Files);
      ApplySpeedStates(elevated, Counted, parsed);
    } catch (const std::exception& e) {
      run.ExitCode = 1;
      run.Text = std::string(e.what()) + "\r\n";
    }
    return run;
  };
  int EngineLookups = 0;
  // What the disk holds for the count passes, and what the clearing did, in order.
  TCountFigures Disk;
  std::vector<std::string> Cleared;
  bool TypedUrlsFail = false;
  std::vector<TCountSink> PendingPasses;

  // Runs the count passes started so far, each handing over its figures in order.
  void RunCountPasses() {
    std::vector<TCountSink> passes = std::exchange(PendingPasses, {});
    for (const TCountSink& sink : passes)
      for (TCountItem item : {TCountItem::ciInternetCache, TCountItem::ciCookies, TCountItem::ciTempFiles,
                              TCountItem::ciSavedPasswords, TCountItem::ciTypedUrls})
        sink(item, Disk);
  }

  TWindowFixture() {
    TPerformancePorts p;
    p.Service = [this] { return std::static_pointer_cast<IServiceLink>(Link); };
    p.MemoryStatus = [this](TMemoryFigures& m) {
      m = Memory;
      return true;
    };
    p.UserPrivilege = [this](int& level) {
      if (!Privilege) return false;
      level = *Privilege;
      return true;
    };
    p.GetCursor = [this] { return Cursor; };
    p.SetCursor = [this](TScreenCursor c) {
      Cursor = c;
      CursorLog.push_back(c);
    };
    p.Pump = &Pump;
    p.ShowBox = [this](bool owned, const std::string& caption, const std::string& title,
                       const std::string& text, MessageBoxIcon icon, MessageBoxButtons buttons) {
      Boxes.push_back({caption, title, text, icon, buttons, owned});
      return buttons == MessageBoxButtons::YesNo ? BoxAnswer : mrOk;
    };
    p.ShowHelp = [this] { ++Helps; };
    p.ShowAbout = [this] { ++Abouts; };
    p.Close = [this] { ++Closes; };
    p.MachineType = [] { return 1; };
    p.Registry = &Counted;
    p.OptimizeIt = [this] {
      ++EngineLookups;
      return Engine.get();
    };
    p.TokenElevation = [this](TTokenElevation& e) {
      if (!Elevation) return false;
      e = *Elevation;
      return true;
    };
    p.RunSpeedHelper = [this](const std::string& states) {
      HelperRuns.push_back(states);
      HelperCursors.push_back(Cursor);
      return Helper(states);
    };
    // Count passes run when the test lets them (RunCountPasses), as a thread would later.
    p.StartCountPass = [this](TCountSink sink) { PendingPasses.push_back(std::move(sink)); };
    p.ClearInternetCache = [this] { Cleared.push_back("cache"); };
    p.ClearCookies = [this] { Cleared.push_back("cookies"); };
    p.ClearTempFolder = [this] { Cleared.push_back("temp"); };
    p.EmptyRecycleBin = [this] { Cleared.push_back("recycle"); };
    p.ClearTypedUrls = [this] {
      if (TypedUrlsFail) throw Exception("Class not registered");
      Cleared.push_back("urls");
      Disk.TypedUrls = 0;
    };
    p.ClearSavedPasswords = [this] {
      Cleared.push_back("passwords");
      return std::exchange(Disk.SavedPasswords, 0);
    };
    p.Sleep = [this](uint32_t ms) { Cleared.push_back("pause " + std::to_string(ms)); };
    Window = std::make_unique<TfmPerformance>(std::move(p));
  }
  // Creates the window with the schedule answer given.
  TfmPerformance& Create(const std::string& schedule = {}) {
    Link->Answers["optimi.free.getconf"] = schedule;
    Window->FormCreate();
    Link->Calls.clear();
    return *Window;
  }
};
