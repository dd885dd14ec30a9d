// Entry point of Uninstall.exe: a GUI-subsystem program with the runtime's plain
// main. The command line is not looked at; the exit code is always 0.
#include <windows.h>

#include "shell/main_dialog.h"

int main(int, char**, char**) {
    return RunUninstaller(::GetModuleHandleW(nullptr));
}
