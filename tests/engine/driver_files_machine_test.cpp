// Driver files cleanup on the real driver folders of the private prefix
// (reached through the Windows folder as the program sees it), and on a
// driver installed through Wine's spooler.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/driver_files.h"
#include "fakes/driver_block.h"
#include "fakes/fake_machine.h"
#include "support/seeded_printers.h"
#include "support/test_support.h"

namespace {

std::wstring DriversFolder() {
    wchar_t windows[MAX_PATH] = {};
    ::SHGetSpecialFolderPathW(nullptr, windows, CSIDL_WINDOWS, FALSE);
    return std::wstring(windows) + L"\\System32\\spool\\drivers\\";
}

// Seeds files under the drivers folder, never over an existing one, and
// removes what is left of them, and the version folder "w32x86\2" when the
// test created it.
class DriverFoldersOnWine : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetOperationLog();
        ASSERT_TRUE(FolderExists(drivers + L"w32x86\\3"));
        ASSERT_TRUE(FolderExists(drivers + L"x64\\3"));
        createdVersion2 = !FolderExists(drivers + L"w32x86\\2");
    }
    void TearDown() override {
        for (const std::wstring& file : seeded)
            ::DeleteFileW((drivers + file).c_str());
        if (createdVersion2)
            ::RemoveDirectoryW((drivers + L"w32x86\\2").c_str());
        ResetOperationLog();
    }
    void Seed(const std::vector<std::wstring>& files) {
        for (const std::wstring& file : files) {
            ASSERT_FALSE(FileExists(drivers + file)) << Utf8(file);
            seeded.push_back(file);
            WriteBytes(drivers + file, "driver file");
        }
    }
    bool Exists(const std::wstring& file) const { return FileExists(drivers + file); }
    const std::wstring drivers = DriversFolder();
    std::vector<std::wstring> seeded;
    bool createdVersion2 = false;
};

TEST_F(DriverFoldersOnWine, SharedNameIsKeptWhileContainingNamesGoInEveryFolder) {
    Seed({L"w32x86\\3\\UNIDRV.DLL", L"x64\\3\\unidrv.dll", L"w32x86\\3\\AX.DLL",
          L"w32x86\\2\\X.DLL.BAK", L"w32x86\\3\\x.dll", L"w32x86\\3\\KTRMDATA.GPD",
          L"x64\\3\\KTRMDATA.GPD"});
    const std::wstring v3 = drivers + L"w32x86\\3\\";
    DriverBlock block({v3 + L"UNIDRV.DLL", v3 + L"unidrv.dll", v3 + L"X.DLL"}, L"",
                      v3 + L"KTRMDATA.GPD");
    // The prefix's own driver (a prefix made where no 32-bit program runs has
    // only the x64 one).
    std::vector<std::wstring> own;
    for (const wchar_t* file : {L"w32x86\\3\\wineps.drv", L"x64\\3\\wineps.drv"}) {
        if (Exists(file))
            own.push_back(file);
    }
    ASSERT_FALSE(own.empty());

    EXPECT_TRUE(DeleteDriverFiles(block.info));
    EXPECT_TRUE(Exists(L"w32x86\\3\\UNIDRV.DLL"));
    EXPECT_TRUE(Exists(L"w32x86\\3\\x.dll"));
    EXPECT_FALSE(Exists(L"x64\\3\\unidrv.dll"));
    EXPECT_FALSE(Exists(L"w32x86\\3\\AX.DLL"));
    EXPECT_FALSE(Exists(L"w32x86\\2\\X.DLL.BAK"));
    EXPECT_FALSE(Exists(L"w32x86\\3\\KTRMDATA.GPD"));
    EXPECT_FALSE(Exists(L"x64\\3\\KTRMDATA.GPD"));
    EXPECT_TRUE(FolderExists(drivers + L"w32x86\\2"));
    for (const std::wstring& file : own)
        EXPECT_TRUE(Exists(file)) << "the prefix's own driver is untouched: " << Utf8(file);
    EXPECT_EQ(OperationLogText(), "");
}

