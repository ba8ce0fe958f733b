// The protected folders of this machine and user, applied to what the disk cleanup counts and
// clears (Windows-only header).
#pragma once

#include "common/FolderWalk_win.h"
#include "common/ProtectedFolders.h"

#include <memory>
#include <string>

// Every folder of the table as this machine and the current user have it, each by its path
// and, when it exists, by its final path after links. Creates and verifies nothing.
TProtectedFolders LoadProtectedFolders();

// A folder the clean-up may count or clear, and the gate for every folder its walk enters.
struct TCleanupTarget {
  // Empty when dir names no folder, or one that must be left alone.
  TObjectName Folder;
  TFolderGate Gate;
};

// Resolves dir (a link at dir itself is followed) for counting or clearing. A protected folder,
// by the name given or by where it leads, or the root of a mounted volume, gives an empty
// target. The gate refuses the same below, and any folder holding a guard file. Each refusal
// writes one line to the diagnostic log: "[who]Left <folder> alone: <reason>".
TCleanupTarget CleanupTarget(const std::wstring& dir, const std::string& who);
// The same with the protected folders already looked up (one look-up serves a whole count pass).
TCleanupTarget CleanupTarget(const std::wstring& dir, const std::string& who,
                             std::shared_ptr<const TProtectedFolders> guarded);
