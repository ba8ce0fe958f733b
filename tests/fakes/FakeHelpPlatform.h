// The machine as the help launcher sees it, in memory: files and folders by name, file
// versions, the log lines written, and every request to a viewer.
#pragma once

#include "common/GenericAPI.h"
#include "common/TextUtil.h"
#include "help/hh_funcs.h"

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

class TFakeHelpPlatform final : public IHelpPlatform {
 public:
  std::string ControlPath = "C:\\Windows\\System32\\hhctrl.ocx";
  std::string Module = "C:\\Program Files\\Quor\\eBrisko.exe";
  std::string Program = "C:\\Program Files\\Quor\\eBrisko.exe";
  std::vector<std::string> Params;
  std::string Temp = "C:\\Temp\\";
  std::string Windows = "C:\\Windows";
  std::string System = "C:\\Windows\\System32";
  std::set<std::string> Files;          // lower-case full paths
  std::set<std::string> Dirs = {"c:\\temp"};
  std::set<std::string> ReadOnlyDirs;   // lower-case, without trailing "\"
  std::map<std::string, TFileVersion> Versions;  // by lower-case path
  std::map<std::string, std::vector<std::string>> Logs;  // lines by lower-case path
  std::vector<std::string> ProbesMade;
  TSystemInfo Sys{true, 10, 0, 19045, 0x0407, ","};
  TDisplayResult Display = TDisplayResult::Window;
  std::vector<std::string> Displayed;
  bool ShellSucceeds = true;
  unsigned long ShellError = 2;
  std::vector<std::pair<std::string, std::string>> Opened;
  std::vector<std::string> Warnings;

  std::string HelpControlPath() override { return ControlPath; }
  std::string ModuleFileName() override { return Module; }
  std::string ProgramFileName() override { return Program; }
  std::vector<std::string> Parameters() override { return Params; }
  std::string TempDir() override { return Temp; }
  std::string WindowsDir() override { return Windows; }
  std::string SystemDir() override { return System; }
  bool FileExists(const std::string& path) override { return Files.count(LowerAscii(path)) > 0; }
  bool DirectoryExists(const std::string& path) override { return Dirs.count(LowerAscii(path)) > 0; }
  bool CreateEmptyFile(const std::string& path) override {
    std::string dir = ExtractFilePath(path);
    if (!dir.empty()) dir.pop_back();
    if (ReadOnlyDirs.count(LowerAscii(dir))) return false;
    ProbesMade.push_back(path);
    Files.insert(LowerAscii(path));
    return true;
  }
  bool DeleteFile(const std::string& path) override {
    Logs.erase(LowerAscii(path));
    return Files.erase(LowerAscii(path)) > 0;
  }
  bool AppendLine(const std::string& path, const std::string& line) override {
    std::string dir = ExtractFilePath(path);
    if (!dir.empty()) dir.pop_back();
    if (ReadOnlyDirs.count(LowerAscii(dir))) return false;
    Files.insert(LowerAscii(path));
    Logs[LowerAscii(path)].push_back(line);
    return true;
  }
  TFileVersion FileVersion(const std::string& path) override {
    auto it = Versions.find(LowerAscii(path));
    return it == Versions.end() ? TFileVersion{} : it->second;
  }
  std::string LongTimeNow() override { return "10:11:12"; }
  std::string DateTimeNow() override { return "01.02.2024 10:11:12"; }
  TSystemInfo SystemInfo() override { return Sys; }
  TDisplayResult DisplayTopic(const std::string& path) override {
    Displayed.push_back(path);
    return Display;
  }
  bool ShellOpen(const std::string& program, const std::string& args, unsigned long& error) override {
    Opened.emplace_back(program, args);
    if (!ShellSucceeds) error = ShellError;
    return ShellSucceeds;
  }
  void ShowWarning(const std::string& text) override { Warnings.push_back(text); }

  // A file that exists with a version.
  void PutVersioned(const std::string& path, const TFileVersion& v) {
    Files.insert(LowerAscii(path));
    Versions[LowerAscii(path)] = v;
  }
  // The lines of the log at path.
  const std::vector<std::string>& LogOf(const std::string& path) { return Logs[LowerAscii(path)]; }
};
