#include "app/ModuleList.h"

#include <exception>

void TModuleList::Add(std::string name, TStep initialize, TStep finalize) {
  FEntries.push_back({std::move(name), std::move(initialize), std::move(finalize), false});
}

void TModuleList::InitializeAll(
    const std::function<void(const std::string&, const std::string&)>& onError) {
  for (TEntry& e : FEntries) {
    if (e.Initialized) continue;
    try {
      if (e.Initialize) e.Initialize();
    } catch (const std::exception& ex) {
      if (onError) onError(e.Name, ex.what());
    }
    // Finalization runs for a failed module as well: it releases whatever was half made.
    e.Initialized = true;
  }
}

void TModuleList::FinalizeAll() noexcept {
  for (auto it = FEntries.rbegin(); it != FEntries.rend(); ++it) {
    if (!it->Initialized) continue;
    it->Initialized = false;
    try {
      if (it->Finalize) it->Finalize();
    } catch (...) {
      // Nothing can be reported any more at process end.
    }
  }
}

std::vector<std::string> TModuleList::Names() const {
  std::vector<std::string> names;
  for (const TEntry& e : FEntries) names.push_back(e.Name);
  return names;
}
