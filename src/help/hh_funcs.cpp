#include "help/hh_funcs.h"

#include "common/GenericAPI.h"
#include "common/TextUtil.h"

#include <cstdarg>
#include <cstdio>

namespace {

// A release name for the first row whose version the given one reaches.
struct TNamedVersion {
  uint16_t Major, Minor, Release, Build;
  const char* Name;
};

const TNamedVersion kHHReleases[] = {
    {4, 74, 9273, 0, "1.33"},  {4, 74, 8857, 0, "1.32"}, {4, 74, 8793, 0, "1.31"},
    {4, 74, 8702, 0, "1.3"},   {4, 73, 8561, 0, "1.22"}, {4, 73, 8474, 0, "1.21a"},
    {4, 73, 8412, 0, "1.21"},  {4, 73, 8252, 0, "1.2"},  {4, 72, 8164, 0, "1.1b"},
    {4, 72, 7325, 0, "1.1a"},  {4, 72, 7323, 0, "1.1"},  {4, 72, 7290, 0, "1.0"},
};

const TNamedVersion kIEReleases[] = {
    {6, 0, 2600, 0, "Internet Explorer 6 (Windows XP)"},
    {6, 0, 2479, 6, "Internet Explorer 6 Public Preview (Beta) Refresh"},
    {6, 0, 2462, 0, "Internet Explorer 6 Public Preview (Beta)"},
    {5, 50, 4807, 2300, "Internet Explorer 5.5 Service Pack 2"},
    {5, 50, 4522, 1800, "Internet Explorer 5.5 Service Pack 1"},
    {5, 50, 4308, 2900, "Internet Explorer 5.5 Advanced Security Privacy Beta"},
    {5, 50, 4134, 600, "Internet Explorer 5.5"},
    {5, 50, 4134, 100, "Internet Explorer 5.5 for Windows Me (4.90.3000)"},
    {5, 50, 4030, 2400, "Internet Explorer 5.5 & Internet Tools Beta"},
    {5, 50, 3825, 1300, "Internet Explorer 5.5 Developer Preview"},
    {5, 0, 2919, 6307, "Internet Explorer 5.01"},
    {5, 0, 2919, 3800, "Internet Explorer 5.01 (Windows 2000 RC2, build 5.00.2128)"},
    {5, 0, 2919, 800, "Internet Explorer 5.01 (Windows 2000 RC1, build 5.00.2072)"},
    {5, 0, 2721, 1400, "Internet Explorer 5.0 updated"},
    {5, 0, 2614, 0, "Internet Explorer 5.0b"},
    {5, 0, 2314, 0, "Internet Explorer 5.0a"},
    {5, 0, 2014, 0, "Internet Explorer 5.0"},
    {5, 0, 910, 0, "Internet Explorer 5 Beta (Beta 2)"},
    {5, 0, 518, 0, "Internet Explorer 5 Developer Preview (Beta 1)"},
    {4, 72, 3612, 0, "Internet Explorer 4.01 Service Pack 2 (SP2)"},
    {4, 72, 3110, 0, "Internet Explorer 4.01 Service Pack 1 (SP1)"},
    {4, 72, 2106, 0, "Internet Explorer 4.01"},
    {4, 71, 1712, 0, "Internet Explorer 4.0"},
    {4, 71, 1008, 0, "Internet Explorer 4.0 Platform Preview 2.0 (PP2)"},
    {4, 71, 544, 0, "Internet Explorer 4.0 Platform Preview 1.0 (PP1)"},
    {4, 70, 1300, 0, "Internet Explorer 3.02"},
    {4, 70, 1215, 0, "Internet Explorer 3.01"},
    {4, 70, 1158, 0, "Internet Explorer 3.0 (OSR2)"},
    {4, 70, 1155, 0, "Internet Explorer 3.0"},
    {4, 40, 520, 0, "Internet Explorer 2.0"},
    {4, 40, 308, 0, "Internet Explorer 1.0 (Plus!)"},
};

template <size_t N>
std::string NameOf(const TFileVersion& v, const TNamedVersion (&rows)[N], const char* newer,
                   const char* older) {
  if (v.Text.empty()) return {};
  const TNamedVersion& top = rows[0];
  if (CompareVersions(v, MakeFileVersion(top.Major, top.Minor, top.Release, top.Build)) > 0)
    return newer;
  for (const TNamedVersion& row : rows) {
    if (CompareVersions(v, MakeFileVersion(row.Major, row.Minor, row.Release, row.Build)) >= 0)
      return row.Name;
  }
  return older;
}

// The text with every "%20" read as a blank and the blanks at both ends dropped.
std::string CleanPart(std::string_view s) {
  std::string text;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s.compare(i, 3, "%20") == 0) {
      text += ' ';
      i += 2;
    } else {
      text += s[i];
    }
  }
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string WithoutTrailingBackslash(std::string dir) {
  while (dir.size() > 1 && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
  return dir;
}

}  // namespace

