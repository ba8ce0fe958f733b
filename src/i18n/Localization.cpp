#include "i18n/Localization.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "common/GenericAPI.h"
#include "common/TextUtil.h"
#include "i18n/StringTable.h"

std::unique_ptr<TFilePool> gFilePool;
std::unique_ptr<TLocalization> gLocalization;

namespace {

namespace fs = std::filesystem;

fs::path FsPath(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

std::string Utf8Of(const fs::path& p) {
  const std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

// A file, not a folder, exists at Path; a name that is no path at all names no file.
bool FileExists(const std::string& path) {
  std::error_code ec;
  try {
    return !path.empty() && fs::is_regular_file(FsPath(path), ec);
  } catch (const std::exception&) {
    return false;
  }
}

bool ForceDirectories(const std::string& dir) {
  std::error_code ec;
  try {
    const fs::path p = FsPath(dir);
    fs::create_directories(p, ec);
    return fs::is_directory(p, ec);
  } catch (const std::exception&) {
    return false;
  }
}

std::string TempDir() {
  std::error_code ec;
  const fs::path p = fs::temp_directory_path(ec);
  if (ec || p.empty()) return {};
  return IncludeTrailingSeparator(Utf8Of(p));
}

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
    if (!ForceDirectories(FPoolDir)) continue;
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
  if (!FileExists(packPath)) return false;
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
    return FileExists(path) ? path : std::string();
  }
  const std::string temp = TempDir();
  if (temp.empty()) return {};
  FCab.List();
  ForceDirectories(temp);
  FCab.TargetPath = temp;
  const std::string result = temp + fileName;
  const bool named = std::find(FExtractedNames.begin(), FExtractedNames.end(), fileName) !=
                     FExtractedNames.end();
  if (!FileExists(result) || !named) {
    if (!named) FExtractedNames.push_back(fileName);
    FCab.ExtractFile(fileName);
  }
  return result;
}

void TFilePool::FindFiles(const std::string& mask, std::vector<std::string>& list) {
  list.clear();
  if (!FExtracted) return;
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(FsPath(FPoolDir), ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = Utf8Of(it->path().filename());
    if (MatchesMask(name, mask)) names.push_back(std::move(name));
  }
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
  if (!FileExists(pack)) return;
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
