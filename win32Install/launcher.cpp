#include "launcher.h"

#include "launcher_api.h"

namespace {

// The module path is first read into a buffer of the classic path length.
constexpr DWORD MODULE_PATH_UNITS = 260;
// The longest path Windows can report, for a launcher kept in a deep folder.
constexpr DWORD LONGEST_PATH_UNITS = 32768;

using GetNativeSystemInfoFunction = void(WINAPI*)(LPSYSTEM_INFO);

// The full path of the running executable; empty when it cannot be read.
std::wstring OwnExecutablePath() {
    for (DWORD units : {MODULE_PATH_UNITS, LONGEST_PATH_UNITS}) {
        std::wstring path(units, L'\0');
        const DWORD length = launcherApi.GetModuleFileNameW(nullptr, path.data(), units);
        if (length == 0)
            return {};
        // A result that fills the whole buffer was cut short (and older
        // systems leave it unterminated); cutting such a path after its last
        // backslash would name a parent folder and start a stranger's setup
        // program, so read it again into the larger buffer.
        if (length < units) {
            path.resize(length);
            return path;
        }
    }
    return {};
}

}  // namespace

std::wstring LauncherFolder() {
    const std::wstring path = OwnExecutablePath();
    const size_t lastBackslash = path.find_last_of(L'\\');
    if (lastBackslash == std::wstring::npos)
        return {};
    return path.substr(0, lastBackslash + 1);
}

WORD NativeProcessorArchitecture() {
    SYSTEM_INFO info{};
    // Looked up at run time: Windows 2000 has no GetNativeSystemInfo, and a
    // static import of it would keep the launcher from starting there.
    const HMODULE kernel32 = launcherApi.GetModuleHandleW(L"kernel32.dll");
    const FARPROC native =
        kernel32 != nullptr ? launcherApi.GetProcAddress(kernel32, "GetNativeSystemInfo") : nullptr;
    if (native != nullptr) {
        reinterpret_cast<GetNativeSystemInfoFunction>(reinterpret_cast<void*>(native))(&info);
    } else {
        launcherApi.GetSystemInfo(&info);
    }
    return info.wProcessorArchitecture;
}

const wchar_t* SetupProgramFor(WORD architecture) {
    if (architecture == PROCESSOR_ARCHITECTURE_AMD64 ||
        architecture == PROCESSOR_ARCHITECTURE_IA64) {
        return SETUP_X64_PROGRAM;
    }
    return SETUP_I386_PROGRAM;
}

void StartSetupProgram() {
    const std::wstring setupPath =
        LauncherFolder() + SetupProgramFor(NativeProcessorArchitecture());
    // The result is deliberately left alone: the launcher has no window and
    // no message of its own, and its exit code does not depend on the setup.
    launcherApi.ShellExecuteW(nullptr, L"open", setupPath.c_str(), nullptr, nullptr, SW_SHOW);
}

bool RestrictLauncherDllSearch() {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel32 = launcherApi.GetModuleHandleW(L"kernel32.dll");
    const auto setDefaultDllDirectories =
        reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void*>(
            kernel32 != nullptr ? launcherApi.GetProcAddress(kernel32, "SetDefaultDllDirectories")
                                : nullptr));
    return setDefaultDllDirectories != nullptr &&
           setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}
