// Walking, measuring and deleting folder trees through handles that the system confirms to be
// the very object named, so that neither a link nor a folder swapped for one leads anywhere
// else (Windows-only header).
//
// Paths here are final paths in the "\\?\" form (as ResolveFolder returns them) joined with the
// names a listing gave: a handle whose final path differs from the path it was opened by has
// been led elsewhere by a link (Wine shows a symbolic link to a file as that file and deletes
// the target through it, so the listing alone cannot be trusted).
#pragma once

#include "common/ScopedHandle_win.h"
#include "common/WinApi.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// One entry of a folder listing.
struct TFolderEntry {
  std::wstring_view Name;
  DWORD Attributes = 0;
  DWORD ReparseTag = 0;  // with FILE_ATTRIBUTE_REPARSE_POINT; 0 when the system gives none
  int64_t Size = 0;
};

// The final path of the folder named by path (a link at path itself is followed), in the
// "\\?\" form; empty when path names no folder that can be opened.
std::wstring ResolveFolder(const std::wstring& path);

// dir and name joined by one separator.
std::wstring JoinPath(const std::wstring& dir, std::wstring_view name);

// Whether a listed entry is a link to another object (symbolic link, junction, mount point, or
// a reparse point whose tag the system does not report); other reparse points are real data.
bool IsLinkEntry(DWORD attributes, DWORD reparseTag);

// Whether the object behind handle sits at exactly path.
bool IsAt(HANDLE handle, const std::wstring& path);

// Opens the folder at path for listing; invalid when it is a link, not a folder, or not
// exactly at path.
TScopedFileHandle OpenFolderForListing(const std::wstring& path);

// Calls onEntry for each entry of an open folder except "." and "..".
void ListFolder(HANDLE folder, const std::function<void(const TFolderEntry&)>& onEntry);

// Deletes the object at path itself (a link, never its target), given the attributes its
// listing showed; a read-only attribute is cleared first and put back when the deletion fails.
// False when it is not exactly at path or cannot be deleted.
bool DeleteExact(const std::wstring& path, DWORD attributes);

// Deletes everything below the folder at path (a final path); the folder stays.
void DeleteTree(const std::wstring& path);

// The size of the file at path as its listing gave it, provided the file opens for reading
// and is exactly at path; 0 otherwise.
int64_t MeasureExact(const std::wstring& path, int64_t listedSize);

// The total size of the files below the folder at path (a final path).
int64_t SizeOfTree(const std::wstring& path);
