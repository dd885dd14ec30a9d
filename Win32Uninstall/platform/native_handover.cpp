#include "platform/native_handover.h"

#include "platform/native_windows.h"
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

bool StartNativeCopy(const wchar_t* relativePath,
                     const std::wstring& arguments,
                     unique_handle* process) {
    const NativeMachine native = QueryNativeMachine();
    if (!native.wow64 || native.machine != MACHINE_AMD64)
        return false;
    const std::wstring folder = OwnFolder();
    if (folder.empty())
        return false;
    const std::wstring program = folder + relativePath;
    // The program is named in full as the application, so nothing is searched
    // for; the command line repeats it, quoted, as argv[0].
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!arguments.empty())
        commandLine += L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    const bool shareStandardHandles = process != nullptr;
    if (shareStandardHandles) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION started{};
    if (!win32.CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr,
                              shareStandardHandles ? TRUE : FALSE, 0, nullptr, nullptr, &startup,
                              &started)) {
        return false;
    }
    unique_handle thread(started.hThread);
    unique_handle startedProcess(started.hProcess);
    if (process != nullptr)
        *process = std::move(startedProcess);
    return true;
}
