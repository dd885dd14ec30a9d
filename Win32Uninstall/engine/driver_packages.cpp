#include "engine/driver_packages.h"

#include <climits>
#include <cwchar>
#include <new>
#include <string_view>

#include "engine/file_helpers.h"

namespace {

// The Windows folder without a trailing backslash; empty when the system
// cannot say where it is (the paths built from it would then be relative to
// whatever drive is current).
std::wstring WindowsFolder() {
    wchar_t buffer[MAX_PATH] = {};
    if (!win32.SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_WINDOWS, FALSE))
        return {};
    return std::wstring(buffer, wcsnlen(buffer, MAX_PATH));
}

// The text of a file: its bytes decoded from the ANSI code page, up to the
// first NUL. Only one file's bytes and text are held at a time.
std::wstring AnsiTextOf(const std::wstring& path) {
    const FileBytes file = ReadWholeFile(path);
    if (file.bytes.empty() || file.length == 0 || file.bytes.size() > INT_MAX)
        return {};
    // Sized for the whole buffer with its trailing zero byte, so the text
    // always ends with a NUL however the file's bytes decode.
    const int units = win32.MultiByteToWideChar(CP_ACP, 0, file.bytes.data(),
                                                static_cast<int>(file.bytes.size()), nullptr, 0);
    if (units <= 0)
        return {};
    std::wstring text;
    try {
        text.assign(static_cast<size_t>(units), L'\0');
    } catch (const std::bad_alloc&) {
        return {};
    }
    win32.MultiByteToWideChar(CP_ACP, 0, file.bytes.data(), static_cast<int>(file.length),
                              text.data(), units);
    text.resize(wcsnlen(text.data(), text.size()));
    return text;
}

// Changes a-z into A-Z and leaves every other character as it is.
void UpperCaseAsciiLetters(std::wstring& text) {
    for (wchar_t& c : text) {
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - (L'a' - L'A'));
    }
}

}  // namespace

BOOL MentionsDriver(const std::wstring& path, const std::wstring& driverName) {
    if (driverName.empty())
        return FALSE;
    std::wstring name = driverName;
    UpperCaseAsciiLetters(name);
    std::wstring text = AnsiTextOf(path);
    UpperCaseAsciiLetters(text);
    return std::wstring_view(text).find(name) != std::wstring_view::npos;
}

BOOL UninstallOemInfs(const std::wstring& driverName) {
    const std::wstring windows = WindowsFolder();
    if (windows.empty())
        return TRUE;
    FileList candidates;
    WalkFolder(candidates, windows + L"\\inf\\", WALK_COLLECT, L"oem", TRUE);
    for (const std::wstring& candidate : candidates) {
        if (!MentionsDriver(candidate, driverName))
            continue;
        const std::wstring fileName = FileNameOf(candidate);
        if (fileName.empty())
            continue;
        // The setup API removes the INF copy, its PNF and its package by
        // itself; a refusal changes nothing for the steps that follow.
        win32.SetupUninstallOEMInfW(fileName.c_str(), SUOI_FORCEDELETE, nullptr);
    }
    return TRUE;
}

BOOL PurgeDriverStore(const std::wstring& driverName) {
    const std::wstring windows = WindowsFolder();
    if (windows.empty())
        return TRUE;
    const std::wstring repository = windows + L"\\System32\\DriverStore\\FileRepository\\";
    FileList candidates;
    WalkFolder(candidates, repository, WALK_COLLECT, L".inf", TRUE);

    BOOL result = TRUE;
    for (const std::wstring& candidate : candidates) {
        if (!MentionsDriver(candidate, driverName))
            continue;
        const std::wstring package = FolderOf(candidate);
        // An INF outside any package folder would make the repository itself
        // the folder to delete, with every other driver's package in it.
        if (package.empty() || package == repository)
            continue;
        TakeOwnership(package);
        // The ownership command runs on its own; this is all the time it gets.
        win32.Sleep(2000);
        FileList unused;
        result = WalkFolder(unused, package, WALK_DELETE, L"", TRUE);
    }
    return result;
}
