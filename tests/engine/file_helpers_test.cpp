// The walk's order, result rule and unusual entries, with a fake enumeration
// and fake deletions; path splitting and the take-ownership command text.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "engine/file_helpers.h"
#include "fakes/captured_log.h"
#include "fakes/fake_folder_tree.h"
#include "fakes/fake_machine.h"
#include "support/test_support.h"

namespace {

std::vector<std::wstring> walkDeleted;
std::vector<std::wstring> removed;
std::set<std::wstring> walkUndeletable;

BOOL WINAPI FakeWalkDeleteFile(LPCWSTR path) {
    if (walkUndeletable.count(path)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    walkDeleted.push_back(path);
    return TRUE;
}

BOOL WINAPI FakeWalkRemoveDirectory(LPCWSTR path) {
    removed.push_back(path);
    return TRUE;
}

class WalkFolderFake : public ::testing::Test {
  protected:
    void SetUp() override {
        walkDeleted.clear();
        removed.clear();
        walkUndeletable.clear();
        win32.DeleteFileW = FakeWalkDeleteFile;
        win32.RemoveDirectoryW = FakeWalkRemoveDirectory;
        ResetOperationLog();
    }
    void TearDown() override { ResetOperationLog(); }
    ScopedWin32Fakes fakes;
    FileList list;
};

constexpr DWORD kDirAttr = FILE_ATTRIBUTE_DIRECTORY;

TEST_F(WalkFolderFake, CollectIsDepthFirstInEnumerationOrderAndEntersEveryFolder) {
    InstallFakeFolderTree(
        {{L"C:\\r\\",
          {{L"."}, {L"..", kDirAttr}, {L"1oem.inf"}, {L"sub", kDirAttr}, {L"2oem.inf"}}},
         {L"C:\\r\\sub\\", {{L"x.oem.pnf"}, {L"OEM.INF"}}}});
    EXPECT_TRUE(WalkFolder(list, L"C:\\r\\", WALK_COLLECT, L"oem", TRUE));
    EXPECT_EQ(list, (FileList{L"C:\\r\\1oem.inf", L"C:\\r\\sub\\x.oem.pnf", L"C:\\r\\2oem.inf"}));
    EXPECT_TRUE(walkDeleted.empty());
    EXPECT_TRUE(removed.empty());
    EXPECT_EQ(FakeTreeOpenHandles(), 0);
}

TEST_F(WalkFolderFake, DeleteWithoutRemoveFoldersLetsTheLastAttemptDecide) {
    InstallFakeFolderTree({{L"C:\\r\\", {{L"a.SPL"}, {L"sub", kDirAttr}, {L"c.SPL"}}},
                           {L"C:\\r\\sub\\", {{L"b.SPL"}}}});
    walkUndeletable = {L"C:\\r\\a.SPL"};
    EXPECT_TRUE(WalkFolder(list, L"C:\\r\\", WALK_DELETE, L".SPL", FALSE));
    EXPECT_EQ(walkDeleted, (std::vector<std::wstring>{L"C:\\r\\sub\\b.SPL", L"C:\\r\\c.SPL"}));
    EXPECT_EQ(CountOf(OperationLogText(), "DeleteFileC:\\r\\a.SPL failed with error 5: "), 1);

    walkUndeletable = {L"C:\\r\\c.SPL"};
    EXPECT_FALSE(WalkFolder(list, L"C:\\r\\", WALK_DELETE, L".SPL", FALSE));
    EXPECT_TRUE(list.empty());
}

TEST_F(WalkFolderFake, LaterFolderWithoutMatchesDoesNotHideAFailedDeletion) {
    InstallFakeFolderTree(
        {{L"C:\\r\\", {{L"a.SPL"}, {L"empty", kDirAttr}}}, {L"C:\\r\\empty\\", {{L"readme.txt"}}}});
    walkUndeletable = {L"C:\\r\\a.SPL"};
    EXPECT_FALSE(WalkFolder(list, L"C:\\r\\", WALK_DELETE, L".SPL", FALSE));
    walkUndeletable.clear();
    EXPECT_TRUE(WalkFolder(list, L"C:\\r\\", WALK_DELETE, L".SPL", FALSE));
}

TEST_F(WalkFolderFake, JunctionIsNeverEnteredAndOnlyTheLinkIsRemoved) {
    // "link" points elsewhere; its target's files are listed under it here so
    // that entering it would show up as deletions.
    InstallFakeFolderTree(
        {{L"C:\\pkg\\", {{L"x.inf"}, {L"link", kDirAttr | FILE_ATTRIBUTE_REPARSE_POINT}}},
         {L"C:\\pkg\\link\\", {{L"precious.dll"}}}});
    EXPECT_TRUE(WalkFolder(list, L"C:\\pkg\\", WALK_DELETE, L"", TRUE));
    EXPECT_EQ(walkDeleted, (std::vector<std::wstring>{L"C:\\pkg\\x.inf"}));
    EXPECT_EQ(removed, (std::vector<std::wstring>{L"C:\\pkg\\link\\", L"C:\\pkg\\"}));
    for (const std::wstring& search : FakeTreeSearches()) {
        EXPECT_EQ(search.find(L"link"), std::wstring::npos) << Utf8(search);
    }

    removed.clear();
    walkDeleted.clear();
    EXPECT_TRUE(WalkFolder(list, L"C:\\pkg\\", WALK_DELETE, L"", FALSE));
    EXPECT_TRUE(removed.empty());
    EXPECT_EQ(walkDeleted, (std::vector<std::wstring>{L"C:\\pkg\\x.inf"}));
}

TEST_F(WalkFolderFake, FileTooLongForTheBuffersIsLoggedAndNeverCountsAsDeleted) {
    const std::wstring longName(250, L'n');
    InstallFakeFolderTree({{L"C:\\r\\", {{L"ok.dll"}, {longName + L".dll"}}}});
    EXPECT_FALSE(WalkFolder(list, L"C:\\r\\", WALK_DELETE, L".dll", FALSE));
    EXPECT_EQ(walkDeleted, (std::vector<std::wstring>{L"C:\\r\\ok.dll"}));
    EXPECT_EQ(CountOf(OperationLogText(),
                      "DeleteFileC:\\r\\" + Utf8(longName) + ".dll failed with error 206: "),
              1);

    EXPECT_TRUE(WalkFolder(list, L"C:\\r\\", WALK_COLLECT, L".dll", FALSE));
    EXPECT_EQ(list, (FileList{L"C:\\r\\ok.dll"}));
}

TEST_F(WalkFolderFake, FolderTooLongToSearchIsLoggedAndNotEntered) {
    const std::wstring longName(254, L'f');
    const std::wstring deep = L"C:\\r\\" + longName + L"\\";
    InstallFakeFolderTree({{L"C:\\r\\", {{longName, kDirAttr}, {L"a.dll"}}}, {deep, {{L"b.dll"}}}});
    EXPECT_TRUE(WalkFolder(list, L"C:\\r\\", WALK_DELETE, L".dll", FALSE));
    EXPECT_EQ(walkDeleted, (std::vector<std::wstring>{L"C:\\r\\a.dll"}));
    EXPECT_EQ(CountOf(OperationLogText(), "FindFirstFile" + Utf8(deep) + " failed with error 206"),
              1);
}

TEST(PathParts, SplitAtTheLastBackslash) {
    EXPECT_EQ(FolderOf(L"C:\\A\\B\\X.INF"), L"C:\\A\\B\\");
    EXPECT_EQ(FolderOf(L"X.INF"), L"");
    EXPECT_EQ(FolderOf(L""), L"");
    EXPECT_EQ(FileNameOf(L"C:\\A\\B\\X.DLL"), L"X.DLL");
    EXPECT_EQ(FileNameOf(L"X.DLL"), L"");
    EXPECT_EQ(FileNameOf(L"C:\\A\\"), L"");
}

TEST(NameContains, MatchesTheFileNameCaseSensitively) {
    EXPECT_TRUE(NameContains(L"C:\\inf\\oem12.inf", L"oem"));
    EXPECT_TRUE(NameContains(L"C:\\inf\\oem12.PNF", L"oem"));
    EXPECT_FALSE(NameContains(L"C:\\inf\\OEM12.INF", L"oem"));
    EXPECT_FALSE(NameContains(L"C:\\x\\SETUP.INF", L".inf"));
    EXPECT_FALSE(NameContains(L"C:\\oem\\setup.inf", L"oem"));  // only the name counts
    EXPECT_TRUE(NameContains(L"C:\\x\\anything", L""));
    EXPECT_FALSE(NameContains(L"", L""));
    EXPECT_FALSE(NameContains(L"oem1.inf", L"oem"));
}

HINSTANCE WINAPI NoShellAllowed(HWND, LPCWSTR, LPCWSTR file, LPCWSTR, LPCWSTR, INT) {
    ADD_FAILURE() << "a command was started: " << Utf8(file);
    return nullptr;
}

TEST(TakeOwnership, TakesOverTheWholeNestedTreeForAdministratorsAndRestoresThePrivileges) {
    ScopedWin32Fakes fakes;
    const std::wstring package = L"C:\\Store\\pkg & co\\";
    InstallFakeFolderTree({
        {package,
         {{L"x.inf"},
          {L"sub", FILE_ATTRIBUTE_DIRECTORY},
          {L"link", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT}}},
        {package + L"sub\\", {{L"deep", FILE_ATTRIBUTE_DIRECTORY}}},
        {package + L"sub\\deep\\", {{L"x.dll"}}},
    });
    const FakeSecurityState& security = InstallFakeSecurity();
    win32.ShellExecuteW = NoShellAllowed;

    TakeOwnership(package);

    // Each folder before its contents; the link's target is outside the tree.
    const std::wstring top = package.substr(0, package.size() - 1);
    EXPECT_EQ(security.owned,
              (std::vector<std::wstring>{top, package + L"x.inf", package + L"sub",
                                         package + L"sub\\deep", package + L"sub\\deep\\x.dll"}));
    EXPECT_EQ(security.ownerSids, std::vector<std::string>(5, "S-1-5-32-544"));
    const std::string admins = " S-1-5-32-544 1f01ff ";  // FILE_ALL_ACCESS, granted
    EXPECT_EQ(
        security.grants,
        (std::vector<std::string>{
            Utf8(top) + admins + "3 1", Utf8(package) + "x.inf" + admins + "0 1",
            Utf8(package) + "sub" + admins + "3 1", Utf8(package) + "sub\\deep" + admins + "3 1",
            Utf8(package) + "sub\\deep\\x.dll" + admins + "0 1"}));
    EXPECT_EQ(
        security.privilegeCalls,
        (std::vector<std::string>{"enable SeTakeOwnershipPrivilege=2 SeRestorePrivilege=2",
                                  "restore SeTakeOwnershipPrivilege=0 SeRestorePrivilege=0"}));
    EXPECT_EQ(security.openTokens, 0);
    EXPECT_EQ(security.liveAllocations, 0);
    EXPECT_EQ(FakeTreeOpenHandles(), 0);
}

TEST(TakeOwnership, ItemThatRefusesANewOwnerIsPassedOverSilently) {
    ScopedWin32Fakes fakes;
    InstallFakeFolderTree({{L"C:\\pkg\\", {{L"a.inf"}, {L"b.sys"}}}});
    FakeSecurityState& security = InstallFakeSecurity();
    security.ownerError = ERROR_ACCESS_DENIED;
    CapturedLog log;
    TakeOwnership(L"C:\\pkg\\");
    EXPECT_EQ(security.owned.size(), 3u) << "the walk goes on after a refusal";
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_EQ(security.privilegeCalls.size(), 2u);
    EXPECT_EQ(security.liveAllocations, 0);
}

BOOL WINAPI HugeFileSize(HANDLE, PLARGE_INTEGER size) {
    size->QuadPart = 5LL * 1024 * 1024 * 1024;
    return TRUE;
}

BOOL WINAPI MaxDwordFileSize(HANDLE, PLARGE_INTEGER size) {
    size->QuadPart = 0xFFFFFFFFLL;
    return TRUE;
}

TEST(ReadWholeFile, SizeThatDoesNotFitTheBufferArithmeticGivesNoData) {
    ScratchFolder scratch;
    WriteBytes(scratch.path() + L"a.inf", "abc");
    ScopedWin32Fakes fakes;
    win32.GetFileSizeEx = HugeFileSize;
    FileBytes file = ReadWholeFile(scratch.path() + L"a.inf");
    EXPECT_TRUE(file.bytes.empty());
    EXPECT_EQ(file.length, 0u);
    win32.GetFileSizeEx = MaxDwordFileSize;
    file = ReadWholeFile(scratch.path() + L"a.inf");
    EXPECT_TRUE(file.bytes.empty());
    EXPECT_EQ(file.length, 0u);
}

}  // namespace
