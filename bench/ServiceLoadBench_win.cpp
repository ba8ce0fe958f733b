// Load on the service's server: N clients in parallel, each sending its requests one after the
// other and matching every answer to its request.
//   service_load_bench [clients] [requests-per-client] [--port N] [--idle N]
// Without --port the server runs in this process on a free loopback port; with it the bench
// talks to a running KLService (for example KLService.exe --console --port N). --idle opens N
// connections that never send a byte before the load starts, and reports what they cost.
#include "klservice/KLServer_win.h"
#include "klservice/ServicePorts_win.h"

#include "klservice/LoadRun_win.h"  // tests/klservice: the same load as the bounded test

#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

class TQuietLog final : public IServiceLog {
 public:
  void Log(std::string_view) override {}
};

size_t WorkingSet() {
  PROCESS_MEMORY_COUNTERS m{};
  m.cb = sizeof m;
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &m, sizeof m);
  return m.WorkingSetSize;
}

double Percentile(const std::vector<double>& sorted, double q) {
  if (sorted.empty()) return 0;
  return sorted[std::min(sorted.size() - 1, static_cast<size_t>(q * double(sorted.size())))];
}

}  // namespace

int main(int argc, char** argv) {
  int clients = 8, requests = 5000, port = 0, idle = 0;
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--port") && i + 1 < argc)
      port = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--idle") && i + 1 < argc)
      idle = std::atoi(argv[++i]);
    else if (positional++ == 0)
      clients = std::atoi(argv[i]);
    else
      requests = std::atoi(argv[i]);
  }
  if (clients <= 0 || clients > TServerLimits().MaxClients || requests <= 0) {
    std::fprintf(stderr, "clients must be 1 to %d, requests positive\n",
                 TServerLimits().MaxClients);
    return 2;
  }
  TWinsockScope winsock;
  TWinMemoryPort memory;
  TRegistryScheduleStore store(HKEY_CURRENT_USER, L"Software\\QuorTests\\ServiceLoadBench");
  TQuietLog log;
  std::unique_ptr<TKLServiceHost> host;
  if (port == 0) {
    host = std::make_unique<TKLServiceHost>(memory, store, log, SystemClock());
    host->Start(0);
    port = host->Port();
  }
  std::vector<std::unique_ptr<TLineClient>> quiet;
  if (idle > 0) {
    const size_t before = WorkingSet();
    for (int i = 0; i < idle; ++i)
      quiet.push_back(std::make_unique<TLineClient>(static_cast<uint16_t>(port)));
    for (int i = 0; host && i < 400 && host->ClientCount() < idle; ++i) ::Sleep(25);
    const size_t after = WorkingSet();
    std::printf("%d idle connections: working set %zu -> %zu bytes, %.0f bytes per connection "
                "(both ends, in this process)\n",
                idle, before, after, (double(after) - double(before)) / idle);
  }
  const TLoadResult r = RunLoad(static_cast<uint16_t>(port), clients, requests);
  std::printf("clients %d, requests each %d, %s server\n", clients, requests,
              host ? "in-process" : "external");
  std::printf("sent %lld, matched %lld, wrong %lld, lost %lld, unconnected %d\n",
              static_cast<long long>(r.Sent), static_cast<long long>(r.Matched),
              static_cast<long long>(r.Wrong), static_cast<long long>(r.Lost), r.Unconnected);
  std::printf("%.0f requests/s over %.2f s\n", double(r.Matched) / r.Seconds, r.Seconds);
  std::printf("latency ms: median %.3f, p99 %.3f, worst %.3f\n", Percentile(r.LatenciesMs, 0.5),
              Percentile(r.LatenciesMs, 0.99), r.LatenciesMs.empty() ? 0 : r.LatenciesMs.back());
  quiet.clear();
  host.reset();
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\QuorTests\\ServiceLoadBench");
  return r.Matched == r.Sent && r.Unconnected == 0 ? 0 : 1;
}
