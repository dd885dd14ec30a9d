// Entry point of UninstallCli.exe, a console program for administrators who
// remove a driver from many PCs. On 64-bit Windows the 32-bit build hands the
// command to the package's x64\UninstallCli.exe, waits for it and ends with
// its exit code; its output goes to the same standard handles.
#include <windows.h>

#include <string>
#include <vector>

#include "cli/cli_main.h"
#include "cli/cli_options.h"
#include "platform/native_handover.h"
#include "platform/system_libraries.h"
#include "platform/unique_handles.h"

namespace {

// The longest a handed-over command may take: the removal's own waits are
// bounded well below it.
constexpr DWORD HANDOVER_WAIT_LIMIT_MS = 30 * 60 * 1000;

void WriteStandardOutput(const std::string& utf8) {
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE)
        return;
    DWORD mode = 0;
    DWORD written = 0;
    if (::GetConsoleMode(output, &mode)) {
        // A console shows UTF-16 whatever its code page.
        const int units = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(),
                                                static_cast<int>(utf8.size()), nullptr, 0);
        std::wstring text(static_cast<size_t>(units > 0 ? units : 0), L'\0');
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(),
                              units);
        ::WriteConsoleW(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    ::WriteFile(output, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

// The command line after the program's name, as it was given.
std::wstring ArgumentsOf(const wchar_t* commandLine) {
    const wchar_t* at = commandLine;
    while (*at == L' ' || *at == L'\t')
        ++at;
    if (*at == L'"') {
        ++at;
        while (*at != 0 && *at != L'"')
            ++at;
        if (*at == L'"')
            ++at;
    }
    while (*at != 0 && *at != L' ' && *at != L'\t')
        ++at;
    while (*at == L' ' || *at == L'\t')
        ++at;
    return at;
}

// Runs the command in the 64-bit copy when this is a 32-bit process on x64
// Windows; true, with the copy's exit code, when it did.
bool RunInNativeCopy(int& exitCode) {
    unique_handle process;
    if (!StartNativeCopy(L"x64\\UninstallCli.exe", ArgumentsOf(::GetCommandLineW()), &process))
        return false;
    DWORD code = EXIT_STEP_FAILED;
    if (::WaitForSingleObject(process.get(), HANDOVER_WAIT_LIMIT_MS) != WAIT_OBJECT_0) {
        WriteStandardOutput("The 64-bit UninstallCli.exe did not finish in time.\n");
    } else {
        ::GetExitCodeProcess(process.get(), &code);
    }
    exitCode = static_cast<int>(code);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    // Before anything else may load a DLL: administrators start it elevated,
    // often from a shared or downloaded folder.
    RestrictDllSearchToSystem32();
    int exitCode = EXIT_OK;
    if (RunInNativeCopy(exitCode))
        return exitCode;
    std::vector<std::wstring> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    return RunCli(arguments, WriteStandardOutput);
}
