// Which file names a driver's information block puts up for deletion, and
// how DeleteDriverFiles walks the drivers folder for them (fake folder tree).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/driver_files.h"
#include "fakes/driver_block.h"
#include "fakes/fake_folder_tree.h"
#include "fakes/fake_machine.h"
#include "support/test_support.h"

namespace {

using Names = std::vector<std::wstring>;

const std::wstring kDir = L"C:\\Windows\\System32\\spool\\drivers\\W32X86\\3\\";

TEST(DriverFileNames, SharedNamesAreSkippedByExactCaseSensitiveContainment) {
    DriverBlock block(
        {kDir + L"UNIDRV.DLL", kDir + L"UNIRES.DLL", kDir + L"STDNAMES.GPD", kDir + L"DRV.DLL",
         kDir + L"NAMES.GPD", kDir + L"unidrv.dll", kDir + L"KTUI.DLL"},
        L"", kDir + L"KT100.GPD");
    EXPECT_EQ(DriverFileNamesToDelete(block.info),
              (Names{L"unidrv.dll", L"KTUI.DLL", L"KT100.GPD"}));
}

TEST(DriverFileNames, EntryWithoutBackslashEndsTheWalk) {
    DriverBlock block({kDir + L"A.DLL", L"B.DLL", kDir + L"C.DLL"}, L"", L"");
    EXPECT_EQ(DriverFileNamesToDelete(block.info), Names{L"A.DLL"});
}

TEST(DriverFileNames, EntryNamedLikeTheMonitorIsTakenAndEndsTheWalk) {
    DriverBlock block({kDir + L"A.DLL", kDir + L"KTLM.DLL", kDir + L"C.DLL"}, L"KTLM.DLL",
                      kDir + L"D.GPD");
    EXPECT_EQ(DriverFileNamesToDelete(block.info), (Names{L"A.DLL", L"KTLM.DLL", L"D.GPD"}));
}

TEST(DriverFileNames, SharedDataFileIsStillTakenAndDuplicatesStay) {
    DriverBlock block({kDir + L"X.DLL", L"C:\\other\\X.DLL"}, L"", kDir + L"STDNAMES.GPD");
    EXPECT_EQ(DriverFileNamesToDelete(block.info), (Names{L"X.DLL", L"X.DLL", L"STDNAMES.GPD"}));
}

TEST(DriverFileNames, AbsentFieldsCountAsEmpty) {
    DRIVER_INFO_6W info{};
    EXPECT_TRUE(DriverFileNamesToDelete(info).empty());

    std::wstring dependents = kDir + L"A.DLL" + L'\0' + kDir + L"B.DLL" + L'\0' + L'\0';
    info.pDependentFiles = dependents.data();
    EXPECT_EQ(DriverFileNamesToDelete(info), (Names{L"A.DLL", L"B.DLL"}));

    std::wstring data = kDir + L"D.GPD";
    info.pDependentFiles = nullptr;
    info.pDataFile = data.data();
    EXPECT_EQ(DriverFileNamesToDelete(info), Names{L"D.GPD"});
}

// DeleteDriverFiles over a fake drivers tree.
const std::wstring kDrivers = L"C:\\Windows\\System32\\spool\\drivers\\";
std::vector<std::wstring> deleted;
BOOL windowsFolderFound = TRUE;

// Answers for the Windows folder only; the log still finds Documents.
BOOL WINAPI FakeWindowsFolder(HWND owner, LPWSTR path, int folder, BOOL create) {
    if (folder != CSIDL_WINDOWS)
        return ::SHGetSpecialFolderPathW(owner, path, folder, create);
    if (!windowsFolderFound) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    wcscpy(path, L"C:\\Windows");
    return TRUE;
}

BOOL WINAPI FakeDeleteFile(LPCWSTR path) {
    deleted.push_back(path);
    return TRUE;
}

class DeleteDriverFilesFake : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetOperationLog();
        deleted.clear();
        windowsFolderFound = TRUE;
        win32.SHGetSpecialFolderPathW = FakeWindowsFolder;
        FakeNativeMachine(IMAGE_FILE_MACHINE_AMD64, false);
        win32.DeleteFileW = FakeDeleteFile;
        InstallFakeFolderTree({{kDrivers, {{L"KT.GPD"}}}});
    }
    void TearDown() override { ResetOperationLog(); }
    ScopedWin32Fakes fakes;
};

TEST_F(DeleteDriverFilesFake, NoNamesWalksNothing) {
    DRIVER_INFO_6W empty{};
    EXPECT_TRUE(DeleteDriverFiles(empty));
    EXPECT_TRUE(FakeTreeSearches().empty());
}

TEST_F(DeleteDriverFilesFake, UnknownWindowsFolderDeletesNothingAndFails) {
    DriverBlock block({}, L"", kDir + L"KT.GPD");
    EXPECT_TRUE(DeleteDriverFiles(block.info));
    EXPECT_EQ(deleted, Names{kDrivers + L"KT.GPD"});

    deleted.clear();
    windowsFolderFound = FALSE;
    EXPECT_FALSE(DeleteDriverFiles(block.info));
    EXPECT_TRUE(deleted.empty());
    EXPECT_EQ(OperationLogText().rfind("SHGetSpecialFolderPath failed with error 3: ", 0), 0u);
}

}  // namespace
