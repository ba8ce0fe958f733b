// TRegistry64: the registry accessor that can open keys for reading in the 64-bit view
// (portable).
#pragma once

#include "common/Registry.h"

// A TRegistry whose read-only opens can reach the 64-bit registry view; every other operation
// works in the process's ordinary view.
class TRegistry64 : public TRegistry {
 public:
  // An accessor on reg with root HKEY_CURRENT_USER, full access and the ordinary view.
  explicit TRegistry64(IRawRegistry& reg, bool use64BitView = false);

  // Whether OpenKeyReadOnly adds the 64-bit view flag (KEY_WOW64_64KEY) to every mask it tries.
  bool Use64BitView() const noexcept { return FUse64BitView; }
  // Chooses the view of later OpenKeyReadOnly calls.
  void SetUse64BitView(bool value) noexcept { FUse64BitView = value; }

  // As TRegistry::OpenKeyReadOnly, each mask tried in the 64-bit view when Use64BitView; the
  // access mask remembered on success is the one without the view flag.
  bool OpenKeyReadOnly(std::string_view key) override;

 private:
  bool FUse64BitView;
};
