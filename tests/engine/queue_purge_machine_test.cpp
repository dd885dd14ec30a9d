// The spool-file purge on the real spool folder of the private prefix,
// reached through the system folder as the program sees it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/queue_purge.h"
#include "support/test_support.h"

namespace {

// The spool folder as the purge names it: Windows' own, through Sysnative
// in a 32-bit process.
std::wstring SpoolFolder() {
    return NativeSystem32() + L"\\spool\\PRINTERS\\";
}

bool AnyFileLike(const std::wstring& pattern) {
    WIN32_FIND_DATAW entry{};
    HANDLE find = ::FindFirstFileW(pattern.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    ::FindClose(find);
    return true;
}

// Seeds files into the spool folder and removes whatever of them is left.
// The purge deletes every spool file of the folder, so the folder must hold
// none of its own before a test.
class SpoolFolderOnWine : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetOperationLog();
        ASSERT_TRUE(FolderExists(spool));
        ASSERT_FALSE(AnyFileLike(spool + L"*.SHD"));
        ASSERT_FALSE(AnyFileLike(spool + L"*.SPL"));
        ASSERT_FALSE(FolderExists(spool + L"ktsub"));
    }
    void TearDown() override {
        for (const std::wstring& file : seeded)
            ::DeleteFileW((spool + file).c_str());
        ::RemoveDirectoryW((spool + L"ktsub").c_str());
        ResetOperationLog();
    }
    void Seed(const std::vector<std::wstring>& files) {
        for (const std::wstring& file : files) {
            ASSERT_FALSE(FileExists(spool + file)) << Utf8(file);
            seeded.push_back(file);
            WriteBytes(spool + file, "job data");
        }
    }
    bool Exists(const std::wstring& file) const { return FileExists(spool + file); }
    const std::wstring spool = SpoolFolder();
    std::vector<std::wstring> seeded;
};

TEST_F(SpoolFolderOnWine, DeletesShadowAndSpoolFilesInEveryFolderAndNothingElse) {
    Seed({L"00007.SHD", L"00007.SPL", L"FP00008.SHD", L"FP00008.SPL", L"ktsub\\00009.SPL",
          L"kt-notes.txt", L"kt-lower.spl"});
    EXPECT_TRUE(PurgeSpoolFiles());
    for (const wchar_t* gone :
         {L"00007.SHD", L"00007.SPL", L"FP00008.SHD", L"FP00008.SPL", L"ktsub\\00009.SPL"}) {
        EXPECT_FALSE(Exists(gone)) << Utf8(gone);
    }
    EXPECT_TRUE(Exists(L"kt-notes.txt"));
    EXPECT_TRUE(Exists(L"kt-lower.spl"));
    EXPECT_TRUE(FolderExists(spool + L"ktsub"));
    EXPECT_EQ(OperationLogText(), "");
}

TEST_F(SpoolFolderOnWine, EmptyFolderIsPurgedWithoutALine) {
    EXPECT_TRUE(PurgeSpoolFiles());
    EXPECT_EQ(OperationLogText(), "");
}

TEST_F(SpoolFolderOnWine, LockedShadowFileIsLoggedButOnlyTheSpoolFilePassDecides) {
    Seed({L"00011.SHD", L"00011.SPL"});
    HANDLE held = ::CreateFileW((spool + L"00011.SHD").c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const bool result = PurgeSpoolFiles();
    ::CloseHandle(held);

    EXPECT_TRUE(result);
    EXPECT_TRUE(Exists(L"00011.SHD"));
    EXPECT_FALSE(Exists(L"00011.SPL"));
    EXPECT_EQ(CountOf(OperationLogText(),
                      "DeleteFile" + Utf8(ShownPath(spool)) + "00011.SHD failed with error "),
              1);
}

TEST_F(SpoolFolderOnWine, LockedSpoolFileAsTheLastDeletionFailsThePurge) {
    Seed({L"00012.SHD", L"00012.SPL"});
    HANDLE held = ::CreateFileW((spool + L"00012.SPL").c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const bool result = PurgeSpoolFiles();
    ::CloseHandle(held);

    EXPECT_FALSE(result);
    EXPECT_FALSE(Exists(L"00012.SHD"));
    EXPECT_EQ(CountOf(OperationLogText(),
                      "DeleteFile" + Utf8(ShownPath(spool)) + "00012.SPL failed with error "),
              1);
}

}  // namespace
