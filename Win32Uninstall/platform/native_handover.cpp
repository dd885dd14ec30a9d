#include "shell/native_handover.h"

#include "platform/native_windows.h"
#include "platform/unique_handles.h"
#include "platform/win32_api.h"

namespace {

// The module path is first read into a buffer of the classic path length,
// then into one of the longest path Windows can report.
constexpr DWORD MODULE_PATH_UNITS = MAX_PATH;
constexpr DWORD LONGEST_PATH_UNITS = 32768;

std::wstring OwnExecutablePath() {
    for (DWORD units : {MODULE_PATH_UNITS, LONGEST_PATH_UNITS}) {
        std::wstring path(units, L'\0');
        const DWORD length = win32.GetModuleFileNameW(nullptr, path.data(), units);
        if (length == 0)
            return {};
        // A result that fills the buffer was cut short: its folder would be
        // some parent folder.
        if (length < units) {
            path.resize(length);
            return path;
        }
    }
    return {};
}

}  // namespace

std::wstring OwnFolder() {
    const std::wstring path = OwnExecutablePath();
    const size_t lastBackslash = path.find_last_of(L'\\');
    return lastBackslash == std::wstring::npos ? std::wstring() : path.substr(0, lastBackslash + 1);
}

bool HandOverToNativeCopy() {
    const NativeMachine native = QueryNativeMachine();
    if (!native.wow64 || native.machine != MACHINE_AMD64)
        return false;
    const std::wstring folder = OwnFolder();
    if (folder.empty())
        return false;
    const std::wstring program = folder + NATIVE_COPY_PATH;
    // The program is named in full as the application, so nothing is searched
    // for; the command line only repeats it, quoted, as argv[0].
    std::wstring commandLine = L"\"" + program + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!win32.CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                              nullptr, nullptr, &startup, &started)) {
        return false;
    }
    unique_handle process(started.hProcess);
    unique_handle thread(started.hThread);
    return true;
}