TFileVersion MakeFileVersion(uint16_t major, uint16_t minor, uint16_t release, uint16_t build) {
  return {major, minor, release, build,
          std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(release) +
              "." + std::to_string(build)};
}

int CompareVersions(const TFileVersion& a, const TFileVersion& b) {
  const uint16_t left[] = {a.Major, a.Minor, a.Release, a.Build};
  const uint16_t right[] = {b.Major, b.Minor, b.Release, b.Build};
  for (int i = 0; i < 4; ++i) {
    if (left[i] != right[i]) return left[i] > right[i] ? 1 : -1;
  }
  return 0;
}

TFileVersion FixOldEngineNumbering(const TFileVersion& v) {
  if (v.Text.empty() || v.Major != 4 || v.Minor > 70 || v.Release != 0) return v;
  return MakeFileVersion(v.Major, v.Minor, v.Build, 0);
}

std::string HHFriendlyName(const TFileVersion& v) { return NameOf(v, kHHReleases, "> 1.33", "< 1.0"); }

std::string IEFriendlyName(const TFileVersion& v) {
  return NameOf(v, kIEReleases, "> Internet Explorer 6", "< Internet Explorer 1.0 (Plus!)");
}

std::string MakeHelpPath(std::string_view helpFile, std::string_view topic,
                         std::string_view windowName, bool storePrefix) {
  const std::string file = CleanPart(helpFile);
  std::string page = CleanPart(topic);
  const std::string window = CleanPart(windowName);
  std::string path;
  if (!page.empty()) {
    for (char& c : page) {
      if (c == '\\') c = '/';
    }
    if (page.front() != '/') page.insert(page.begin(), '/');
    path = file.empty() ? page : file + "::" + page;
  } else {
    path = file;
  }
  if (!window.empty()) path += ">" + window;
  if (storePrefix) path.insert(0, "mk:@MSITStore:");
  return path;
}

std::string LastErrorText(unsigned long code) {
  const char* reason;
  switch (code) {
    case 2: reason = "File Not Found"; break;
    case 3: reason = "Path Not Found"; break;
    case 5: reason = "Access Denied"; break;
    case 8: reason = "Insufficient Memory"; break;
    case 19: reason = "Media Is Write Protected"; break;
    case 21: reason = "Device Not Ready"; break;
    case 32: case 33: reason = "File In Use"; break;
    case 39: case 112: reason = "Disk Full"; break;
    case 276: case 1005: case 1392: case 1393: reason = "Corrupt File Or Disk"; break;
    case 1009: case 1358: reason = "Corrupt Registry"; break;
    case 1150: reason = "Windows Version Incorrect"; break;
    case 1151: reason = "Not A Windows Or MSDos Program"; break;
    default: reason = "General Failure"; break;
  }
  return "[Error:" + std::to_string(code) + "] " + reason;
}

std::string DebugLineText(std::string_view text, std::string_view timeText) {
  std::string line(text);
  if (line == "-" || line == "=") line.assign(80, line[0]);
  if (!line.empty() && (line[0] == '!' || line[0] == '-' || line[0] == '=')) return line.substr(1);
  return std::string(timeText) + "   " + line;
}

bool DebugSwitchOn(bool switchFileExists, const std::vector<std::string>& params) {
  if (switchFileExists) return true;
  for (const std::string& p : params) {
    if (SameText(p, "/debug") || SameText(p, "-debug")) return true;
  }
  return false;
}

