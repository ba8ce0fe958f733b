// Load on the service's server beside the floor of this machine: a plain blocking Winsock
// server (one thread per connection, recv and send, answering each line with its number) under
// the same Wine, in the same run. N clients in parallel, each sending its requests one after
// the other and matching every answer to its request.
//   service_load_bench [clients] [requests-per-client] [--port N] [--idle N]
// Without clients it measures 1 and 8. Without --port the server runs in this process on a free
// loopback port; with it the bench talks to a running KLService (for example KLService.exe
// --console --port N). --idle opens N connections that never send a byte before the load
// starts, and reports what they cost.
//
// Per request the service makes three socket calls against the floor's two: the completion of
// the receive (one GetQueuedCompletionStatusEx per batch), a send that completes at once, and
// the overlapped receive armed again; the floor's thread sleeps in recv and sends.
#include "klservice/KLServer_win.h"
#include "klservice/ServicePorts_win.h"

#include "klservice/LoadRun_win.h"  // tests/klservice: the same load as the bounded test

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

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

// The floor: blocking sockets, a thread per connection, each line answered with its number.
class TBlockingEchoServer {
 public:
  TBlockingEchoServer() {
    FListen = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(FListen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(FListen, SOMAXCONN);
    int len = sizeof addr;
    ::getsockname(FListen, reinterpret_cast<sockaddr*>(&addr), &len);
    Port = ntohs(addr.sin_port);
    FAccept = std::thread([this] {
      for (;;) {
        const SOCKET s = ::accept(FListen, nullptr, nullptr);
        if (s == INVALID_SOCKET) return;
        FClients.emplace_back([s] { Serve(s); });
      }
    });
  }
  ~TBlockingEchoServer() {
    ::closesocket(FListen);
    FAccept.join();
    for (auto& t : FClients) t.join();  // each ends when its client closes
  }
  uint16_t Port = 0;

 private:
  static void Serve(SOCKET s) {
    const BOOL noDelay = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                 sizeof noDelay);
    std::string pending, out;
    char buf[4096];
    for (;;) {
      const int n = ::recv(s, buf, sizeof buf, 0);
      if (n <= 0) break;
      pending.append(buf, size_t(n));
      out.clear();
      for (size_t lf; (lf = pending.find('\n')) != std::string::npos; pending.erase(0, lf + 1)) {
        const size_t space = pending.find(' ');
        const size_t comma = pending.find(',', space);
        if (space < lf && comma < lf) out.append(pending, space + 1, comma - space);
        out += '\n';
      }
      if (!out.empty() && ::send(s, out.data(), int(out.size()), 0) != int(out.size())) break;
    }
    ::closesocket(s);
  }
  SOCKET FListen;
  std::thread FAccept;
  std::vector<std::thread> FClients;
};

struct TRun {
  std::vector<double> LatenciesMs;  // sorted
  double Seconds = 0;
  int64_t Matched = 0;
  bool Ok = true;
};

TRun Measure(uint16_t port, int clients, int requests, bool checkText) {
  TLoadResult r = RunLoad(port, clients, requests, checkText);
  if (r.Wrong || r.Lost || r.Unconnected)
    std::printf("  sent %lld, matched %lld, wrong %lld, lost %lld, unconnected %d\n",
                static_cast<long long>(r.Sent), static_cast<long long>(r.Matched),
                static_cast<long long>(r.Wrong), static_cast<long long>(r.Lost), r.Unconnected);
  return {std::move(r.LatenciesMs), r.Seconds, r.Matched, r.Matched == r.Sent && r.Unconnected == 0};
}

void Pool(TRun& into, const TRun& run) {
  into.LatenciesMs.insert(into.LatenciesMs.end(), run.LatenciesMs.begin(), run.LatenciesMs.end());
  into.Seconds += run.Seconds;
  into.Matched += run.Matched;
  into.Ok = into.Ok && run.Ok;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return Percentile(v, 0.5);
}

}  // namespace

int main(int argc, char** argv) {
  int clients = 0, requests = 5000, port = 0, idle = 0;
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
  if (clients < 0 || clients > TServerLimits().MaxClientsPerProcess || requests <= 0) {
    std::fprintf(stderr, "clients must be 1 to %d (one process's share), requests positive\n",
                 TServerLimits().MaxClientsPerProcess);
    return 2;
  }
  TWinsockScope winsock;
  TWinMemoryPort memory;
  TRegistryScheduleStore store(HKEY_CURRENT_USER, L"Software\\QuorTests\\ServiceLoadBench");
  TQuietLog log;
  std::unique_ptr<TKLServiceHost> host;
  if (port == 0) {
    host = std::make_unique<TKLServiceHost>(memory, store, log, ServiceClock());
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
  bool ok = true;
  TBlockingEchoServer floor;
  std::printf("%s server, %d requests per client; latency in ms\n",
              host ? "in-process" : "external", requests);
  std::printf("clients  server   median     p99   req/s   | floor   median     p99   req/s   | "
              "ratio median  p99\n");
  const std::vector<int> counts = clients ? std::vector<int>{clients} : std::vector<int>{1, 8};
  // Rounds in turn, the floor and the service each time, so that a change of the machine's load
  // falls on both; the ratio is the median of the rounds' ratios.
  constexpr int kRounds = 5;
  for (const int n : counts) {
    TRun service, base;
    std::vector<double> medianRatios, p99Ratios;
    for (int round = 0; round < kRounds; ++round) {
      const TRun f = Measure(floor.Port, n, std::max(1, requests / kRounds), false);
      const TRun sv = Measure(static_cast<uint16_t>(port), n, std::max(1, requests / kRounds), true);
      medianRatios.push_back(Percentile(sv.LatenciesMs, 0.5) / Percentile(f.LatenciesMs, 0.5));
      p99Ratios.push_back(Percentile(sv.LatenciesMs, 0.99) / Percentile(f.LatenciesMs, 0.99));
      Pool(service, sv);
      Pool(base, f);
    }
    std::sort(service.LatenciesMs.begin(), service.LatenciesMs.end());
    std::sort(base.LatenciesMs.begin(), base.LatenciesMs.end());
    ok = ok && service.Ok && base.Ok;
    std::printf("%7d  service %7.3f %7.3f %7.0f | floor %7.3f %7.3f %7.0f | %11.2f %5.2f\n", n,
                Percentile(service.LatenciesMs, 0.5), Percentile(service.LatenciesMs, 0.99),
                double(service.Matched) / service.Seconds, Percentile(base.LatenciesMs, 0.5),
                Percentile(base.LatenciesMs, 0.99), double(base.Matched) / base.Seconds,
                Median(medianRatios), Median(p99Ratios));
    std::printf("         median ratio of each round:");
    for (double r : medianRatios) std::printf(" %.2f", r);
    std::printf("\n");
  }
  quiet.clear();
  host.reset();
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\QuorTests\\ServiceLoadBench");
  return ok ? 0 : 1;
}
