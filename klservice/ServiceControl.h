// The calls exported by ServiceControl.dll: __stdcall, undecorated names, UTF-16 texts.
// The program loads the library at run time; this header fixes the binary contract.
#pragma once

#include <cstdint>

#ifdef _WIN32
#define QB_STDCALL __stdcall
#else
#define QB_STDCALL
#endif

extern "C" {
// Writes the current state of the service named serviceName into *status (the Windows service
// state codes: 1 stopped, 2 start pending, 3 stop pending, 4 running, 5 continue pending,
// 6 pause pending, 7 paused). text is not written. Returns 0 on success, else a Win32 error code.
// A service that is not installed (or cannot be queried) is reported as 1, stopped, beside the
// error code (ERROR_SERVICE_DOES_NOT_EXIST): a settled state, so a wait for the state to settle
// ends at once instead of running out its limit.
using TGetServiceStatus = int32_t(QB_STDCALL*)(uint32_t* status, const wchar_t* serviceName,
                                               const wchar_t* text);
// Performs action on the service: 0 starts it and returns once it runs and accepts connections
// on its port (its "--port N" argument, else 2804), or after a bounded wait of 10 seconds; 1
// stops it and returns once it has stopped, within the same bound. text is a writable buffer of
// 255 characters that receives a short, zero-terminated outcome text ("running", "timeout",
// "stopped", "not installed", ...). Returns 0 on success, else a Win32 error code
// (ERROR_TIMEOUT when the bound ran out).
using TSetServiceAction = int32_t(QB_STDCALL*)(int32_t action, const wchar_t* serviceName,
                                               wchar_t* text);
}

inline constexpr const char* kServiceControlDll = "ServiceControl.dll";
inline constexpr const char* kServiceName = "KLService";
inline constexpr int kServicePort = 2804;
inline constexpr int kServiceCtlBufferChars = 255;
