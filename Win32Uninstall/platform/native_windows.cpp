#include "platform/native_windows.h"

#include <algorithm>
#include <cwctype>

#include <cwchar>
#include <string_view>

#include "platform/win32_api.h"

namespace {

USHORT MachineOfArchitecture(WORD architecture) {
    switch (architecture) {
        case PROCESSOR_ARCHITECTURE_AMD64:
            return MACHINE_AMD64;
        case PROCESSOR_ARCHITECTURE_ARM64:
            return MACHINE_ARM64;
        case PROCESSOR_ARCHITECTURE_INTEL:
            return MACHINE_I386;
        default:
            return 0;
    }
}

}  // namespace

static_assert(PROCESSOR_ARCHITECTURE_AMD64 == 9 && PROCESSOR_ARCHITECTURE_ARM64 == 12);

NativeMachine QueryNativeMachine() {
    NativeMachine result;
    USHORT processMachine = 0;
    USHORT nativeMachine = 0;
    if (win32.IsWow64Process2 != nullptr &&
        win32.IsWow64Process2(::GetCurrentProcess(), &processMachine, &nativeMachine)) {
        // A process that is not under WOW64 is told IMAGE_FILE_MACHINE_UNKNOWN.
        result.machine = nativeMachine;
        result.wow64 = processMachine != 0;
        return result;
    }
    SYSTEM_INFO info{};
    win32.GetNativeSystemInfo(&info);
    result.machine = MachineOfArchitecture(info.wProcessorArchitecture);
    BOOL wow64 = FALSE;
    result.wow64 = win32.IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
    return result;
}

const wchar_t* NativePrinterEnvironment() {
    switch (QueryNativeMachine().machine) {
        case MACHINE_AMD64:
            return L"Windows x64";
        case MACHINE_ARM64:
            return L"Windows ARM64";
        case MACHINE_I386:
            return L"Windows NT x86";
        default:
            return nullptr;
    }
}

bool WindowsFolder(std::wstring& folder, const wchar_t* below) {
    wchar_t windows[MAX_PATH] = {};
    if (!win32.SHGetSpecialFolderPathW(nullptr, windows, CSIDL_WINDOWS, FALSE) || windows[0] == 0)
        return false;
    folder.assign(windows, wcsnlen(windows, MAX_PATH));
    folder += below;
    return true;
}

bool NativeSystemFolder(std::wstring& folder, const wchar_t* below) {
    std::wstring windows;
    if (!WindowsFolder(windows))
        return false;
    // Windows exempts spool\ from redirection, and DriverStore\ from Windows 7
    // on; Sysnative reaches both, and DriverStore on Vista too.
    folder = windows + (QueryNativeMachine().wow64 ? L"\\Sysnative" : L"\\System32") + below;
    return true;
}

namespace {

// Where the first "\System32" or "\Sysnative" folder of `path` ends (the
// length of the path up to it), and whether it is Sysnative; 0 when the path
// has neither.
size_t EndOfSystemFolder(const std::wstring& path, bool& sysnative) {
    for (size_t at = path.find(L'\\'); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        for (const std::wstring_view name :
             {std::wstring_view(L"\\SYSTEM32"), std::wstring_view(L"\\SYSNATIVE")}) {
            const size_t end = at + name.size();
            if (end > path.size() || (end < path.size() && path[end] != L'\\'))
                continue;
            if (std::equal(name.begin(), name.end(), path.begin() + at,
                           [](wchar_t a, wchar_t b) { return a == ::towupper(b); })) {
                sysnative = name == L"\\SYSNATIVE";
                return end;
            }
        }
    }
    return 0;
}

// The system folder as Windows spells it; empty when it cannot be told.
std::wstring SystemDirectory() {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = win32.GetSystemDirectoryW(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

bool SameFolder(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

std::wstring PathShownToPeople(const std::wstring& path) {
    bool sysnative = false;
    const size_t end = EndOfSystemFolder(path, sysnative);
    if (end == 0)
        return path;
    const size_t nameAt = path.rfind(L'\\', end - 1);
    const std::wstring asSystem32 = path.substr(0, nameAt) + L"\\System32";
    const std::wstring system = SystemDirectory();
    if (!system.empty() && SameFolder(asSystem32, system))
        return system + path.substr(end);
    return sysnative ? asSystem32 + path.substr(end) : path;
}

static_assert(CSIDL_WINDOWS == 0x24);
