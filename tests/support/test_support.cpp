#include "support/test_support.h"

#include "log/operation_log.h"

#include <atomic>
#include <vector>

namespace {

std::wstring UniqueName() {
    static std::atomic<int> counter{0};
    return std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(::GetTickCount()) +
           L"-" + std::to_wstring(++counter);
}

}  // namespace

ScratchFolder::ScratchFolder() : path_(L"C:\\ktest\\" + UniqueName() + L"\\") {
    CreateFolders(path_);
}

ScratchFolder::~ScratchFolder() {
    RemoveTree(path_);
}

void RemoveTree(const std::wstring& folder) {
    std::wstring base = folder;
    if (!base.empty() && base.back() != L'\\')
        base += L'\\';
    WIN32_FIND_DATAW entry{};
    HANDLE find = ::FindFirstFileW((base + L"*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring path = base + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(path.c_str());
            }
        } while (::FindNextFileW(find, &entry));
        ::FindClose(find);
    }
    ::RemoveDirectoryW(base.c_str());
}

void CreateFolders(const std::wstring& folder) {
    for (size_t i = 3; i <= folder.size(); ++i) {
        if (i == folder.size() || folder[i] == L'\\') {
            ::CreateDirectoryW(folder.substr(0, i).c_str(), nullptr);
        }
    }
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    CreateFolders(path.substr(0, path.find_last_of(L'\\')));
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

std::wstring MultiString(const std::vector<std::wstring>& entries) {
    std::wstring text;
    for (const std::wstring& entry : entries)
        text += entry + L'\0';
    return text + L'\0';
}

std::string Utf16LeFile(const std::wstring& text) {
    std::string bytes = "\xFF\xFE";
    for (const wchar_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>((unit >> 8) & 0xFF);
    }
    return bytes;
}

std::string ReadBytes(const std::wstring& path) {
    // FILE_SHARE_DELETE too: a file that another process has just renamed into
    // place may still be open there with delete access for a moment.
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string bytes;
    char chunk[65536];
    DWORD read = 0;
    while (::ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read > 0) {
        bytes.append(chunk, read);
    }
    ::CloseHandle(file);
    return bytes;
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring ExecutableFolder() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text = path;
    return text.substr(0, text.find_last_of(L'\\') + 1);
}

std::wstring NativeSystem32() {
    wchar_t windows[MAX_PATH] = {};
    ::SHGetSpecialFolderPathW(nullptr, windows, CSIDL_WINDOWS, FALSE);
    BOOL wow64 = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow64);
    return std::wstring(windows) + (wow64 ? L"\\Sysnative" : L"\\System32");
}

std::wstring ShownPath(const std::wstring& nativePath) {
    const std::wstring native = NativeSystem32();
    if (nativePath.compare(0, native.size(), native) != 0)
        return nativePath;
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + nativePath.substr(native.size());
}

wchar_t* NativeSeedEnvironment() {
    static wchar_t x64[] = L"Windows x64";
    BOOL wow64 = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow64);
    return wow64 ? x64 : nullptr;
}

std::wstring Native64Program(const std::wstring& name) {
    return ExecutableFolder() + (sizeof(void*) == 4 ? L"native64\\" : L"") + name;
}

std::wstring LayOutPackage(const std::wstring& folder, const std::wstring& program) {
    CreateFolders(folder + L"x64\\");
    const std::wstring path = folder + program;
    const bool copied =
        ::CopyFileW((ExecutableFolder() + program).c_str(), path.c_str(), FALSE) &&
        ::CopyFileW(Native64Program(program).c_str(), (folder + L"x64\\" + program).c_str(), FALSE);
    return copied ? path : std::wstring();
}

DWORD RunProgram(const std::wstring& program,
                 const std::wstring& arguments,
                 DWORD limitMs,
                 std::string* output) {
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ScratchFolder scratch;
    const std::wstring outputPath = scratch.path() + L"output.txt";
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE outputFile = INVALID_HANDLE_VALUE;
    if (output != nullptr) {
        outputFile = ::CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = outputFile;
        startup.hStdError = outputFile;
    }
    PROCESS_INFORMATION started{};
    const BOOL created =
        ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, output != nullptr,
                         0, nullptr, nullptr, &startup, &started);
    if (outputFile != INVALID_HANDLE_VALUE)
        ::CloseHandle(outputFile);
    if (!created)
        return 0xFFFFFFFF;
    ::CloseHandle(started.hThread);
    DWORD exitCode = STILL_ACTIVE;
    if (::WaitForSingleObject(started.hProcess, limitMs) != WAIT_OBJECT_0)
        ::TerminateProcess(started.hProcess, STILL_ACTIVE);
    else
        ::GetExitCodeProcess(started.hProcess, &exitCode);
    ::CloseHandle(started.hProcess);
    if (output != nullptr)
        *output = ReadBytes(outputPath);
    return exitCode;
}

std::wstring DocumentsFolder() {
    wchar_t path[MAX_PATH] = {};
    ::SHGetSpecialFolderPathW(nullptr, path, CSIDL_PERSONAL, FALSE);
    return path;
}

namespace {

std::string Encoded(const std::wstring& text, UINT codePage) {
    const int size = ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), bytes.data(),
                              size, nullptr, nullptr);
    }
    return bytes;
}

}  // namespace

std::string Ansi(const std::wstring& text) {
    return Encoded(text, CP_ACP);
}

std::string Utf8(const std::wstring& text) {
    return Encoded(text, CP_UTF8);
}

void ResetOperationLog() {
    RemoveTree(DocumentsFolder() + L"\\岚拓打印机\\");
    logFileNumber = 1;
}

std::string OperationLogText() {
    return ReadBytes(DocumentsFolder() + L"\\岚拓打印机\\Log(1).txt");
}

int CountOf(const std::string& haystack, const std::string& needle) {
    int count = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + needle.size())) {
        ++count;
    }
    return count;
}

const char* const SUPPORTED_OS_IDS[5] = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  // Vista
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10 and 11
};
