// The process-wide objects come into being in one written-down order and go in the reverse
// order; C++ static initialisation across files has no defined order, so nothing relies on it.
#pragma once

#include <functional>
#include <string>
#include <vector>

class TModuleList {
 public:
  using TStep = std::function<void()>;

  // Appends a module whose initialization runs after every module added before it.
  void Add(std::string name, TStep initialize, TStep finalize = {});
  // Runs the initializations in order. A failing one is reported through onError and leaves
  // its objects at their defaults; the later modules still run.
  void InitializeAll(const std::function<void(const std::string& module, const std::string& error)>& onError = {});
  // Runs the finalizations of the initialized modules in reverse order; safe to call twice.
  void FinalizeAll() noexcept;
  // Names of the modules in order of initialization.
  std::vector<std::string> Names() const;

 private:
  struct TEntry {
    std::string Name;
    TStep Initialize;
    TStep Finalize;
    bool Initialized = false;
  };
  std::vector<TEntry> FEntries;
};
