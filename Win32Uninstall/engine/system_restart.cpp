#include "engine/system_restart.h"

#include "platform/unique_handles.h"
#include "platform/win32_api.h"

BOOL RestartWindows(DWORD reason) {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (win32.GetVersionExW(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
        unique_handle token;
        win32.OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.put());
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        win32.LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid);
        win32.AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
    }
    return win32.ExitWindowsEx(EWX_REBOOT, reason);
}
