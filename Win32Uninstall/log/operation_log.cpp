#include "log/operation_log.h"

#include <vector>

#include "platform/unique_handles.h"
#include "platform/win32_api.h"

int logFileNumber = 1;

namespace {

constexpr wchar_t kLogFolderName[] = L"\\岚拓打印机\\";
// The log folder path, brand folder and terminating zero included, must fit
// in this many UTF-16 units.
constexpr size_t kLogFolderUnits = 256;

std::wstring TimestampLine(const SYSTEMTIME& t) {
    auto n = [](WORD value) { return std::to_wstring(value); };
    return L"     " + n(t.wDay) + L"-" + n(t.wMonth) + L"-" + n(t.wYear) + L"," + n(t.wHour) +
           L":" + n(t.wMinute) + L":" + n(t.wSecond) + L":" + n(t.wMilliseconds) + L" \r\n";
}

// The system's text for `code`, usually ending in CR LF. Inserts such as "%1"
// are left as they are: there are no arguments to put in their place.
std::wstring SystemMessageText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = win32.FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr)
        return L"(no system text for this code)\r\n";
    std::wstring text(buffer, length);
    ::LocalFree(buffer);
    return text;
}

std::wstring RecordText(const std::wstring& text,
                        bool withLastError,
                        DWORD code,
                        const SYSTEMTIME& time) {
    if (!withLastError)
        return text + TimestampLine(time);
    const std::wstring codeText = std::to_wstring(static_cast<int>(code));
    const std::wstring middle =
        code != 0 ? L" failed with error " + codeText + L": " : L" succeed:  " + codeText + L": ";
    return text + middle + SystemMessageText(code) + TimestampLine(time);
}

// Documents + "\岚拓打印机\", created if missing. When Documents cannot be
// determined, or its path leaves no room for the brand folder in the folder
// buffer, the folder is "\岚拓打印机\" at the root of the current drive.
std::wstring LogFolder() {
    wchar_t documents[MAX_PATH] = {};
    std::wstring folder = kLogFolderName;
    if (win32.SHGetSpecialFolderPathW(nullptr, documents, CSIDL_PERSONAL, FALSE)) {
        const std::wstring candidate = std::wstring(documents) + kLogFolderName;
        if (candidate.size() < kLogFolderUnits)
            folder = candidate;
    }
    win32.CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

bool IsHeldByAnotherWriter(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Opens (creating if missing) one log file without sharing. Waits a bounded
// time while another writer holds it; any other failure gives up at once.
unique_file OpenLogFile(const std::wstring& path) {
    for (int attempt = 1;; ++attempt) {
        unique_file file(win32.CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file)
            return file;
        if (!IsHeldByAnotherWriter(::GetLastError()) || attempt >= LOG_OPEN_ATTEMPTS)
            return {};
        win32.Sleep(LOG_OPEN_RETRY_DELAY_MS);
    }
}

// The first log file from logFileNumber on that is below the limit, opened.
unique_file OpenCurrentLogFile(const std::wstring& folder) {
    for (int number = logFileNumber;; ++number) {
        unique_file file = OpenLogFile(folder + L"Log(" + std::to_wstring(number) + L").txt");
        LARGE_INTEGER size{};
        if (!file || !win32.GetFileSizeEx(file.get(), &size))
            return {};
        if (size.QuadPart < LOG_FILE_LIMIT) {
            logFileNumber = number;
            return file;
        }
    }
}

// The record in the ANSI code page, followed by one zero byte.
std::vector<char> AnsiRecordBytes(const std::wstring& record) {
    const int length = static_cast<int>(record.size());
    const int needed =
        win32.WideCharToMultiByte(CP_ACP, 0, record.data(), length, nullptr, 0, nullptr, nullptr);
    std::vector<char> bytes(static_cast<size_t>(needed > 0 ? needed : 0) + 1, '\0');
    if (needed > 0) {
        win32.WideCharToMultiByte(CP_ACP, 0, record.data(), length, bytes.data(), needed, nullptr,
                                  nullptr);
    }
    return bytes;
}

thread_local LoggedFailure firstFailure;

}  // namespace

namespace {

void AppendRecord(const std::wstring& text, bool withLastError, DWORD code) {
    SYSTEMTIME now{};
    win32.GetLocalTime(&now);
    const std::wstring folder = LogFolder();
    const std::vector<char> bytes = AnsiRecordBytes(RecordText(text, withLastError, code, now));

    unique_file file = OpenCurrentLogFile(folder);
    if (!file)
        return;
    LARGE_INTEGER zero{};
    if (!win32.SetFilePointerEx(file.get(), zero, nullptr, FILE_END))
        return;
    DWORD written = 0;
    win32.WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

void WriteLog(std::wstring text, bool withLastError) {
    const DWORD code = withLastError ? ::GetLastError() : 0;
    if (!firstFailure.logged)
        firstFailure = {true, text, code};
    AppendRecord(text, withLastError, code);
}

void WriteLogNote(const std::wstring& text) {
    AppendRecord(text, false, 0);
}

void ForgetLoggedFailure() {
    firstFailure = LoggedFailure{};
}

LoggedFailure FirstLoggedFailure() {
    return firstFailure;
}
