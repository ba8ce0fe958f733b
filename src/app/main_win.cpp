// The program's entry: the process-wide objects in their order, then the main routine.
#include "app/AppIdentity.h"
#include "app/Application_win.h"
#include "app/ErrorReport.h"
#include "app/ModuleList.h"
#include "app/PerformanceMain_win.h"
#include "app/SingleInstance_win.h"
#include "common/GenericAPI.h"
#include "common/GenericNetAPI.h"
#include "common/GenericShellAPI.h"
#include "common/Settings.h"
#include "common/WinText_win.h"
#include "ui/WindowProc_win.h"

namespace {

// The application's top-level error report: the message in a system box, and on we go.
void ShowTopLevelError(const std::exception& error) {
  ::MessageBoxW(nullptr, Utf8ToWide(ErrorReportText(error.what())).c_str(),
                Utf8ToWide(kAppTitle).c_str(), MB_ICONERROR | MB_OK);
}

// Every process-wide object, in the order in which it comes into being; they go in reverse.
TModuleList ProcessModules() {
  TModuleList modules;
  modules.Add("application object", InitializeApplicationModule, FinalizeApplicationModule);
  modules.Add("shell folders", InitializeShellModule, FinalizeShellModule);
  modules.Add("program folder and version", InitializeSettingsModule, FinalizeSettingsModule);
  modules.Add("administrator flag", InitializeNetModule);
  return modules;
}

int MainRoutine() {
  TApplication& app = Application();
  // 1. One instance at a time; "exit" closes the running one.
  if (CheckSingleInstance(kAppTitle, kMainWindowClass, true, CommandLineArguments(), app.Handle()))
    return 0;
  // 3. COM for the main thread.
  app.Initialize();
  // 4. From here on a later start finds this instance by its application window.
  app.SetTitle(kAppTitle);
  // 9. The main window and the message loop.
  TfmPerformance mainWindow(app.Handle());
  app.SetMainWindow(mainWindow.Handle());
  mainWindow.Show();
  return app.Run();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  gTopLevelErrorHandler = &ShowTopLevelError;
  TModuleList modules = ProcessModules();
  modules.InitializeAll([](const std::string& module, const std::string& error) {
    WriteLog("[" + module + "] " + error);
  });
  int rc = 0;
  try {
    rc = MainRoutine();
  } catch (const std::exception& e) {
    ShowTopLevelError(e);
  }
  modules.FinalizeAll();
  return rc;
}
