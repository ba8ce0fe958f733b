// Several clients in parallel, each sending its requests one after the other and matching every
// answer to its request, for the load test and the benchmark (Windows-only header).
#pragma once

#include "LineClient_win.h"

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

struct TLoadResult {
  int64_t Sent = 0;
  int64_t Matched = 0;   // answer line with the request's number and the expected text
  int64_t Wrong = 0;     // answer line of another number or with other text
  int64_t Lost = 0;      // no answer line at all
  int Unconnected = 0;
  double Seconds = 0;
  std::vector<double> LatenciesMs;  // of every matched request, sorted
};

// Runs clients × requests round trips against 127.0.0.1:port. Without checkText only the number
// that begins each answer is checked (for a server that does not speak the commands).
inline TLoadResult RunLoad(uint16_t port, int clients, int requests, bool checkText = true) {
  struct TCase {
    const char* line;    // "%d" stands for the sequence number
    const char* answer;  // expected text after "<seq>,", or null for any
  };
  static const TCase kCases[] = {
      {"AvaliableSensors %d,", "memory.load,memory.available"},
      {"GetInfo %d,\"module.optimize\",\"optimize.memory.usage\",nocache=true", nullptr},
      {"IsAlertEnabled %d,\"cpu.heat\"", "False"},
      {"GetField %d,\"module.optimize\",\"optimi.free.getconf\",Nothing", ""},
      {"GetInfo %d,\"module.other\",\"x\",", ""},
  };
  std::vector<TLoadResult> per(static_cast<size_t>(clients));
  LARGE_INTEGER freq, t0, t1;
  ::QueryPerformanceFrequency(&freq);
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  ::QueryPerformanceCounter(&t0);
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&, c] {
      TLoadResult& r = per[static_cast<size_t>(c)];
      TLineClient client(port, 20000);
      ++ready;
      if (!client.Connected()) {
        r.Unconnected = 1;
        return;
      }
      char line[160];
      std::string answer;
      for (int i = 0; i < requests; ++i) {
        const int seq = c * 1000000 + i;
        const TCase& k = kCases[i % std::size(kCases)];
        std::snprintf(line, sizeof line, k.line, seq);
        LARGE_INTEGER a, b;
        ::QueryPerformanceCounter(&a);
        ++r.Sent;
        if (!client.Send(std::string(line) + "\r\n") || !client.ReadLine(answer)) {
          r.Lost += requests - i;
          return;
        }
        ::QueryPerformanceCounter(&b);
        const std::string prefix = std::to_string(seq) + ",";
        const bool ok = answer.compare(0, prefix.size(), prefix) == 0 &&
                        (!checkText || !k.answer || answer.substr(prefix.size()) == k.answer);
        if (ok) {
          ++r.Matched;
          r.LatenciesMs.push_back(double(b.QuadPart - a.QuadPart) * 1000.0 / double(freq.QuadPart));
        } else {
          ++r.Wrong;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  ::QueryPerformanceCounter(&t1);
  TLoadResult total;
  total.Seconds = double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart);
  for (auto& r : per) {
    total.Sent += r.Sent;
    total.Matched += r.Matched;
    total.Wrong += r.Wrong;
    total.Lost += r.Lost;
    total.Unconnected += r.Unconnected;
    total.LatenciesMs.insert(total.LatenciesMs.end(), r.LatenciesMs.begin(), r.LatenciesMs.end());
  }
  std::sort(total.LatenciesMs.begin(), total.LatenciesMs.end());
  return total;
}
