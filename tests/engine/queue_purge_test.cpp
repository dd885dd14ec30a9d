// The print-job purge against a fake spooler (Wine's EnumJobsW and SetJobW
// are stubs) and the spool-file purge against a fake folder tree.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/queue_purge.h"
#include "fakes/fake_folder_tree.h"
#include "fakes/fake_machine.h"
#include "fakes/fake_printer_handles.h"
#include "fakes/utf8_operation_log.h"
#include "support/test_support.h"

namespace {

struct EnumJobsCall {
    HANDLE printer = nullptr;
    DWORD firstJob = 0, count = 0, level = 0, size = 0;
    bool bufferNull = false;
    bool bufferZeroed = false;
};

// What the fake spooler answers: the size query fails with `firstError`
// (0: it succeeds, the queue is empty) and reports `needed`; the enumeration
// fails with `secondError` (0: it succeeds) or lists `jobIds`.
struct JobQueue {
    DWORD firstError = ERROR_INSUFFICIENT_BUFFER;
    DWORD needed = 3 * sizeof(JOB_INFO_2W);
    DWORD secondError = 0;
    std::vector<DWORD> jobIds{42, 43, 44};
    // The size query fails without setting any error (as Wine's stub does).
    bool silentFirstFailure = false;
};
JobQueue queue;
std::vector<EnumJobsCall> enumCalls;

BOOL WINAPI FakeEnumJobs(HANDLE printer,
                         DWORD firstJob,
                         DWORD count,
                         DWORD level,
                         LPBYTE buffer,
                         DWORD size,
                         LPDWORD needed,
                         LPDWORD returned) {
    EnumJobsCall call{printer, firstJob, count, level, size, buffer == nullptr, true};
    for (DWORD i = 0; buffer && i < size; ++i)
        call.bufferZeroed = call.bufferZeroed && buffer[i] == 0;
    enumCalls.push_back(call);
    *returned = 0;
    if (enumCalls.size() == 1) {
        if (queue.silentFirstFailure)
            return FALSE;
        *needed = queue.needed;
        if (queue.firstError == 0)
            return TRUE;
        ::SetLastError(queue.firstError);
        return FALSE;
    }
    if (queue.secondError != 0) {
        ::SetLastError(queue.secondError);
        return FALSE;
    }
    auto* jobs = reinterpret_cast<JOB_INFO_2W*>(buffer);
    for (DWORD i = 0; i < queue.jobIds.size() && (i + 1) * sizeof(JOB_INFO_2W) <= size; ++i) {
        jobs[i].JobId = queue.jobIds[i];
        ++*returned;
    }
    return TRUE;
}

struct SetJobCall {
    HANDLE printer = nullptr;
    DWORD jobId = 0, level = 0, command = 0;
    bool noData = false;
};
std::vector<SetJobCall> setJobCalls;
int setJobSucceedsAt = 1;  // attempt number that succeeds; 0: none does

BOOL WINAPI FakeSetJob(HANDLE printer, DWORD jobId, DWORD level, LPBYTE data, DWORD command) {
    setJobCalls.push_back({printer, jobId, level, command, data == nullptr});
    if (static_cast<int>(setJobCalls.size()) == setJobSucceedsAt)
        return TRUE;
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

class PurgePrintJobsFake : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetOperationLog();
        queue = JobQueue{};
        enumCalls.clear();
        setJobCalls.clear();
        setJobSucceedsAt = 1;
        win32.EnumJobsW = FakeEnumJobs;
        win32.SetJobW = FakeSetJob;
        WriteOperationLogAsUtf8();
    }
    void TearDown() override { ResetOperationLog(); }
    void ExpectClosedOnce() const {
        EXPECT_EQ(printers.closed, std::vector<HANDLE>{FakePrinterHandle()});
    }
    ScopedWin32Fakes fakes;
    FakePrinterState& printers = InstallFakePrinters();
};

const std::string kAllocateLine = Utf8(L"分配打印任务信息缓存函数失败！     ");
const std::string kEnumerateLine = Utf8(L"枚举打印任务失败！     ");

TEST_F(PurgePrintJobsFake, PrinterThatDoesNotOpenHasNothingQueued) {
    for (DWORD error : {DWORD{ERROR_INVALID_PRINTER_NAME}, DWORD{ERROR_ACCESS_DENIED}}) {
        printers.openError = error;
        EXPECT_TRUE(PurgePrintJobs(L"KT Laser"));
    }
    EXPECT_TRUE(enumCalls.empty());
    EXPECT_TRUE(printers.closed.empty());
    EXPECT_EQ(OperationLogText(), "");
}

