#include "i18n/Localization.h"

#include <algorithm>
#include <stdexcept>

#include "common/FileSystem.h"
#include "common/GenericAPI.h"
#include "common/TextUtil.h"
#include "i18n/StringTable.h"

std::unique_ptr<TFilePool> gFilePool;
std::unique_ptr<TLocalization> gLocalization;

namespace {

bool MatchesMask(std::string_view name, std::string_view mask) {
  if (mask.empty()) return name.empty();
  if (mask.front() == '*') {
    for (size_t i = 0; i <= name.size(); ++i)
      if (MatchesMask(name.substr(i), mask.substr(1))) return true;
    return false;
  }
  if (name.empty()) return false;
  if (mask.front() != '?' && !SameText(name.substr(0, 1), mask.substr(0, 1))) return false;
  return MatchesMask(name.substr(1), mask.substr(1));
}

}  // namespace

TFilePool::TFilePool(const std::string& packPath, const std::string& workDir,
                     const std::string& fallbackDir)
    : FPoolDir(workDir), FFallbackDir(fallbackDir) {
  FCab.CABFile = packPath;
  if (!packPath.empty()) FCab.List();
  FPacks.push_back(packPath);
}

void TFilePool::ExtractAll() {
  for (const std::string& pack : FPacks) {
    if (FPoolDir.empty()) {
      FPoolDir = IncludeTrailingSeparator(FFallbackDir) + kPoolFolderName;
    } else if (FPoolDir.find(kPoolFolderName) == std::string::npos) {
      FPoolDir += kPoolFolderName;
    }
    FPoolDir = IncludeTrailingSeparator(FPoolDir);
    if (!ForceFolders(FPoolDir)) continue;
    FCab.CABFile = pack;
    FCab.List();
    FCab.TargetPath = FPoolDir;
    // The pool keeps what earlier starts unpacked: a pack whose every file is there as its
    // extraction left it (size and stored date) is not written again.
    if (!FCab.TargetHoldsListing()) FCab.ExtractAll();  // a failed file is simply missing later
    FExtracted = true;
  }
}

bool TFilePool::AddPack(const std::string& packPath) {
  for (const std::string& known : FPacks)
    if (SameText(known, packPath)) return false;
  if (!IsFile(packPath)) return false;
  FCab.CABFile = packPath;
  FCab.List();
  FExtractedNames.clear();
  if (FExtracted) {
    FCab.ExtractAll();
    FPacks.push_back(packPath);
  }
  return true;
}

std::string TFilePool::GetFileName(const std::string& fileName) {
  if (FExtracted) {
    const std::string path = IncludeTrailingSeparator(FCab.TargetPath) + fileName;
    return IsFile(path) ? path : std::string();
  }
  const std::string temp = TempFolder();
  if (temp.empty()) return {};
  FCab.List();
  ForceFolders(temp);
  FCab.TargetPath = temp;
  const std::string result = temp + fileName;
  const bool named = std::find(FExtractedNames.begin(), FExtractedNames.end(), fileName) !=
                     FExtractedNames.end();
  if (!IsFile(result) || !named) {
    if (!named) FExtractedNames.push_back(fileName);
    FCab.ExtractFile(fileName);
  }
  return result;
}

void TFilePool::FindFiles(const std::string& mask, std::vector<std::string>& list) {
  list.clear();
  if (!FExtracted) return;
  std::vector<std::string> names;
  for (std::string& name : FolderEntryNames(FPoolDir))
    if (MatchesMask(name, mask)) names.push_back(std::move(name));
  std::sort(names.begin(), names.end(), PrecedesInFolderListing);
  for (const std::string& name : names) {
    std::string path = GetFileName(name);
    if (!path.empty()) list.push_back(std::move(path));
  }
}

TLocalization::TLocalization(const std::string& resourceDir, const std::string& workDir,
                             const std::string& fallbackDir, IClock& clock, IMessagePump& pump)
    : FResourceDir(IncludeTrailingSeparator(resourceDir)),
      FWorkDir(IncludeTrailingSeparator(workDir)),
      FFallbackDir(fallbackDir),
      FClock(clock),
      FPump(pump) {}

void TLocalization::SetLanguage(const std::string& packName) {
  OpenPack(packName);
  LoadStringTables();
}

void TLocalization::OpenPack(const std::string& packName) {
  const std::string pack = FResourceDir + packName + ".lpk";
  if (!IsFile(pack)) return;
  if (gFilePool) {
    try {
      gFilePool->AddPack(pack);
    } catch (const std::exception&) {
      // The pack may still be held by another program: give it 2.2 s, then try once more.
      for (int i = 0; i < 11; ++i) {
        FClock.SleepMs(200);
        FPump.ProcessMessages();
      }
      gFilePool->AddPack(pack);
    }
  } else {
    gFilePool = std::make_unique<TFilePool>(pack, FWorkDir, FFallbackDir);
    gFilePool->ExtractAll();
  }
  FPackName = packName + ".lpk";
}

void TLocalization::LoadStringTables() {
  if (!gFilePool || !gStringTable) return;
  std::vector<std::string> files;
  gFilePool->FindFiles(kStringTableMask, files);
  for (const std::string& file : files) gStringTable->LoadFile(file);
}

void FinalizeLocalizationModule() {
  gLocalization.reset();
  gStringTable.reset();
  gFilePool.reset();
}