std::string FormatHelpText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (n > 0) {
    text.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(static_cast<size_t>(n));
  }
  va_end(again);
  return text;
}

void THelpFuncs::InitHelpDiagnostics() {
  // A path longer than the system's 300-character limit is taken as it is: nothing is cut.
  const std::string module = FPlatform.ModuleFileName();
  const std::string moduleDir = ExtractFilePath(module);
  FModuleName = module.substr(moduleDir.size());
  FModuleDir = WithoutTrailingBackslash(moduleDir);
  FRunDir = WithoutTrailingBackslash(ExtractFilePath(FPlatform.ProgramFileName()));

  if (IsWritable(FModuleDir)) {
    FHelpLogDir = FModuleDir;
  } else {
    FHelpLogDir = WithoutTrailingBackslash(FPlatform.TempDir());
    if (FHelpLogDir.empty() || !FPlatform.DirectoryExists(FHelpLogDir)) FHelpLogDir = "c:";
  }

  const bool switchFile = FPlatform.FileExists(FModuleDir + "\\" + kHelpSwitchFileName);
  FHelpDebug = DebugSwitchOn(switchFile, switchFile ? std::vector<std::string>{}
                                                    : FPlatform.Parameters());

  const std::string control = FPlatform.HelpControlPath();
  FHHVerStr = control.empty() ? std::string() : FPlatform.FileVersion(control).Text;
  FHHInstalled = !FHHVerStr.empty();
  FHHFriendlyVerStr = GetHHFriendlyVersion();

  FIEVerStr = GetIEVersion().Text;
  FIEInstalled = !FIEVerStr.empty();
  FIEFriendlyVerStr = GetIEFriendlyVersion();

  WriteDebugHeader();
}

void THelpFuncs::ClearHelpDiagnostics() {
  FModuleDir.clear();
  FModuleName.clear();
  FRunDir.clear();
  FHelpLogDir.clear();
  FHelpDebug = false;
  FHHVerStr.clear();
  FHHFriendlyVerStr.clear();
  FHHInstalled = false;
  FIEVerStr.clear();
  FIEFriendlyVerStr.clear();
  FIEInstalled = false;
}

bool THelpFuncs::IsWritable(const std::string& dir) {
  const std::string probe = dir + "\\" + kWritableProbeName;
  if (!FPlatform.CreateEmptyFile(probe)) return false;
  FPlatform.DeleteFile(probe);
  return true;
}

std::string THelpFuncs::HelpLogPath() const { return FHelpLogDir + "\\" + kHelpLogName; }

int THelpFuncs::ShowHelpTopic(std::string_view helpFile, std::string_view topic,
                              std::string_view windowName, int host) {
  if (FHelpDebug) {
    DebugOut(FormatHelpText("HHHelpContext(\"%s\", %s, \"%s\", %d)", std::string(helpFile).c_str(),
                            std::string(topic).c_str(), std::string(windowName).c_str(), host));
  }
  return ShowTopic(MakeHelpPath(helpFile, topic, windowName, host == kHostHH), host);
}

int THelpFuncs::ShowTopic(const std::string& path, int host) {
  if (FHelpDebug) DebugOut(FormatHelpText("ShowTopic(\"%s\", %d)", path.c_str(), host));
  int result = kHelpDone;
  if (!FHHInstalled) {
    result = kHelpControlMissing;
  } else if (host == kHostHelpControl) {
    // A control registered with a version but without a usable entry point cannot show
    // anything either: it counts as not installed, and nothing missing is ever called.
    if (FPlatform.DisplayTopic(path) == IHelpPlatform::TDisplayResult::NoEntryPoint)
      result = kHelpControlMissing;
  } else if (host == kHostKeyHH || host == kHostHH) {
    const std::string viewer =
        WithoutTrailingBackslash(FPlatform.WindowsDir()) + (host == kHostKeyHH ? "\\KeyHH.EXE" : "\\HH.EXE");
    if (!FPlatform.FileExists(viewer)) {
      result = host == kHostKeyHH ? kKeyHHMissing : kHHMissing;
    } else {
      RunViewer(viewer, host == kHostKeyHH ? "-win " + path : path);
    }
  }
  if (FHelpDebug) DebugOut(FormatHelpText("  returned - %d", result));
  return result;
}