TEST_F(PurgePrintJobsFake, EmptyQueueAsksOnceWithoutBufferAndSucceeds) {
    queue.firstError = 0;
    EXPECT_TRUE(PurgePrintJobs(L"KT Laser"));
    ASSERT_EQ(printers.opens.size(), 1u);
    EXPECT_EQ(printers.opens[0].name, L"KT Laser");
    EXPECT_EQ(printers.opens[0].desiredAccess, 0xF000Cu);
    ASSERT_EQ(enumCalls.size(), 1u);
    EXPECT_EQ(enumCalls[0].printer, FakePrinterHandle());
    EXPECT_EQ(enumCalls[0].firstJob, 0u);
    EXPECT_EQ(enumCalls[0].count, JobEnumCount);
    EXPECT_EQ(enumCalls[0].level, 2u);
    EXPECT_TRUE(enumCalls[0].bufferNull);
    EXPECT_EQ(enumCalls[0].size, 0u);
    EXPECT_TRUE(setJobCalls.empty());
    ExpectClosedOnce();
}

TEST_F(PurgePrintJobsFake, SizeQueryErrorsOtherThanShortBufferLogTheAllocationLine) {
    for (DWORD error : {DWORD{ERROR_ACCESS_DENIED}, DWORD{ERROR_INVALID_HANDLE}}) {
        queue.firstError = error;
        enumCalls.clear();
        ResetOperationLog();
        EXPECT_FALSE(PurgePrintJobs(L"KT Laser"));
        EXPECT_EQ(enumCalls.size(), 1u);
        const std::string log = OperationLogText();
        EXPECT_EQ(log.rfind(kAllocateLine, 0), 0u) << log;
        EXPECT_EQ(CountOf(log, "failed with error"), 0);
    }
    EXPECT_TRUE(setJobCalls.empty());
    EXPECT_EQ(printers.closed.size(), 2u);
}

TEST_F(PurgePrintJobsFake, SilentSizeQueryFailureIsNotTakenForAShortBuffer) {
    queue.silentFirstFailure = true;
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(PurgePrintJobs(L"KT Laser"));
    EXPECT_EQ(enumCalls.size(), 1u);
    EXPECT_EQ(OperationLogText().rfind(kAllocateLine, 0), 0u);
    ExpectClosedOnce();
}

TEST_F(PurgePrintJobsFake, FailedEnumerationLogsItsLineAfterAZeroFilledBufferOfTheReportedSize) {
    queue.secondError = ERROR_INVALID_PARAMETER;
    EXPECT_FALSE(PurgePrintJobs(L"KT Laser"));
    ASSERT_EQ(enumCalls.size(), 2u);
    EXPECT_FALSE(enumCalls[1].bufferNull);
    EXPECT_EQ(enumCalls[1].size, queue.needed);
    EXPECT_TRUE(enumCalls[1].bufferZeroed);
    EXPECT_EQ(enumCalls[1].count, JobEnumCount);
    EXPECT_EQ(enumCalls[1].level, 2u);
    const std::string log = OperationLogText();
    EXPECT_EQ(log.rfind(kEnumerateLine, 0), 0u) << log;
    EXPECT_TRUE(setJobCalls.empty());
    ExpectClosedOnce();
}

TEST_F(PurgePrintJobsFake, OnlyTheFirstListedJobIsDeleted) {
    EXPECT_TRUE(PurgePrintJobs(L"KT Laser"));
    ASSERT_EQ(setJobCalls.size(), 1u);
    EXPECT_EQ(setJobCalls[0].printer, FakePrinterHandle());
    EXPECT_EQ(setJobCalls[0].jobId, 42u);
    EXPECT_EQ(setJobCalls[0].level, 0u);
    EXPECT_TRUE(setJobCalls[0].noData);
    EXPECT_EQ(setJobCalls[0].command, 5u);
    EXPECT_EQ(OperationLogText(), "");
    ExpectClosedOnce();
}

TEST_F(PurgePrintJobsFake, SuccessAtTheTenthAttemptCounts) {
    setJobSucceedsAt = JobDeleteAttempts;
    EXPECT_TRUE(PurgePrintJobs(L"KT Laser"));
    EXPECT_EQ(setJobCalls.size(), 10u);
    for (const SetJobCall& call : setJobCalls)
        EXPECT_EQ(call.jobId, 42u);
    EXPECT_EQ(OperationLogText(), "");
    ExpectClosedOnce();
}

