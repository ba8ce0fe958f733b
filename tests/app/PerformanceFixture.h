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
#include "service/tcpClient.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
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
    p.OptimizeIt = [this] { return Engine.get(); };
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
