// Shell folders (portable interface; implemented in the Windows build).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

// The file-system path of the shell special folder csidl, without trailing separator; empty
// when it cannot be resolved (failures are logged as "[GPGetSpecialFolder]" + message).
std::string GPGetSpecialFolder(int csidl);

// The all-users application-data folder (CSIDL 35) with trailing separator, or empty.
const std::string& GetCommonAppDataDir();
// The per-user application-data folder (CSIDL 26) with trailing separator, or empty.
const std::string& GetUserAppDataDir();

// Resolves both folders; runs once before the main routine.
void InitializeShellModule();
// Clears both folders.
void FinalizeShellModule();

// One kind of item a shell folder listing may return.
enum class TFolderItemKind : uint8_t { fikFolders, fikNonFolders, fikHidden };

// A set of folder item kinds; its flag word is the sum of the shell's listing flags of its
// members (SHCONTF_FOLDERS 32, SHCONTF_NONFOLDERS 64, SHCONTF_INCLUDEHIDDEN 128).
class TFolderItemKinds {
 public:
  constexpr TFolderItemKinds() noexcept = default;
  constexpr TFolderItemKinds(std::initializer_list<TFolderItemKind> kinds) noexcept {
    for (const TFolderItemKind k : kinds) FBits |= Bit(k);
  }
  // Whether kind is a member.
  constexpr bool Contains(TFolderItemKind kind) const noexcept { return (FBits & Bit(kind)) != 0; }
  // The shell listing flags of the members.
  constexpr uint32_t ShellFlags() const noexcept {
    return (Contains(TFolderItemKind::fikFolders) ? 32u : 0u) |
           (Contains(TFolderItemKind::fikNonFolders) ? 64u : 0u) |
           (Contains(TFolderItemKind::fikHidden) ? 128u : 0u);
  }

 private:
  static constexpr uint8_t Bit(TFolderItemKind k) noexcept {
    return static_cast<uint8_t>(1u << static_cast<unsigned>(k));
  }
  uint8_t FBits = 0;
};
