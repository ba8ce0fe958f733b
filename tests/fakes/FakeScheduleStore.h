// A schedule store for tests: kept in memory, saving can be made to fail.
#pragma once

#include "common/Errors.h"
#include "../../klservice/ServiceCore.h"

class TFakeScheduleStore final : public IScheduleStore {
 public:
  std::optional<TSchedule> Load() override { return FStored; }
  void Save(const TSchedule& schedule) override {
    if (FFailSave) throw Exception("store refused");
    FStored = schedule;
  }

  std::optional<TSchedule> FStored;
  bool FFailSave = false;
};