TEST_F(PurgePrintJobsFake, TenRefusalsLogSetJobWithTheErrorAndFail) {
    setJobSucceedsAt = 0;
    EXPECT_FALSE(PurgePrintJobs(L"KT Laser"));
    EXPECT_EQ(setJobCalls.size(), 10u);
    const std::string log = OperationLogText();
    EXPECT_EQ(log.rfind("SetJob failed with error 5: ", 0), 0u) << log;
    ExpectClosedOnce();
}

TEST_F(PurgePrintJobsFake, QueueEmptiedBetweenTheTwoCallsDeletesNothingAndSucceeds) {
    queue.jobIds.clear();
    EXPECT_TRUE(PurgePrintJobs(L"KT Laser"));
    EXPECT_EQ(enumCalls.size(), 2u);
    EXPECT_TRUE(setJobCalls.empty());
    EXPECT_EQ(OperationLogText(), "");
    ExpectClosedOnce();
}

// The spool-file purge on a fake PRINTERS folder.
const std::wstring kSpool = L"C:\\Windows\\System32\\spool\\PRINTERS\\";
std::vector<std::wstring> purged;
int folderAsked = -1;
BOOL folderCreate = TRUE;
BOOL folderFound = TRUE;

// Answers for the Windows folder only; the log still finds Documents.
BOOL WINAPI FakeSpoolWindowsFolder(HWND owner, LPWSTR path, int folder, BOOL create) {
    if (folder != CSIDL_WINDOWS)
        return ::SHGetSpecialFolderPathW(owner, path, folder, create);
    folderAsked = owner == nullptr ? folder : -1;
    folderCreate = create;
    if (!folderFound) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    wcscpy(path, L"C:\\Windows");
    return TRUE;
}

BOOL WINAPI FakeDeleteSpoolFile(LPCWSTR path) {
    purged.push_back(path);
    return TRUE;
}

class PurgeSpoolFilesFake : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetOperationLog();
        purged.clear();
        folderAsked = -1;
        folderCreate = TRUE;
        folderFound = TRUE;
        win32.SHGetSpecialFolderPathW = FakeSpoolWindowsFolder;
        FakeNativeMachine(IMAGE_FILE_MACHINE_AMD64, false);
        win32.DeleteFileW = FakeDeleteSpoolFile;
        InstallFakeFolderTree({{kSpool,
                                {{L"00002.SPL"},
                                 {L"00002.SHD"},
                                 {L"old", FILE_ATTRIBUTE_DIRECTORY},
                                 {L"00003.shd"},
                                 {L"FP00004.SPL"}}},
                               {kSpool + L"old\\", {{L"00001.SHD"}, {L"00001.SPL.txt"}}}});
    }
    void TearDown() override { ResetOperationLog(); }
    ScopedWin32Fakes fakes;
};

TEST_F(PurgeSpoolFilesFake, ShadowFilesGoFirstThenSpoolFilesInTheSystemFolder) {
    EXPECT_TRUE(PurgeSpoolFiles());
    EXPECT_EQ(folderAsked, 0x24);
    EXPECT_FALSE(folderCreate);
    EXPECT_EQ(purged, (std::vector<std::wstring>{
                          kSpool + L"00002.SHD", kSpool + L"old\\00001.SHD", kSpool + L"00002.SPL",
                          kSpool + L"old\\00001.SPL.txt", kSpool + L"FP00004.SPL"}));
    EXPECT_EQ(FakeTreeOpenHandles(), 0);
    EXPECT_EQ(OperationLogText(), "");
}

// A 32-bit process on 64-bit Windows reaches Windows' own System32 through
// Sysnative.
TEST_F(PurgeSpoolFilesFake, Wow64ProcessPurgesTheNativeSpoolFolderThroughSysnative) {
    FakeNativeMachine(IMAGE_FILE_MACHINE_AMD64, true);
    const std::wstring native = L"C:\\Windows\\Sysnative\\spool\\PRINTERS\\";
    InstallFakeFolderTree({{native, {{L"00007.SPL"}, {L"00007.SHD"}}}});
    EXPECT_TRUE(PurgeSpoolFiles());
    EXPECT_EQ(purged, (std::vector<std::wstring>{native + L"00007.SHD", native + L"00007.SPL"}));
}

TEST_F(PurgeSpoolFilesFake, UnknownSystemFolderDeletesNothingAndFails) {
    folderFound = FALSE;
    EXPECT_FALSE(PurgeSpoolFiles());
    EXPECT_TRUE(FakeTreeSearches().empty());
    EXPECT_TRUE(purged.empty());
    EXPECT_EQ(OperationLogText().rfind("SHGetSpecialFolderPath failed with error 3: ", 0), 0u);
}

}  // namespace
