// The seam's run-time binding of functions from System32's DLLs.
#include <gtest/gtest.h>

#include "platform/system_libraries.h"
#include "platform/win32_api.h"

namespace {

TEST(SystemLibraries, FunctionThatCannotBeFoundFailsLikeAFailedCall) {
    decltype(&::DeletePrinterConnectionW) missingModule = nullptr;
    BindSystemFunction(missingModule, nullptr, "DeletePrinterConnectionW");
    decltype(&::ClosePrinter) missingFunction = nullptr;
    BindSystemFunction(missingFunction, LoadSystemLibrary(L"winspool.drv"), "NoSuchExport");
    wchar_t name[] = L"\\\\server\\queue";
    ::SetLastError(0);
    EXPECT_FALSE(missingModule(name));
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_PROC_NOT_FOUND});
    ::SetLastError(0);
    EXPECT_FALSE(missingFunction(reinterpret_cast<HANDLE>(1)));
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_PROC_NOT_FOUND});
}

TEST(SystemLibraries, SpoolerAndCommonControlsComeFromSystem32) {
    for (const wchar_t* name : {L"winspool.drv", L"comctl32.dll"}) {
        const HMODULE module = LoadSystemLibrary(name);
        ASSERT_NE(module, nullptr) << ::GetLastError();
        wchar_t path[MAX_PATH] = {};
        wchar_t system[MAX_PATH] = {};
        ::GetModuleFileNameW(module, path, MAX_PATH);
        ::GetSystemDirectoryW(system, MAX_PATH);
        EXPECT_EQ(_wcsnicmp(path, system, wcslen(system)), 0);
    }
    EXPECT_EQ(reinterpret_cast<void*>(RealWin32Api().EnumPrintersW),
              reinterpret_cast<void*>(
                  ::GetProcAddress(LoadSystemLibrary(L"winspool.drv"), "EnumPrintersW")));
}

}  // namespace
