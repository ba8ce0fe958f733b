// The system wiring of the service link: the library-backed service control, the Winsock
// client and the start-up entry points (Windows-only header).
#pragma once

#include "service/ConnectService.h"

#include <functional>
#include <memory>
#include <string>

// What the application lends the built-in lost-service message. Each may stay empty: the
// English text, the title "Quor eBrisko Management" and a quit of the message loop are used.
struct TServiceAppHooks {
  // The translation of text in a string-table section (wire it to gStringTable.GetText).
  std::function<std::string(const std::string& section, const std::string& text)> Translate;
  // The application title, the caption of the message.
  std::function<std::string()> ApplicationTitle;
  // Asks the application to end.
  std::function<void()> Terminate;
};

// Before the main routine: gService becomes empty and later clients use hooks.
void InitializeServiceModule(TServiceAppHooks hooks = {});

// Start-up step 8: waits for, starts and connects to the service with the system's ports
// (isAdmin is gIsAdmin()); the connected client, also in gService, or nullptr after the
// lost-service handling has run.
std::shared_ptr<IServiceLink> ConnectService(bool isAdmin, TServiceLostEvent onLost = {});

// A service control over ServiceControl.dll, loaded on first use from libraryPath, by default
// the program's own folder; a missing library or function makes every call report false.
std::unique_ptr<IServiceControl> CreateLibraryServiceControl(const std::wstring& libraryPath = {});

// A client of host over Winsock, the request mutex, the system clock, the window thread's
// message pump and the system message box; not connected. With serviceOnly it connects only to
// a port that the running service itself listens on (see CreateServiceOnlyTransport).
std::shared_ptr<TtcpServOpr> CreateSystemServiceClient(const std::string& host,
                                                       int port = kServiceTcpPort,
                                                       bool serviceOnly = false);

// A transport over inner whose connection is refused (and closed at once, with the reason in
// the log) when the process listening on the port is known and is not the service's: a program
// that took the port first would otherwise get every request. listenerProcess and
// serviceProcess give the process ids (0 not known); by default the system's TCP table and the
// service manager's "KLService". Where the table names no process (Wine) nothing is refused.
std::unique_ptr<ILineTransport> CreateServiceOnlyTransport(
    std::unique_ptr<ILineTransport> inner, std::function<uint32_t(int port)> listenerProcess = {},
    std::function<uint32_t()> serviceProcess = {});
