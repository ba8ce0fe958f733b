// Load on the service's server: N clients in parallel, each sending its requests one after the
// other and matching every answer to its request.
//   service_load_bench [clients] [requests-per-client] [--port N]
// Without --port the server runs in this process on a free loopback port; with it the bench
// talks to a running KLService (for example KLService.exe --console --port N).
#include "klservice/KLServer_win.h"
#include "klservice/ServicePorts_win.h"

#include "klservice/LoadRun_win.h"  // tests/klservice: the same load as the bounded test

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

class TQuietLog final : public IServiceLog {
 public:
  void Log(std::string_view) override {}
};

double Percentile(const std::vector<double>& sorted, double q) {
  if (sorted.empty()) return 0;
  return sorted[std::min(sorted.size() - 1, static_cast<size_t>(q * double(sorted.size())))];
}

}  // namespace

int main(int argc, char** argv) {
  int clients = 8, requests = 5000, port = 0;
  int positional = 0;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--port") && i + 1 < argc)
      port = std::atoi(argv[++i]);
    else if (positional++ == 0)
      clients = std::atoi(argv[i]);
    else
      requests = std::atoi(argv[i]);
  }
  if (clients <= 0 || clients > TServerLimits().MaxClients || requests <= 0) {
    std::fprintf(stderr, "clients must be 1 to %d, requests positive\n", TServerLimits().MaxClients);
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
  const TLoadResult r = RunLoad(static_cast<uint16_t>(port), clients, requests);
  std::printf("clients %d, requests each %d, %s server\n", clients, requests,
              host ? "in-process" : "external");
  std::printf("sent %lld, matched %lld, wrong %lld, lost %lld, unconnected %d\n",
              static_cast<long long>(r.Sent), static_cast<long long>(r.Matched),
              static_cast<long long>(r.Wrong), static_cast<long long>(r.Lost), r.Unconnected);
  std::printf("%.0f requests/s over %.2f s\n", double(r.Matched) / r.Seconds, r.Seconds);
  std::printf("latency ms: median %.3f, p99 %.3f, worst %.3f\n", Percentile(r.LatenciesMs, 0.5),
              Percentile(r.LatenciesMs, 0.99), r.LatenciesMs.empty() ? 0 : r.LatenciesMs.back());
  host.reset();
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\QuorTests\\ServiceLoadBench");
  return r.Matched == r.Sent && r.Unconnected == 0 ? 0 : 1;
}
