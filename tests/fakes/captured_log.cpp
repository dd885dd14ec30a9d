#include "fakes/captured_log.h"

#include <string>

namespace {

const HANDLE kLogHandle = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x4C06));
std::string logBytes;

bool IsLogPath(LPCWSTR path) {
    return path != nullptr && std::wstring(path).find(L"\\岚拓打印机\\") != std::wstring::npos;
}

BOOL WINAPI LogCreateDirectory(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
    if (!IsLogPath(path))
        return ::CreateDirectoryW(path, security);
    ::SetLastError(ERROR_ALREADY_EXISTS);
    return FALSE;
}

HANDLE WINAPI LogCreateFile(LPCWSTR path,
                            DWORD access,
                            DWORD share,
                            LPSECURITY_ATTRIBUTES security,
                            DWORD disposition,
                            DWORD flags,
                            HANDLE templateFile) {
    if (!IsLogPath(path)) {
        return ::CreateFileW(path, access, share, security, disposition, flags, templateFile);
    }
    return kLogHandle;
}

BOOL WINAPI LogFileSize(HANDLE file, PLARGE_INTEGER size) {
    if (file != kLogHandle)
        return ::GetFileSizeEx(file, size);
    size->QuadPart = static_cast<LONGLONG>(logBytes.size());
    return TRUE;
}

BOOL WINAPI LogSeek(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER position, DWORD method) {
    if (file != kLogHandle)
        return ::SetFilePointerEx(file, distance, position, method);
    return TRUE;
}

BOOL WINAPI
LogWrite(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
    if (file != kLogHandle)
        return ::WriteFile(file, data, size, written, overlapped);
    logBytes.append(static_cast<const char*>(data), size);
    if (written != nullptr)
        *written = size;
    return TRUE;
}

BOOL WINAPI LogClose(HANDLE handle) {
    return handle == kLogHandle ? TRUE : ::CloseHandle(handle);
}

int WINAPI Utf8Conversion(UINT codePage,
                          DWORD flags,
                          LPCWCH text,
                          int length,
                          LPSTR out,
                          int outSize,
                          LPCCH defaultChar,
                          LPBOOL usedDefault) {
    if (codePage != CP_ACP) {
        return ::WideCharToMultiByte(codePage, flags, text, length, out, outSize, defaultChar,
                                     usedDefault);
    }
    return ::WideCharToMultiByte(CP_UTF8, 0, text, length, out, outSize, nullptr, nullptr);
}

std::string HeadOf(const std::string& record) {
    const size_t failed = record.find(" failed with error ");
    if (failed != std::string::npos)
        return record.substr(0, record.find(':', failed));
    const size_t succeed = record.find(" succeed:");
    if (succeed != std::string::npos)
        return record.substr(0, succeed) + " succeed";
    return record.substr(0, record.find("     "));
}

}  // namespace

CapturedLog::CapturedLog() {
    logBytes.clear();
    win32.CreateDirectoryW = LogCreateDirectory;
    win32.CreateFileW = LogCreateFile;
    win32.GetFileSizeEx = LogFileSize;
    win32.SetFilePointerEx = LogSeek;
    win32.WriteFile = LogWrite;
    win32.CloseHandle = LogClose;
    win32.WideCharToMultiByte = Utf8Conversion;
}

std::vector<std::string> CapturedLog::Lines() const {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < logBytes.size()) {
        size_t end = logBytes.find('\0', start);
        if (end == std::string::npos)
            end = logBytes.size();
        lines.push_back(HeadOf(logBytes.substr(start, end - start)));
        start = end + 1;
    }
    return lines;
}
