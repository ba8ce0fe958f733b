// Identities other processes rely on to find this program (portable).
#pragma once

// Name of the single-instance mutex, text of the hidden application window, main caption.
inline constexpr const char* kAppTitle = "Quor eBrisko Management";
// Window class of each instance's hidden application window (owns the taskbar entry).
inline constexpr const char* kAppWindowClass = "TApplication";
// Window class of the main window.
inline constexpr const char* kMainWindowClass = "TfmPerformance";
// First command-line argument that asks the running instance to close.
inline constexpr const char* kCloseCommand = "exit";
