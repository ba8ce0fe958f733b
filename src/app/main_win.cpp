// The program's entry: the process-wide objects in their order, then the main routine.
#include "app/AppIdentity.h"
#include "app/Application_win.h"
#include "app/ErrorReport.h"
#include "app/ModuleList.h"
#include "app/PerformanceMain_win.h"
#include "app/SingleInstance_win.h"
#include "app/StartupTrace_win.h"
#include "common/GenericAPI.h"
#include "common/GenericNetAPI.h"
#include "common/GenericShellAPI.h"
#include "common/ResStrings_win.h"
#include "common/Settings.h"
#include "common/WinText_win.h"
#include "i18n/Localization.h"
#include "i18n/StringTable.h"
#include "help/hh.h"
#include "i18n/TranslateST.h"
#include "optimize/OptimizeIt.h"
#include "service/ConnectService_win.h"
#include "ui/WindowProc_win.h"

namespace {

// The application's top-level error report: the message in a system box, and on we go. The
// box is owned by the window the user works in (the main window, or a box over it), which it
// disables while it is up, as any modal box does.
void ShowTopLevelError(const std::exception& error) {
  HWND owner = ::GetActiveWindow();
  if (!owner || !::IsWindowVisible(owner) || owner == Application().Handle()) {
    HWND main = Application().MainWindow();
    owner = main && ::IsWindowVisible(main) ? ::GetLastActivePopup(main) : nullptr;
  }
  ::MessageBoxW(owner, Utf8ToWide(ErrorReportText(error.what())).c_str(),
                Utf8ToWide(kAppTitle).c_str(), MB_ICONERROR | MB_OK);
}

// A list whose initializations each leave a start-up mark named after their module.
class TMarkedModuleList {
 public:
  void Add(const char* name, TModuleList::TStep initialize, TModuleList::TStep finalize = {}) {
    FList.Add(name, [name, initialize = std::move(initialize)] {
      initialize();
      StartupMark(name);
    }, std::move(finalize));
  }
  TModuleList Take() { return std::move(FList); }

 private:
  TModuleList FList;
};

// Every process-wide object, in the order in which it comes into being; they go in reverse.
TModuleList ProcessModules() {
  TMarkedModuleList modules;
  modules.Add("application object", InitializeApplicationModule, FinalizeApplicationModule);
  modules.Add("shell folders", InitializeShellModule, FinalizeShellModule);
  modules.Add("program folder and version", InitializeSettingsModule, FinalizeSettingsModule);
  // Goes with gLocalization and gFilePool, which start-up makes later.
  modules.Add("string table", InitializeStringTableModule, FinalizeLocalizationModule);
  // The program's own messages are read from its resources and translated at every load.
  modules.Add("resource strings", [] {
    InstallResStringSource();
    InstallResourceTranslation();
  }, RemoveResourceTranslation);
  modules.Add("administrator flag", [] { InitializeNetModule(); }, FinalizeNetModule);
  modules.Add("service link", [] {
    InitializeServiceModule({
        [](const std::string& section, const std::string& text) {
          return gStringTable ? gStringTable->GetText(section, text) : text;
        },
        [] { return std::string(kAppTitle); },
        [] { Application().Terminate(); },
    });
  }, FinalizeServiceModule);
  modules.Add("speed-tweak engine", InitializeOptimizeModule, FinalizeOptimizeModule);
  // Nothing needs the help diagnostics before the first help request: they are read once the
  // main window has painted and its message loop runs, so start-up does not wait for them. A
  // start that ends before that (no service) still reads them on the way out, so the help's
  // debug log gets its header as before.
  static bool helpRead = false;
  static const auto readHelp = [] {
    if (helpRead) return;
    helpRead = true;
    try {
      InitializeHelpModule();
    } catch (const std::exception& e) {
      WriteLog(std::string("[help control and diagnostics] ") + e.what());
    }
  };
  modules.Add("help control and diagnostics", [] { Application().Post(readHelp); }, [] {
    readHelp();
    FinalizeHelpModule();
  });
  return modules.Take();
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
  StartupMark("single instance, COM, title");
  // 5. The language-pack folder and the work folder below the user's application data.
  CreateLocalization(GetAppDir() + "Resources",
                     GetUserAppDataDir().empty() ? std::string()
                                                 : GetUserAppDataDir() + "Quor\\eCentrio");
  // 6, 7. The pack of the product family's language, English when none is set.
  const std::string language = ReadSetting("Language", false, kProductFamilyKey);
  gLocalization->SetLanguage((language.empty() ? std::string("English") : language) + "_eBrisko");
  StartupMark("language pack");
  // 8. No service, no main window: the lost-service message has been shown already.
  const std::shared_ptr<IServiceLink> service = ConnectService(gIsAdmin());
  if (!service) return 0;
  StartupMark("service connection");
  // A service that goes away is reported within a second, not at the next request: the
  // check only polls the connection and sends nothing.
  app.SetPeriodicCheck(1000, [] {
    if (gService) gService->IsConnected();
  });
  // 9. The main window and the message loop.
  TPerformanceWindow mainWindow(app.Handle());
  app.SetMainWindow(mainWindow.Handle());
  mainWindow.Show();  // painted at once, before the loop's first message
  StartupMark("first paint");
  WriteStartupTrace();
  return app.Run();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  StartupMark("main entry");
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
  // A count pass still measuring is abandoned: the process ends at once, before the objects
  // that pass reads (folders, log, registry) go away under it.
  if (RunningCountPasses() > 0) ::ExitProcess(static_cast<UINT>(rc));
  modules.FinalizeAll();
  return rc;
}
