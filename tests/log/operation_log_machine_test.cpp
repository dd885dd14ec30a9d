// The operation log on the private prefix's real Documents folder, with the
// clock fixed through the seam.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "log/operation_log.h"
#include "support/test_support.h"

namespace {

SYSTEMTIME FixedTime() {
    SYSTEMTIME t{};
    t.wYear = 2026;
    t.wMonth = 12;
    t.wDay = 8;
    t.wHour = 15;
    t.wMinute = 4;
    t.wSecond = 9;
    t.wMilliseconds = 7;
    return t;
}

void WINAPI FixedLocalTime(LPSYSTEMTIME time) {
    *time = FixedTime();
}

const std::string kStamp = "     8-12-2026,15:4:9:7 \r\n";

std::wstring LogFolder() {
    return DocumentsFolder() + L"\\岚拓打印机\\";
}

std::wstring LogFile(int number) {
    return LogFolder() + L"Log(" + std::to_wstring(number) + L").txt";
}

std::string SystemText(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0x400, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = Utf8(std::wstring(buffer, length));
    ::LocalFree(buffer);
    return text;
}

std::vector<std::wstring> openedPaths;
HANDLE WINAPI RecordingCreateFile(LPCWSTR path,
                                  DWORD access,
                                  DWORD share,
                                  LPSECURITY_ATTRIBUTES security,
                                  DWORD disposition,
                                  DWORD flags,
                                  HANDLE templateFile) {
    openedPaths.push_back(path);
    return ::CreateFileW(path, access, share, security, disposition, flags, templateFile);
}

int sleepCalls = 0;
void WINAPI CountingSleep(DWORD) {
    ++sleepCalls;
}

class OperationLog : public ::testing::Test {
  protected:
    void SetUp() override {
        RemoveTree(LogFolder());
        logFileNumber = 1;
        win32.GetLocalTime = FixedLocalTime;
        openedPaths.clear();
        sleepCalls = 0;
    }
    void TearDown() override {
        RemoveTree(LogFolder());
        logFileNumber = 1;
    }
    ScopedWin32Fakes fakes;
};

TEST_F(OperationLog, FirstRecordCreatesFolderAndWritesTextTimestampAndOneNul) {
    ASSERT_FALSE(FolderExists(LogFolder()));
    WriteLog(L"Spooler stop", false);
    EXPECT_EQ(ReadBytes(LogFile(1)), "Spooler stop" + kStamp + std::string(1, '\0'));
}

TEST_F(OperationLog, FailedCallRecordCarriesCodeAndSystemTextOfThatCode) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    WriteLog(L"OpenPrinter", true);
    const std::string systemText = SystemText(ERROR_ACCESS_DENIED);
    ASSERT_FALSE(systemText.empty());
    EXPECT_EQ(ReadBytes(LogFile(1)),
              "OpenPrinter failed with error 5: " + systemText + kStamp + std::string(1, '\0'));
}

TEST_F(OperationLog, LastErrorSurvivesTheLogsOwnFolderLookupAndCreation) {
    // The first write creates the folder, the second finds it existing
    // (CreateDirectory then fails with 183); both must keep the caller's code.
    ::SetLastError(ERROR_ACCESS_DENIED);
    WriteLog(L"A", true);
    ::SetLastError(ERROR_ACCESS_DENIED);
    WriteLog(L"B", true);
    const std::string bytes = ReadBytes(LogFile(1));
    EXPECT_NE(bytes.find("A failed with error 5: "), std::string::npos);
    EXPECT_NE(bytes.find("B failed with error 5: "), std::string::npos);
    EXPECT_EQ(bytes.find("183"), std::string::npos);
}

TEST_F(OperationLog, CodeZeroUsesTheSucceedForm) {
    ::SetLastError(0);
    WriteLog(L"DeletePrinter", true);
    EXPECT_EQ(ReadBytes(LogFile(1)),
              "DeletePrinter succeed:  0: " + SystemText(0) + kStamp + std::string(1, '\0'));
}

