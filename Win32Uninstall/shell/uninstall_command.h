// The uninstall command that a left button-down on "卸载" sets going.
#pragma once

#include <windows.h>

// Thread function of the uninstall command, launched by the message loop at
// THREAD_PRIORITY_HIGHEST for every left button-down on the enabled uninstall
// button. Ignores its parameter; returns 0. Leaves the uninstall button
// enabled and the driver list rebuilt.
DWORD WINAPI UninstallWorker(LPVOID parameter);
