// The handover to the package's 64-bit copy, through the seam: when it starts
// what, by which path, and what the caller is told.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_machine.h"
#include "platform/native_handover.h"
#include "support/test_support.h"

namespace {

const std::wstring kFolder = L"C:\\Users\\用户\\Downloads\\KAVRO 驱动\\";
std::wstring modulePath;
std::vector<std::wstring> started;  // "<application>|<command line>|<inherit>"
DWORD createError = 0;
int closedHandles = 0;

DWORD WINAPI FakeModuleFileName(HMODULE, LPWSTR buffer, DWORD units) {
    const DWORD length = static_cast<DWORD>(modulePath.size());
    const DWORD copied = length < units ? length : units;
    modulePath.copy(buffer, copied);
    if (copied < units)
        buffer[copied] = L'\0';
    return copied;
}

BOOL WINAPI FakeCreateProcess(LPCWSTR application,
                              LPWSTR commandLine,
                              LPSECURITY_ATTRIBUTES,
                              LPSECURITY_ATTRIBUTES,
                              BOOL inherit,
                              DWORD,
                              LPVOID,
                              LPCWSTR,
                              LPSTARTUPINFOW startup,
                              LPPROCESS_INFORMATION info) {
    const bool sharesStandardHandles = inherit && (startup->dwFlags & STARTF_USESTDHANDLES);
    started.push_back(std::wstring(application ? application : L"(null)") + L"|" + commandLine +
                      (sharesStandardHandles ? L"|shared" : L"|own"));
    if (createError != 0) {
        ::SetLastError(createError);
        return FALSE;
    }
    info->hProcess = reinterpret_cast<HANDLE>(0x1234);
    info->hThread = reinterpret_cast<HANDLE>(0x5678);
    return TRUE;
}

BOOL WINAPI FakeCloseHandle(HANDLE) {
    ++closedHandles;
    return TRUE;
}

class NativeHandoverFake : public ::testing::Test {
  protected:
    void SetUp() override {
        modulePath = kFolder + L"Uninstall.exe";
        started.clear();
        createError = 0;
        closedHandles = 0;
        win32.GetModuleFileNameW = FakeModuleFileName;
        win32.CreateProcessW = FakeCreateProcess;
        win32.CloseHandle = FakeCloseHandle;
    }
    ScopedWin32Fakes fakes;
};

TEST_F(NativeHandoverFake, Wow64OnX64StartsTheCopyByItsFullPathAndClosesItsHandles) {
    FakeNativeMachine(IMAGE_FILE_MACHINE_AMD64, true);
    EXPECT_TRUE(StartNativeCopy(L"x64\\Uninstall.exe", L""));
    const std::wstring program = kFolder + L"x64\\Uninstall.exe";
    EXPECT_EQ(started, (std::vector<std::wstring>{program + L"|\"" + program + L"\"|own"}));
    EXPECT_EQ(closedHandles, 2);
}

// The console program passes its arguments on and keeps the process handle,
// to wait for the copy's exit code; the copy writes to the same output.
TEST_F(NativeHandoverFake, ConsoleCopyGetsTheArgumentsAndTheStandardHandles) {
    FakeNativeMachine(IMAGE_FILE_MACHINE_AMD64, true);
    unique_handle process;
    EXPECT_TRUE(StartNativeCopy(L"x64\\UninstallCli.exe", L"remove --driver \"A B\"", &process));
    const std::wstring program = kFolder + L"x64\\UninstallCli.exe";
    EXPECT_EQ(started, (std::vector<std::wstring>{program + L"|\"" + program +
                                                  L"\" remove --driver \"A B\"|shared"}));
    EXPECT_EQ(process.get(), reinterpret_cast<HANDLE>(0x1234));
    EXPECT_EQ(closedHandles, 1);
    process.reset();
    EXPECT_EQ(closedHandles, 2);
}

TEST_F(NativeHandoverFake, NothingIsStartedWhereThisProgramDoesTheJobItself) {
    struct Case {
        USHORT machine;
        bool wow64;
        bool withIsWow64Process2;
        DWORD createError;
    } cases[] = {
        {IMAGE_FILE_MACHINE_AMD64, false, true, 0},                    // the 64-bit copy itself
        {IMAGE_FILE_MACHINE_I386, false, true, 0},                     // 32-bit Windows
        {0xAA64, true, true, 0},                                       // ARM64 runs the x86 program
        {IMAGE_FILE_MACHINE_AMD64, true, true, ERROR_FILE_NOT_FOUND},  // no copy
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "machine 0x" << std::hex << c.machine << " wow64 "
                                        << c.wow64 << " error " << std::dec << c.createError);
        started.clear();
        createError = c.createError;
        FakeNativeMachine(c.machine, c.wow64, c.withIsWow64Process2);
        EXPECT_FALSE(StartNativeCopy(L"x64\\Uninstall.exe", L""));
        EXPECT_EQ(started.size(), c.createError != 0 ? 1u : 0u);
    }
    EXPECT_EQ(closedHandles, 0);
}

TEST_F(NativeHandoverFake, ModulePathLongerThanMaxPathIsReadWholeNotCutToAParentFolder) {
    FakeNativeMachine(IMAGE_FILE_MACHINE_AMD64, true, false);
    const std::wstring deep = L"C:\\" + std::wstring(300, L'd') + L"\\";
    modulePath = deep + L"Uninstall.exe";
    EXPECT_EQ(OwnFolder(), deep);
    EXPECT_TRUE(StartNativeCopy(L"x64\\Uninstall.exe", L""));
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].substr(0, started[0].find(L'|')), deep + L"x64\\Uninstall.exe");
}

}  // namespace
