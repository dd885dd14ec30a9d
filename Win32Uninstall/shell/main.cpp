// Entry point of Uninstall.exe: a GUI-subsystem program with the runtime's plain
// main. The command line is not looked at; the exit code is always 0.
#include <windows.h>

#include "platform/native_handover.h"
#include "platform/system_libraries.h"
#include "shell/main_dialog.h"

int main(int, char**, char**) {
    // Before anything else may load a DLL: the program runs elevated from a
    // folder that its user, or anyone who can write there, may fill.
    RestrictDllSearchToSystem32();
    // On 64-bit Windows the package's 64-bit copy does the whole job, before
    // any service is touched or any window shown.
    if (StartNativeCopy(L"x64\\Uninstall.exe", L""))
        ::ExitProcess(0);
    const int exitCode = RunUninstaller(::GetModuleHandleW(nullptr));
    // "取消" ends the program at once, also while an uninstall worker runs.
    // Ending the process here, before static destruction, keeps such a worker
    // from running into destroyed tables on the way out (a crash there would
    // turn the exit code into an exception code).
    ::ExitProcess(static_cast<UINT>(exitCode));
}
