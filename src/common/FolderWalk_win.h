// Walking, measuring and deleting folder trees through handles that the system confirms to be
// the very object named, so that neither a link nor a folder swapped for one leads anywhere
// else (Windows-only header).
//
// Every object is opened by a path built from its folder's final path and the name a listing
// gave, and confirmed by the name the system gives the object opened, built the same way from
// the folder's system name: a handle whose name differs has been led elsewhere by a link. The
// listing alone cannot be trusted: Wine shows a symbolic link to a file as that file and
// deletes the target through it. (System names, unlike final paths, have no length limit
// under Wine.)
#pragma once

#include "common/ScopedHandle_win.h"
#include "common/WinApi.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// One entry of a folder listing.
struct TFolderEntry {
  std::wstring_view Name;
  DWORD Attributes = 0;
  DWORD ReparseTag = 0;  // with FILE_ATTRIBUTE_REPARSE_POINT; 0 when the system gives none
  int64_t Size = 0;
};

// A folder or file as the walks see it: the path to open it by ("\\?\" form) and the name the
// system gives it once opened.
struct TObjectName {
  std::wstring Path;
  std::wstring SystemName;
  // The entry name of this folder.
  TObjectName Child(std::wstring_view name) const;
};

// The folder named by path (a link at path itself is followed) by its final path; both names
// empty when path names no folder that can be opened.
TObjectName ResolveFolder(const std::wstring& path);

// Whether a listed entry is a link to another object (symbolic link, junction, mount point, or
// a reparse point whose tag the system does not report); other reparse points are real data.
bool IsLinkEntry(DWORD attributes, DWORD reparseTag);

// Whether the object behind handle is exactly the one named: the system's name for it equals
// the expected one letter for letter (Unix folders under Wine can differ in case alone).
// Wine names objects without the trailing dots and blanks of their names' components; a name
// spelled so matches unless the object opened by that spelling is this very object, which it
// is when a link led there.
bool IsAt(HANDLE handle, const TObjectName& name);

// One entry of a folder listing, kept.
struct TListedEntry {
  std::wstring Name;
  DWORD Attributes = 0;
  DWORD ReparseTag = 0;
  int64_t Size = 0;
};

// Every entry of an open folder except "." and "..".
std::vector<TListedEntry> ListEntries(HANDLE folder);

// The first entry whose name is one of the guard files (kGuardFileNames), or empty.
std::wstring GuardFileIn(const std::vector<TListedEntry>& entries);

// Decides whether a walk may go into a folder (the top one too), given the folder and the name of
// a guard file its listing holds (empty when none); false leaves it and all in it as they are.
using TFolderGate = std::function<bool(const TObjectName& folder, const std::wstring& guardFile)>;

// Opens the folder for listing; invalid when it is a link, not a folder, or not exactly the
// one named.
TScopedFileHandle OpenFolderForListing(const TObjectName& folder);

// Calls onEntry for each entry of an open folder except "." and "..".
void ListFolder(HANDLE folder, const std::function<void(const TFolderEntry&)>& onEntry);

// Deletes the object itself (a link, never its target), given the attributes its listing
// showed; a read-only attribute is cleared first and put back when the deletion fails. False
// when it is not exactly the one named or cannot be deleted.
bool DeleteExact(const TObjectName& object, DWORD attributes);

// Deletes everything below the folder (from ResolveFolder) that the gate lets the walk into; the
// folder stays.
void DeleteTree(const TObjectName& folder, const TFolderGate& gate);

// The size of the file as its listing gave it, provided it opens for reading and is exactly
// the one named; 0 otherwise.
int64_t MeasureExact(const TObjectName& file, int64_t listedSize);

// The total size of the files below the folder (from ResolveFolder) that the gate lets the walk
// into.
int64_t SizeOfTree(const TObjectName& folder, const TFolderGate& gate);

// Whether the object named is exactly there and is a plain file (no link, no folder).
bool IsPlainFileAt(const TObjectName& file);

// The path of the first link below the folder, in it or in any folder below it (symbolic
// links, junctions, mount points, other reparse points, and under Wine file links, which list
// as their targets), or of the first entry that cannot be told apart from one (it cannot be
// opened); empty when there is none.
std::wstring FirstLinkBelow(const TObjectName& folder);
