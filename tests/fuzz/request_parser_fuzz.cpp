// Feeds arbitrary bytes to one connection of the service, as a client on the port could: split
// into chunks, framed, parsed and dispatched against fake ports. Checks that every answer is one
// line beginning with a number and a comma, and that a drop stops the handling.
#include "../../klservice/ServiceCore.cpp"
#include "common/TextUtil.cpp"
#include "service/CommaList.cpp"

#include "fakes/FakeKLPorts.h"
#include "fakes/FakeMemoryPort.h"
#include "fakes/FakeScheduleStore.h"

#include <cstdlib>

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void CheckAnswer(std::string_view a) {
  Check(!a.empty() && a.back() == '\n');
  Check(a.find('\n') == a.size() - 1);
  size_t p = a[0] == '-' ? 1 : 0;
  const size_t digits = p;
  while (p < a.size() && a[p] >= '0' && a[p] <= '9') ++p;
  Check(p > digits && p < a.size() && a[p] == ',');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TFakeMemoryPort memory;
  TFakeScheduleStore store;
  TFakeKLClock clock;
  TFakeKLLog log;
  TServiceCore core(memory, store, clock, log);
  core.Start();
  TClientSession session(core, clock);
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // The first byte picks the chunk size, so lines are also split across receives.
  const size_t chunk = size ? 1 + data[0] % 64 : 1;
  int answers = 0;
  for (size_t p = 0; p < input.size(); p += chunk) {
    const TDropReason r = session.Receive(input.substr(p, chunk), [&](std::string_view a) {
      CheckAnswer(a);
      ++answers;
      return true;
    });
    if (r != TDropReason::None) break;
    core.Sample();
    core.RunScheduleIfDue();
  }
  Check(answers <= static_cast<int>(size));
  return 0;
}
