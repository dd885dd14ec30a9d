// Entry point of Installer.exe. A console-style entry in a program built for
// the GUI subsystem, so that neither a console nor a window appears.
// Arguments are ignored and the exit code is always 0.
#include <exception>

#include "launcher.h"

int main(int, char*[], char*[]) {
    RestrictLauncherDllSearch();
    try {
        StartSetupProgram();
    } catch (const std::exception&) {
        // Only running out of memory can end up here; the launcher still ends
        // quietly with 0 instead of aborting.
    }
    return 0;
}