bool THelpFuncs::RunViewer(const std::string& program, const std::string& args) {
  unsigned long error = 0;
  if (FPlatform.ShellOpen(program, args, error)) return true;
  ReportError(FormatHelpText("Function ShellExecute(%s)\rReturned: %s",
                             (program + ", " + args).c_str(), LastErrorText(error).c_str()));
  return false;
}

void THelpFuncs::ReportError(const std::string& text) {
  FPlatform.ShowWarning(text);
  if (FHelpDebug) DebugOut(text);
}

void THelpFuncs::DebugOut(std::string_view text) {
  if (FHelpLogDir.empty()) return;
  // Only lines that carry a time ask the clock.
  const bool timed = text.empty() || (text[0] != '!' && text[0] != '-' && text[0] != '=');
  FPlatform.AppendLine(HelpLogPath(), DebugLineText(text, timed ? FPlatform.LongTimeNow() : ""));
}

void THelpFuncs::WriteDebugHeader() {
  const std::string log = HelpLogPath();
  if (!FHelpLogDir.empty() && FPlatform.FileExists(log)) FPlatform.DeleteFile(log);
  if (!FHelpDebug) return;
  const IHelpPlatform::TSystemInfo sys = FPlatform.SystemInfo();
  std::string params;
  for (const std::string& p : FPlatform.Parameters()) params += (params.empty() ? "" : " | ") + p;
  auto hex = [](unsigned long v) { return FormatHelpText("\t0x%04lX", v); };
  auto tab = [](const std::string& v) { return "\t" + v; };
  auto yesNo = [](bool b) { return std::string(b ? "\tYES" : "\tNO"); };

  DebugOut("!Filename:             " + tab(log));
  DebugOut("!Date:                 " + tab(FPlatform.DateTimeNow()));
  DebugOut(FormatHelpText("!Operating System:      %s %lu.%lu.%lu",
                          sys.NtFamily ? "\tWindows NT" : "\tWindows", sys.Major, sys.Minor,
                          sys.Build));
  DebugOut("!SysLocale.DefaultLCID: " + hex(sys.DefaultLcid));
  DebugOut("!SysLocale.PriLangID:   " + hex(sys.DefaultLcid & 0x3FF));
  DebugOut("!SysLocale.SubLangID:   " + hex((sys.DefaultLcid & 0xFFFF) >> 10));
  DebugOut("!DecimalSeparator:      " + tab(sys.DecimalSeparator));
  DebugOut("-");
  DebugOut("!EXE Path =          " + tab(FPlatform.ProgramFileName()));
  DebugOut("!Cmdline Param(s) =  " + tab(params));
  DebugOut("!_RunDir =           " + tab(FRunDir));
  DebugOut("!_ModuleName =       " + tab(FModuleName));
  DebugOut("!_ModuleDir =        " + tab(FModuleDir));
  DebugOut("-");
  DebugOut("!_hhInstalled =      " + yesNo(FHHInstalled));
  DebugOut("!_hhVerStr =         " + tab(FHHVerStr));
  DebugOut("!_hhFriendlyVerStr = " + tab(FHHFriendlyVerStr));
  DebugOut("-");
  DebugOut("!_ieInstalled =      " + yesNo(FIEInstalled));
  DebugOut("!_ieVerStr =         " + tab(FIEVerStr));
  DebugOut("!_ieFriendlyVerStr = " + tab(FIEFriendlyVerStr));
  DebugOut("=");
}

TFileVersion THelpFuncs::GetIEVersion() {
  const std::string sys = WithoutTrailingBackslash(FPlatform.SystemDir());
  return FixOldEngineNumbering(FPlatform.FileVersion(sys + "\\Shdocvw.dll"));
}

std::string THelpFuncs::GetHHFriendlyVersion() {
  const std::string control = FPlatform.HelpControlPath();
  return control.empty() ? std::string() : HHFriendlyName(FPlatform.FileVersion(control));
}

std::string THelpFuncs::GetIEFriendlyVersion() { return IEFriendlyName(GetIEVersion()); }
