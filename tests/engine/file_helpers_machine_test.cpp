// The walk and the whole-file read on real files of the private prefix.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/file_helpers.h"
#include "support/test_support.h"

namespace {

std::vector<std::wstring> foldersRemoved;
BOOL WINAPI RecordFolderRemoval(LPCWSTR path) {
    foldersRemoved.push_back(path);
    return ::RemoveDirectoryW(path);
}

class WalkFolderOnDisk : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetOperationLog();
        foldersRemoved.clear();
    }
    void TearDown() override { ResetOperationLog(); }
    std::wstring Path(const std::wstring& relative) const { return scratch.path() + relative; }
    ScratchFolder scratch;
    ScopedWin32Fakes fakes;
    FileList list;
};

TEST_F(WalkFolderOnDisk, DeleteWithRemoveFoldersRemovesInnermostFirst) {
    WriteBytes(Path(L"a\\1.dll"), "1");
    WriteBytes(Path(L"a\\b\\2.dll"), "2");
    WriteBytes(Path(L"a\\b\\c\\3.dll"), "3");
    win32.RemoveDirectoryW = RecordFolderRemoval;

    EXPECT_TRUE(WalkFolder(list, Path(L"a\\"), WALK_DELETE, L"", TRUE));
    EXPECT_EQ(foldersRemoved,
              (std::vector<std::wstring>{Path(L"a\\b\\c\\"), Path(L"a\\b\\"), Path(L"a\\")}));
    EXPECT_FALSE(FolderExists(Path(L"a")));
    EXPECT_EQ(OperationLogText(), "");
    EXPECT_TRUE(list.empty());
}

TEST_F(WalkFolderOnDisk, EmptyPatternWithoutRemoveFoldersEmptiesEveryFolderAndKeepsThem) {
    WriteBytes(Path(L"t\\x.SHD"), "x");
    WriteBytes(Path(L"t\\sub\\y.txt"), "y");
    EXPECT_TRUE(WalkFolder(list, Path(L"t\\"), WALK_DELETE, L"", FALSE));
    EXPECT_FALSE(FileExists(Path(L"t\\x.SHD")));
    EXPECT_FALSE(FileExists(Path(L"t\\sub\\y.txt")));
    EXPECT_TRUE(FolderExists(Path(L"t\\sub")));
}

TEST_F(WalkFolderOnDisk, PatternDeletesOnlyNamesContainingItWithItsCase) {
    WriteBytes(Path(L"inf\\oem3.inf"), "");
    WriteBytes(Path(L"inf\\oem3.PNF"), "");
    WriteBytes(Path(L"inf\\OEM4.INF"), "");
    WriteBytes(Path(L"inf\\nested\\oem9.inf"), "");
    EXPECT_TRUE(WalkFolder(list, Path(L"inf\\"), WALK_DELETE, L"oem", FALSE));
    EXPECT_FALSE(FileExists(Path(L"inf\\oem3.inf")));
    EXPECT_FALSE(FileExists(Path(L"inf\\oem3.PNF")));
    EXPECT_FALSE(FileExists(Path(L"inf\\nested\\oem9.inf")));
    EXPECT_TRUE(FileExists(Path(L"inf\\OEM4.INF")));
}

TEST_F(WalkFolderOnDisk, LockedFileFailsItsFolderAndTheTopFolder) {
    WriteBytes(Path(L"p\\ok.dll"), "ok");
    WriteBytes(Path(L"p\\sub\\locked.dll"), "locked");
    HANDLE held = ::CreateFileW(Path(L"p\\sub\\locked.dll").c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const BOOL result = WalkFolder(list, Path(L"p\\"), WALK_DELETE, L"", TRUE);
    ::CloseHandle(held);

    EXPECT_FALSE(result);
    const std::string log = OperationLogText();
    EXPECT_EQ(
        CountOf(log, "DeleteFile" + Utf8(Path(L"p\\sub\\locked.dll")) + " failed with error "), 1);
    EXPECT_EQ(CountOf(log, "RemoveDirectory failed with error "), 2);
    EXPECT_FALSE(FileExists(Path(L"p\\ok.dll")));
}

TEST_F(WalkFolderOnDisk, ReadOnlyFileIsNotDeletedAndIsLogged) {
    WriteBytes(Path(L"r\\ro.dll"), "ro");
    ::SetFileAttributesW(Path(L"r\\ro.dll").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(WalkFolder(list, Path(L"r\\"), WALK_DELETE, L".dll", FALSE));
    EXPECT_TRUE(FileExists(Path(L"r\\ro.dll")));
    EXPECT_EQ(CountOf(OperationLogText(), "DeleteFile" + Utf8(Path(L"r\\ro.dll")) + " failed"), 1);
}

TEST_F(WalkFolderOnDisk, MissingFolderIsAnEmptyWalkExceptForItsRemoval) {
    const std::wstring missing = Path(L"missing\\");
    list.push_back(L"kept");
    EXPECT_TRUE(WalkFolder(list, missing, WALK_COLLECT, L"", TRUE));
    EXPECT_EQ(list, FileList{L"kept"});
    EXPECT_TRUE(WalkFolder(list, missing, WALK_DELETE, L"", FALSE));
    EXPECT_EQ(OperationLogText(), "");
    EXPECT_FALSE(WalkFolder(list, missing, WALK_DELETE, L"", TRUE));
    EXPECT_EQ(CountOf(OperationLogText(), "RemoveDirectory failed with error "), 1);
}

TEST_F(WalkFolderOnDisk, CollectFindsFilesInSubfoldersWhoseNamesDoNotMatch) {
    WriteBytes(Path(L"repo\\pkg_a\\a.inf"), "");
    WriteBytes(Path(L"repo\\pkg_a\\deep\\b.inf"), "");
    WriteBytes(Path(L"repo\\pkg_b\\c.INF"), "");
    EXPECT_TRUE(WalkFolder(list, Path(L"repo\\"), WALK_COLLECT, L".inf", TRUE));
    std::sort(list.begin(), list.end());
    EXPECT_EQ(list, (FileList{Path(L"repo\\pkg_a\\a.inf"), Path(L"repo\\pkg_a\\deep\\b.inf")}));
    EXPECT_TRUE(FileExists(Path(L"repo\\pkg_b\\c.INF")));
}

TEST(ReadWholeFileOnDisk, ReturnsBytesPlusZeroOrNoDataWhenUnreadable) {
    ScratchFolder scratch;
    const std::wstring text = scratch.path() + L"a.inf";
    WriteBytes(text, std::string("ab\0c", 4));
    FileBytes file = ReadWholeFile(text);
    EXPECT_EQ(file.length, 4u);
    EXPECT_EQ(std::string(file.bytes.begin(), file.bytes.end()), std::string("ab\0c\0", 5));

    const std::wstring empty = scratch.path() + L"empty.inf";
    WriteBytes(empty, "");
    file = ReadWholeFile(empty);
    EXPECT_EQ(file.length, 0u);
    EXPECT_EQ(file.bytes, std::vector<char>{'\0'});

    file = ReadWholeFile(scratch.path() + L"missing.inf");
    EXPECT_TRUE(file.bytes.empty());

    // Another holder, even one that allows reading, makes the file unreadable:
    // the read asks for no sharing.
    HANDLE held = ::CreateFileW(text.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    file = ReadWholeFile(text);
    ::CloseHandle(held);
    EXPECT_TRUE(file.bytes.empty());
    EXPECT_EQ(file.length, 0u);
}

}  // namespace
