// The seam between the launcher and Windows.
//
// The launcher reaches the few Windows functions it calls through the
// process-wide table `launcherApi`, which holds the real functions by default.
// Tests replace single entries with fakes and restore the table afterwards.
// GetLastError and SetLastError are not in the table: fakes set the last error
// themselves.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>

struct LauncherApi {
    // Own module and run-time lookup of kernel32 functions.
    decltype(&::GetModuleFileNameW) GetModuleFileNameW;
    decltype(&::GetModuleHandleW) GetModuleHandleW;
    decltype(&::GetProcAddress) GetProcAddress;

    // Architecture query of the older systems.
    decltype(&::GetSystemInfo) GetSystemInfo;

    // Shell.
    decltype(&::ShellExecuteW) ShellExecuteW;
};

// The table the launcher calls through. Filled with the real functions during
// static initialisation.
extern LauncherApi launcherApi;

// A table holding the real Windows functions, for restoring `launcherApi`.
LauncherApi RealLauncherApi();
