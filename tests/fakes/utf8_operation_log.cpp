#include "fakes/utf8_operation_log.h"

#include "platform/win32_api.h"

namespace {

int WINAPI Utf8WideCharToMultiByte(UINT,
                                   DWORD,
                                   LPCWCH text,
                                   int length,
                                   LPSTR bytes,
                                   int size,
                                   LPCCH,
                                   LPBOOL) {
    return ::WideCharToMultiByte(CP_UTF8, 0, text, length, bytes, size, nullptr, nullptr);
}

}  // namespace

void WriteOperationLogAsUtf8() {
    win32.WideCharToMultiByte = Utf8WideCharToMultiByte;
}
