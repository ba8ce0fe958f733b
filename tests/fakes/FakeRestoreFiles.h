// An in-memory file store for the tweak engine's tests: files by exact path, refusable reads
// and writes, read-only targets, a disk that fills up, and a simulated crash at any step of a
// save (header-only).
#pragma once

#include "optimize/OptimizeIt.h"

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

// Thrown by the fake where the process would have died.
struct TFakeCrash {};

class TFakeRestoreFiles final : public IRestoreFileSystem {
 public:
  static constexpr long kDiskFull = 112;
  static constexpr long kUnreadable = 1117;  // ERROR_IO_DEVICE

  // The steps of a save at which a crash can be simulated.
  enum class TStep { BeforeWrite, DuringWrite, AfterWrite, BeforeReplace, AfterReplace };

  long ReadText(const std::string& path, std::string& text) override {
    if (FUnreadable.count(path)) return kUnreadable;
    const auto it = FFiles.find(path);
    if (it == FFiles.end()) return kErrorFileNotFound;
    text = it->second;
    return kErrorSuccess;
  }

  long WriteTextFlushed(const std::string& path, std::string_view text) override {
    Step(TStep::BeforeWrite);
    if (FCrashAt == TStep::DuringWrite) {
      FFiles[path] = std::string(text.substr(0, text.size() / 2));
      Step(TStep::DuringWrite);
    }
    if (const long fault = WriteFault ? WriteFault() : kErrorSuccess; fault != kErrorSuccess) {
      // A full disk takes part of the text before it refuses the rest.
      FFiles[path] = std::string(text.substr(0, text.size() / 3));
      return fault;
    }
    if (FFree && text.size() > *FFree) {
      FFiles[path] = std::string(text.substr(0, *FFree));
      return kDiskFull;
    }
    FFiles[path] = std::string(text);
    Step(TStep::AfterWrite);
    return kErrorSuccess;
  }

  long ReplaceWith(const std::string& target, const std::string& source) override {
    Step(TStep::BeforeReplace);
    if (FReadOnly.count(target) && FFiles.count(target)) return kErrorAccessDenied;
    const auto it = FFiles.find(source);
    if (it == FFiles.end()) return kErrorFileNotFound;
    FFiles[target] = it->second;
    FFiles.erase(source);
    Step(TStep::AfterReplace);
    return kErrorSuccess;
  }

  long RemoveFile(const std::string& path) override {
    FFiles.erase(path);
    return kErrorSuccess;
  }

  std::string ErrorText(long code) override { return "System error " + std::to_string(code) + "."; }

  // The code page of the fake is Latin-1: every character up to U+00FF, nothing above.
  bool CodePageHolds(std::string_view text) override {
    for (size_t i = 0; i < text.size(); ++i) {
      const auto c = static_cast<unsigned char>(text[i]);
      if (c < 0x80) continue;
      if ((c & 0xE0) != 0xC0 || c > 0xC3 || i + 1 >= text.size()) return false;
      ++i;
    }
    return true;
  }

  // The content of path, if the file exists.
  std::optional<std::string> File(const std::string& path) const {
    const auto it = FFiles.find(path);
    if (it == FFiles.end()) return std::nullopt;
    return it->second;
  }
  // Every file, by path.
  const std::map<std::string, std::string>& Files() const { return FFiles; }
  // Stores a file as it is.
  void Put(const std::string& path, std::string text) { FFiles[path] = std::move(text); }
  // Makes path unreadable (reads fail with kUnreadable).
  void MakeUnreadable(const std::string& path) { FUnreadable.insert(path); }
  // Marks path read-only: replacing it is refused.
  void MakeReadOnly(const std::string& path) { FReadOnly.insert(path); }
  // Leaves room for bytes more per written file (none: unlimited).
  void SetFreeSpace(std::optional<size_t> bytes) { FFree = bytes; }
  // Throws TFakeCrash at step of the next save that reaches it; nullopt: never.
  void CrashAt(std::optional<TStep> step) { FCrashAt = step; }
  // Called before each write; a code other than kErrorSuccess makes the write fail.
  std::function<long()> WriteFault;

 private:
  void Step(TStep step) {
    if (FCrashAt == step) {
      FCrashAt.reset();
      throw TFakeCrash{};
    }
  }

  std::map<std::string, std::string> FFiles;
  std::set<std::string> FUnreadable;
  std::set<std::string> FReadOnly;
  std::optional<size_t> FFree;
  std::optional<TStep> FCrashAt;
};
