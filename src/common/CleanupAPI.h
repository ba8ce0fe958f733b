// Browser and folder clean-up primitives and the counting functions that measure what there is
// to clean, for the current user (portable interface; the shell and file parts are implemented
// in the Windows build).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

class IRawRegistry;

// Where the browser keeps the saved form passwords (one value each) and the typed URLs, below
// HKEY_CURRENT_USER.
inline constexpr const char* kSavedPasswordsKey =
    "\\Software\\Microsoft\\Internet Explorer\\IntelliForms\\SPW";
inline constexpr const char* kTypedUrlsKey = "\\Software\\Microsoft\\Internet Explorer\\TypedURLs";

// The number of saved passwords (values of the key); 0 when the key cannot be opened. Never
// creates the key.
int64_t CountSavedPasswords(IRawRegistry& reg);
// The same on the machine's registry (Windows build).
int64_t CountSavedPasswords();
// Deletes every saved password and returns how many were deleted; 0 when the key cannot be
// opened. Never creates the key.
int64_t ClearSavedPasswords(IRawRegistry& reg);
// The same on the machine's registry (Windows build).
int64_t ClearSavedPasswords();

// The number of typed URLs (values of the key); 0 when the key cannot be opened.
int64_t CountTypedUrls(IRawRegistry& reg);
// The same on the machine's registry (Windows build).
int64_t CountTypedUrls();
// Deletes the typed-URL key with everything in it when it exists.
void DeleteTypedUrlsKey(IRawRegistry& reg);
// Clears the browser's URL history through its history object, then deletes the typed-URL
// key. Raises EOleSysError with the system's text when the object cannot be created or lacks
// the clearing interface; the key is then left untouched. Needs COM on the calling thread
// (Windows build).
void ClearTypedUrls();

// Deletes the contents of the shell special folder csidl (DeleteFolderContents); does nothing
// when the folder cannot be resolved. Never creates the folder (Windows build).
void ClearSpecialFolder(int csidl);
// Clears the Temporary Internet Files folder (CSIDL 32) (Windows build).
void ClearInternetCache();
// Clears the Windows temporary folder (GetTempPath) when there is one (Windows build).
void ClearTempFolder();

// The number of cookies: plain, non-hidden files the shell lists in the Cookies folder (CSIDL
// 33) that are exactly there (a link is no cookie); 0 when the folder cannot be resolved or is
// one the clearing leaves alone (ProtectedFolders.h). Raises EOleSysError when the shell's desktop folder
// cannot be obtained. Needs COM on the calling thread (Windows build).
int64_t CountCookies();

// The size in bytes of the file itself (a link is never followed), taken through a handle
// opened for reading; 0 when it cannot be opened (held open without sharing, missing, no
// access) or names a folder (Windows build).
int64_t GetFileSizeOf(std::string_view fileName);
// The total size of the files below Dir, each opened for reading as GetFileSizeOf does (one that
// cannot be opened counts 0); links are neither entered nor counted; 0 for a missing folder.
// What DeleteFolderContents leaves alone counts nothing: 0 for a protected folder, nothing of a
// folder below holding a guard file (Windows build).
int64_t GetFolderSize(std::string_view dir);

// The figures of one count pass.
struct TCountFigures {
  // Bytes below the Temporary Internet Files folder; empty when the folder is unknown.
  std::optional<int64_t> InternetCacheBytes;
  int64_t Cookies = 0;
  // Bytes below the Windows temporary folder; empty when there is none.
  std::optional<int64_t> TempFilesBytes;
  int64_t SavedPasswords = 0;
  int64_t TypedUrls = 0;
};

// The figures of a count pass, in the order it measures them.
enum class TCountItem { ciInternetCache, ciCookies, ciTempFiles, ciSavedPasswords, ciTypedUrls };

// Hears each figure as soon as the pass has measured it, with the figures so far.
using TCountSink = std::function<void(TCountItem item, const TCountFigures& figures)>;

// Measures everything the disk cleanup can clear, in the order of TCountItem, reading only:
// nothing on disk or in the registry is changed or created. Runs on any thread: it initialises
// COM on the calling thread for its own duration when needed. Raises EOleSysError when the
// shell's desktop folder cannot be obtained (the figures already handed to onFigure stand)
// (Windows build).
TCountFigures CountPass(const TCountSink& onFigure = {});