// A Windows folder of the test's own, so that the drivers tree holds only the
// seeded folders: the walk's result is its last outcome in enumeration order,
// and a sibling folder walked after the held file without a match would count
// as success there. The real tree's enumeration order is not the test's to
// choose.
std::wstring privateWindows;
BOOL WINAPI PrivateWindowsFolder(HWND owner, LPWSTR path, int folder, BOOL create) {
    if (folder != CSIDL_WINDOWS)
        return ::SHGetSpecialFolderPathW(owner, path, folder, create);
    wcscpy(path, privateWindows.c_str());
    return TRUE;
}

BOOL WINAPI RefuseToSchedule(LPCWSTR, LPCWSTR, DWORD) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// A held file that cannot be scheduled for the restart either fails the
// cleanup, whichever of the driver's names matched it; the other files go.
TEST(DriverFilesOnDisk, LockedFileThatCannotBeScheduledFailsTheCleanupWhereverItIs) {
    ResetOperationLog();
    ScratchFolder scratch;
    privateWindows = scratch.path() + L"Windows";
    ScopedWin32Fakes fakes;
    win32.SHGetSpecialFolderPathW = PrivateWindowsFolder;
    win32.MoveFileExW = RefuseToSchedule;
    FakeNativeMachine(IMAGE_FILE_MACHINE_AMD64, false);
    const std::wstring v3 = privateWindows + L"\\System32\\spool\\drivers\\w32x86\\3\\";
    DriverBlock block({v3 + L"X.DLL"}, L"", v3 + L"KTRMLOCK.GPD");
    for (const wchar_t* locked : {L"AX.DLL", L"KTRMLOCK.GPD"}) {
        WriteBytes(v3 + L"AX.DLL", "module");
        WriteBytes(v3 + L"KTRMLOCK.GPD", "data file");
        const HANDLE held = ::CreateFileW((v3 + locked).c_str(), GENERIC_READ, 0, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        const BOOL result = DeleteDriverFiles(block.info);
        ::CloseHandle(held);
        EXPECT_FALSE(result) << Utf8(locked);
        EXPECT_TRUE(FileExists(v3 + locked));
        EXPECT_EQ(
            CountOf(OperationLogText(), "DeleteFile" + Utf8(v3 + locked) + " failed with error 32"),
            1);
        EXPECT_EQ(
            CountOf(OperationLogText(), "MoveFileEx" + Utf8(v3 + locked) + " failed with error 5"),
            1);
        ResetOperationLog();
    }
    EXPECT_FALSE(FileExists(v3 + L"AX.DLL")) << "the other file went";
}

TEST_F(DriverFoldersOnWine, DriverInstalledThroughTheSpoolerLosesItsOwnFilesOnly) {
    SeededPrinterDriver driver(L"KT Removal Driver Files", L"KTRMDRV.DLL", L"KTRMUI.DLL",
                               L"KTRMINST.GPD", {L"KTRMDEP.DLL", L"UNIRES.DLL"});
    ASSERT_TRUE(driver.installed());
    const DRIVER_INFO_6W* info = driver.Info();
    ASSERT_NE(info, nullptr);
    ASSERT_TRUE(FileExists(driver.directory() + L"3\\KTRMDEP.DLL"));

    EXPECT_TRUE(DeleteDriverFiles(*info));
    // The dependent and data files go, both the spooler's copies and the
    // originals in the driver directory; the shared module and the files
    // named only as driver and configuration module stay.
    for (const wchar_t* gone :
         {L"3\\KTRMDEP.DLL", L"KTRMDEP.DLL", L"3\\KTRMINST.GPD", L"KTRMINST.GPD"}) {
        EXPECT_FALSE(FileExists(driver.directory() + gone)) << Utf8(gone);
    }
    for (const wchar_t* kept : {L"3\\UNIRES.DLL", L"3\\KTRMDRV.DLL", L"3\\KTRMUI.DLL"})
        EXPECT_TRUE(FileExists(driver.directory() + kept)) << Utf8(kept);
    EXPECT_EQ(OperationLogText(), "");
}

}  // namespace
