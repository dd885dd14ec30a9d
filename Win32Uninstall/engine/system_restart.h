// Restarting Windows once a removal has succeeded.
#pragma once

#include <windows.h>

// On Windows NT, enables the shutdown privilege in the process token first;
// then asks Windows to restart (ExitWindowsEx with EWX_REBOOT and `reason`,
// an SHTDN_REASON_* combination or 0). Returns what ExitWindowsEx returns.
BOOL RestartWindows(DWORD reason);