DWORD WINAPI NoMessageText(DWORD, LPCVOID, DWORD, DWORD, LPWSTR, DWORD, va_list*) {
    ::SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
}

TEST_F(OperationLog, CodeWithoutSystemTextStillHasAMessagePart) {
    win32.FormatMessageW = NoMessageText;
    ::SetLastError(0x20001234);
    WriteLog(L"SetJob", true);
    EXPECT_EQ(ReadBytes(LogFile(1)),
              "SetJob failed with error 536875572: (no system text for "
              "this code)\r\n" +
                  kStamp + std::string(1, '\0'));
}

TEST_F(OperationLog, RecordsAreAppendedEachWithItsOwnNul) {
    WriteLog(L"one", false);
    WriteLog(L"two", false);
    EXPECT_EQ(ReadBytes(LogFile(1)), "one" + kStamp + '\0' + "two" + kStamp + '\0');
}

TEST_F(OperationLog, FileOfExactlyTheLimitIsSkippedAndNeverOpenedAgain) {
    WriteBytes(LogFile(1), std::string(LOG_FILE_LIMIT, 'x'));
    win32.CreateFileW = RecordingCreateFile;
    WriteLog(L"first", false);
    EXPECT_EQ(logFileNumber, 2);
    EXPECT_EQ(ReadBytes(LogFile(2)), "first" + kStamp + '\0');
    EXPECT_EQ(ReadBytes(LogFile(1)).size(), static_cast<size_t>(LOG_FILE_LIMIT));

    openedPaths.clear();
    WriteLog(L"second", false);
    ASSERT_EQ(openedPaths.size(), 1u);
    EXPECT_EQ(openedPaths[0], LogFile(2));
}

TEST_F(OperationLog, FileOneByteBelowTheLimitTakesTheRecordAndTheNextGoesOn) {
    WriteBytes(LogFile(1), std::string(LOG_FILE_LIMIT - 1, 'x'));
    WriteLog(L"crosses", false);
    EXPECT_EQ(logFileNumber, 1);
    const std::string full = ReadBytes(LogFile(1));
    EXPECT_EQ(full.size(), LOG_FILE_LIMIT - 1 + std::string("crosses" + kStamp).size() + 1);
    EXPECT_FALSE(FileExists(LogFile(2)));

    WriteLog(L"next", false);
    EXPECT_EQ(logFileNumber, 2);
    EXPECT_EQ(ReadBytes(LogFile(2)), "next" + kStamp + '\0');
}

TEST_F(OperationLog, SeveralFullFilesFromEarlierRunsAreSkippedOneByOne) {
    for (int n = 1; n <= 3; ++n)
        WriteBytes(LogFile(n), std::string(LOG_FILE_LIMIT + n, 'x'));
    WriteBytes(LogFile(4), "old");
    WriteLog(L"new", false);
    EXPECT_EQ(logFileNumber, 4);
    EXPECT_EQ(ReadBytes(LogFile(4)),
              "old"
              "new" +
                  kStamp + '\0');
}

