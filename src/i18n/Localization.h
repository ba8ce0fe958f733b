// Language packs: the pool of unpacked pack files and the set-up of the chosen language.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/SystemPorts.h"
#include "i18n/cabfiles.h"

// Name of the pool folder below the work folder.
inline constexpr const char* kPoolFolderName = "__LanguageFiles";
// Mask of the string-table files of a pack.
inline constexpr const char* kStringTableMask = "strtab*";

// Owns the files unpacked from the language packs and finds them by file name.
class TFilePool {
 public:
  // Points the reader at PackPath (listing it when not empty) and registers it; the pool
  // folder is made below WorkDir, or below FallbackDir when WorkDir is empty. Extracts nothing.
  TFilePool(const std::string& packPath, const std::string& workDir,
            const std::string& fallbackDir);

  // Unpacks every registered pack into the pool folder; a pack whose folder cannot be made
  // is skipped and leaves the pool unextracted, and a pack whose files the pool already holds
  // as its extraction left them is not written again.
  void ExtractAll();
  // Registers a further pack (unpacking it when the pool is unpacked already); true when it
  // was new and exists.
  bool AddPack(const std::string& packPath);
  // The full path of the unpacked copy of FileName, or empty. Without a pool folder the file
  // is extracted on demand into the system's temporary folder.
  std::string GetFileName(const std::string& fileName);
  // Fills List with the full paths of the pool's files matching Mask ("*" and "?", letter
  // case ignored), in the order NTFS lists a folder (see PrecedesInFolderListing) whatever the
  // file system underneath, so the string table merged last wins as it does on Windows.
  void FindFiles(const std::string& mask, std::vector<std::string>& list);

  // The pool folder (the work folder until the first unpacking).
  const std::string& PoolDir() const { return FPoolDir; }
  // Whether the packs have been unpacked into the pool folder.
  bool Extracted() const { return FExtracted; }

 private:
  TCABFile FCab;
  std::vector<std::string> FExtractedNames;
  bool FExtracted = false;
  std::vector<std::string> FPacks;
  std::string FPoolDir;
  std::string FFallbackDir;
};

// Finds the language pack by name and loads it into the pool and the string table.
class TLocalization {
 public:
  // ResourceDir is the language-pack folder, WorkDir the folder below which the pool is made,
  // FallbackDir the pool's place when WorkDir is empty; Clock and Pump serve the wait for a
  // busy pack. Touches no file.
  TLocalization(const std::string& resourceDir, const std::string& workDir,
                const std::string& fallbackDir, IClock& clock, IMessagePump& pump);

  // Opens the pack PackName (without ".lpk") and merges its string tables into gStringTable.
  void SetLanguage(const std::string& packName);
  // Opens ResourceDir + PackName + ".lpk" in gFilePool, creating and unpacking the pool on the
  // first pack; a missing pack changes nothing.
  void OpenPack(const std::string& packName);
  // Merges every "strtab*" file of the pool into gStringTable, in name order.
  void LoadStringTables();

  // The file name of the pack opened last, or empty.
  const std::string& PackName() const { return FPackName; }

 private:
  std::string FResourceDir;
  std::string FPackName;
  std::string FWorkDir;
  std::string FFallbackDir;
  IClock& FClock;
  IMessagePump& FPump;
};

// The process-wide pool; none until the first pack is opened.
extern std::unique_ptr<TFilePool> gFilePool;
// The process-wide localization; none until start-up creates it.
extern std::unique_ptr<TLocalization> gLocalization;

// Creates gLocalization for ResourceDir and WorkDir with the program folder as pool fallback,
// the system clock and the window thread's message pump (Windows build).
void CreateLocalization(const std::string& resourceDir, const std::string& workDir);
// Releases gLocalization, gStringTable and gFilePool, in this order. Nothing is deleted on disk.
void FinalizeLocalizationModule();
