// Shell folder listing on the Win32 shell (Windows-only header).
#pragma once

#include "common/GenericShellAPI.h"
#include "common/ScopedHandle_win.h"
#include "common/WinApi.h"

#include <shlobj.h>

#include <string>
#include <vector>

// One owned shell item-id list.
using TItemIdList = TScopedCoMem<ITEMIDLIST>;

// Clears list and appends the item-id list of each item of the folder (an absolute item-id
// list) that the shell lists for kinds, for no owner window. The list stays empty when the
// folder cannot be bound or listed; raises EOleSysError when the shell's desktop folder cannot
// be obtained. Needs COM on the calling thread.
void EnumFolderItems(PCIDLIST_ABSOLUTE folder, TFolderItemKinds kinds,
                     std::vector<TItemIdList>& list);

// The file-system path of the shell special folder csidl, without trailing separator and
// without creating or checking the folder; empty when it has no path.
std::wstring SpecialFolderPath(int csidl);