TEST_F(OperationLog, WaitsForAnotherWriterThatHoldsTheFile) {
    CreateFolders(LogFolder());
    HANDLE held = ::CreateFileW(LogFile(1).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::thread releaser([held] {
        ::Sleep(100);
        ::CloseHandle(held);
    });
    WriteLog(L"waited", false);
    releaser.join();
    EXPECT_EQ(ReadBytes(LogFile(1)), "waited" + kStamp + '\0');
}

TEST_F(OperationLog, GivesUpSilentlyAfterBoundedWaitWhenFileStaysHeld) {
    CreateFolders(LogFolder());
    HANDLE held = ::CreateFileW(LogFile(1).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    win32.Sleep = CountingSleep;
    WriteLog(L"lost", false);
    ::CloseHandle(held);
    EXPECT_EQ(sleepCalls, LOG_OPEN_ATTEMPTS - 1);
    EXPECT_EQ(ReadBytes(LogFile(1)), "");
}

TEST_F(OperationLog, GivesUpAtOnceWhenTheFileCannotBeOpenedForLastingReason) {
    // A folder in the place of Log(1).txt: the open is refused, and waiting
    // would not help.
    CreateFolders(LogFile(1));
    win32.Sleep = CountingSleep;
    WriteLog(L"lost", false);
    EXPECT_EQ(sleepCalls, 0);
    EXPECT_TRUE(FolderExists(LogFile(1)));
}

BOOL WINAPI VeryLongDocuments(HWND, LPWSTR path, int, BOOL) {
    const std::wstring longPath = L"C:\\" + std::wstring(250, L'd');
    wcscpy(path, longPath.c_str());
    return TRUE;
}

TEST_F(OperationLog, DocumentsPathTooLongForTheFolderBufferFallsBackToDriveRoot) {
    ScratchFolder scratch;
    wchar_t previous[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ::SetCurrentDirectoryW(scratch.path().c_str());
    win32.SHGetSpecialFolderPathW = VeryLongDocuments;
    WriteLog(L"fallback", false);
    ::SetCurrentDirectoryW(previous);
    const std::wstring rootLog = L"C:\\岚拓打印机\\Log(1).txt";
    EXPECT_EQ(ReadBytes(rootLog), "fallback" + kStamp + '\0');
    RemoveTree(L"C:\\岚拓打印机\\");
}

DWORD RunAndWait(const std::wstring& commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring mutableLine = commandLine;
    if (!::CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process)) {
        return ::GetLastError();
    }
    ::WaitForSingleObject(process.hProcess, 120000);
    DWORD exitCode = 1;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return exitCode;
}

TEST_F(OperationLog, TwoProcessesWritingAtOnceLoseAndInterleaveNoRecord) {
    const std::wstring writer = L"\"" + ExecutableFolder() + L"log_writer.exe\" ";
    DWORD resultA = 1, resultB = 1;
    std::thread a([&] { resultA = RunAndWait(writer + L"alpha 1000"); });
    std::thread b([&] { resultB = RunAndWait(writer + L"beta 1000"); });
    a.join();
    b.join();
    ASSERT_EQ(resultA, 0u);
    ASSERT_EQ(resultB, 0u);

    // Records are separated by their zero byte; each writer's records must
    // all be there, whole, in the order that writer wrote them.
    const std::string bytes = ReadBytes(LogFile(1));
    std::map<std::string, int> next{{"alpha", 0}, {"beta", 0}};
    size_t start = 0;
    int records = 0;
    while (start < bytes.size()) {
        const size_t end = bytes.find('\0', start);
        ASSERT_NE(end, std::string::npos) << "record without its zero byte";
        const std::string record = bytes.substr(start, end - start);
        const size_t blank = record.find(' ');
        ASSERT_NE(blank, std::string::npos) << record;
        const std::string tag = record.substr(0, blank);
        ASSERT_TRUE(next.count(tag)) << record;
        const std::string head = tag + " " + std::to_string(next[tag]) + "     ";
        EXPECT_EQ(record.substr(0, head.size()), head) << record;
        EXPECT_EQ(record.find("\r\n"), record.size() - 2) << record;
        ++next[tag];
        ++records;
        start = end + 1;
    }
    EXPECT_EQ(records, 2000);
    EXPECT_EQ(next["alpha"], 1000);
    EXPECT_EQ(next["beta"], 1000);
}

// Run by its own ctest entry with a Chinese locale (code page 936); skipped
// in the ordinary run, where the ANSI code page cannot hold Chinese.
TEST_F(OperationLog, ChineseTextUnderCodePage936IsWrittenAsGbk) {
    if (::GetACP() != 936)
        GTEST_SKIP() << "ANSI code page is " << ::GetACP() << ", not 936";
    WriteLog(L"关闭服务失败", false);
    EXPECT_EQ(ReadBytes(LogFile(1)),
              "\xB9\xD8\xB1\xD5\xB7\xFE\xCE\xF1\xCA\xA7\xB0\xDC" + kStamp + '\0');
}

}  // namespace
