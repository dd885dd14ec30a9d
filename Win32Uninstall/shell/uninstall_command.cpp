#include "shell/uninstall_command.h"

#include "platform/win32_api.h"
#include "shell/driver_list.h"
#include "shell/ui_state.h"

// The removal itself is not wired up yet: the command only hands the button
// back and rebuilds the list, as it does after every run.
DWORD WINAPI UninstallWorker(LPVOID) {
    win32.EnableWindow(uninstallButton, TRUE);
    FillDriverList();
    return 0;
}
