// Reader of cabinet archives (language packs) through the system's cabinet decoder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A local date and time as a cabinet stores it (two-second steps).
struct TCABDateTime {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
  bool operator==(const TCABDateTime&) const = default;
};

// Decodes the packed DOS date and time words of a cabinet entry.
TCABDateTime DecodeDosDateTime(uint16_t dosDate, uint16_t dosTime) noexcept;

// One file of an archive.
struct TCABFileEntry {
  std::string Name;   // as stored, possibly with a relative folder part ("sub\name")
  int32_t Size = 0;   // uncompressed bytes
  TCABDateTime Date;  // stored local date and time
};

// The listing of an archive, in archive order.
using TCABFileContents = std::vector<TCABFileEntry>;

// Whether a stored name stays below the target folder and names a file there: relative, no
// drive, no stream, no ".." part, no part named after a device. Names that fail are never
// extracted.
bool IsSafeArchiveName(std::string_view name) noexcept;
// Whether one path part names a device ("CON", "nul.txt", "COM1 .ini", "CONOUT$"): the
// system opens the device for such a name in any folder, whatever extension follows.
bool IsDeviceName(std::string_view part) noexcept;

// Whether name a comes before name b in an NTFS folder listing: UTF-16 code units compared
// after upper-casing, so "strtabFix.ini" comes before "strtab_eBrisko.ini" ("F" < "_").
// Letters beyond ASCII are not folded.
bool PrecedesInFolderListing(std::string_view a, std::string_view b);

// The folder part of a stored name ("a\b\c.txt" gives "a\b\"; "c.txt" gives "").
std::string ArchiveFolderPart(std::string_view name);

// Opens one archive, lists it and extracts all of it or one file into TargetPath.
class TCABFile {
 public:
  using TProgressEvent =
      std::function<void(TCABFile& sender, const std::string& fileName, int pos, int tot)>;
  using TOverwriteEvent =
      std::function<void(TCABFile& sender, const std::string& fileName, bool& allow)>;
  using TSystemErrorEvent = std::function<void(unsigned long code)>;

  // The archive file (UTF-8 path).
  std::string CABFile;
  // Folder to extract into; empty means the current directory.
  std::string TargetPath;
  // Called after every block written: file being written, bytes so far, its full size.
  TProgressEvent OnDecompressProgress;
  // Asked before an existing file is replaced; Allow starts true.
  TOverwriteEvent OnOverWriteFile;
  // Reports a failed write, close or seek; none means ShowSystemError.
  TSystemErrorEvent OnSystemError;

  // The listing filled by the last List.
  const TCABFileContents& CABFileContents() const { return FContents; }

  // Clears CABFileContents and fills it from the archive; writes nothing.
  void List();
  // Extracts every file; true on success.
  bool ExtractAll();
  // Extracts the one file whose stored name equals Name (letter case ignored); true on success.
  bool ExtractFile(const std::string& name);
  // Whether every file of the last listing that extraction would write is already under
  // TargetPath as extraction leaves it: a file of the same size whose last write is the stored
  // date. False for an empty listing.
  bool TargetHoldsListing() const;
  // One run in the current mode; 0 on success, -1 on failure. Nothing is reported: a missing
  // file, a missing decoder or a file that is not a cabinet just give -1.
  int Process();

  enum class TCABMode { cmList, cmExtractAll, cmExtractFile };
  // Whether the run in Mode extracts the stored Name.
  bool Wants(std::string_view name) const;
  // The full target name of a stored name under TargetPath.
  std::string TargetName(std::string_view name) const;
  // The folder that receives a stored name under TargetPath (with trailing "\" unless empty).
  std::string TargetFolder(std::string_view name) const;

 private:
  friend struct TCABCallbacks;

  TCABFileContents FContents;
  // The packed DOS date and time of each listed file, as stored.
  std::vector<std::pair<uint16_t, uint16_t>> FDosDates;
  TCABMode FMode = TCABMode::cmList;
  std::string FWanted;
};

// Shows the system's text for a nonzero error code in a warning box titled "Error".
void ShowSystemError(unsigned long code);
