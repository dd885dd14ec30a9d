#include "launcher_api.h"

LauncherApi RealLauncherApi() {
    LauncherApi api{};
    api.GetModuleFileNameW = ::GetModuleFileNameW;
    api.GetModuleHandleW = ::GetModuleHandleW;
    api.GetProcAddress = ::GetProcAddress;

    api.GetSystemInfo = ::GetSystemInfo;

    api.ShellExecuteW = ::ShellExecuteW;
    return api;
}

LauncherApi launcherApi = RealLauncherApi();
