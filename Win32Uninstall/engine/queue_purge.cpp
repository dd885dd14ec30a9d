#include "engine/queue_purge.h"

#include <cstring>
#include <new>
#include <vector>

#include "engine/file_helpers.h"
#include "engine/spooler_removal.h"
#include "log/operation_log.h"
#include "platform/native_windows.h"
#include "platform/unique_handles.h"

namespace {

constexpr DWORD kJobLevel = 2;
constexpr DWORD kFirstJob = 0;

// SpoolFilesFolder, or empty (logged) when the shell cannot tell the Windows
// folder.
std::wstring SpoolFolder() {
    std::wstring folder;
    if (!SpoolFilesFolder(folder)) {
        WriteLog(L"SHGetSpecialFolderPath", true);
        return {};
    }
    return folder;
}

// Sends the delete request for one job until it succeeds or the attempts run
// out. Nothing runs between the last failed request and the caller's log.
bool DeleteJob(HANDLE printer, DWORD jobId) {
    for (int attempt = 0; attempt < JobDeleteAttempts; ++attempt) {
        if (win32.SetJobW(printer, jobId, 0, nullptr, JOB_CONTROL_DELETE))
            return true;
    }
    return false;
}

}  // namespace

static_assert(JOB_CONTROL_DELETE == 5);

bool SpoolFilesFolder(std::wstring& folder) {
    return NativeSystemFolder(folder, L"\\spool\\PRINTERS\\");
}

bool PurgePrintJobs(const std::wstring& printerName) {
    std::wstring name = printerName;  // OpenPrinterW takes a writable string
    PRINTER_DEFAULTSW defaults = PrinterChangeDefaults();
    HANDLE opened = nullptr;
    if (!win32.OpenPrinterW(name.data(), &opened, &defaults))
        return true;
    unique_printer printer(opened);

    DWORD needed = 0;
    DWORD returned = 0;
    // Only a short buffer reported by this call lets the purge go on, not an
    // error left over from an earlier call by a spooler that fails silently.
    ::SetLastError(ERROR_SUCCESS);
    if (win32.EnumJobsW(printer.get(), kFirstJob, JobEnumCount, kJobLevel, nullptr, 0, &needed,
                        &returned)) {
        return true;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        WriteLog(L"分配打印任务信息缓存函数失败！", false);
        return false;
    }

    std::vector<BYTE> jobs;
    try {
        jobs.assign(needed, 0);
    } catch (const std::bad_alloc&) {
        WriteLog(L"分配打印任务信息缓存函数失败！", false);
        return false;
    }
    if (!win32.EnumJobsW(printer.get(), kFirstJob, JobEnumCount, kJobLevel, jobs.data(), needed,
                         &needed, &returned)) {
        WriteLog(L"枚举打印任务失败！", false);
        return false;
    }
    // The queue emptied between the two calls: the zero-filled buffer holds
    // no job, and job 0 is no job to delete. A buffer too short for one record
    // holds none either.
    if (returned == 0 || jobs.size() < sizeof(JOB_INFO_2W))
        return true;

    JOB_INFO_2W first{};
    std::memcpy(&first, jobs.data(), sizeof first);
    if (!DeleteJob(printer.get(), first.JobId)) {
        WriteLog(L"SetJob", true);
        return false;
    }
    return true;
}

bool PurgeSpoolFiles() {
    const std::wstring folder = SpoolFolder();
    if (folder.empty())
        return false;
    FileList unused;
    WalkFolder(unused, folder, WALK_DELETE, L".SHD", FALSE);
    return WalkFolder(unused, folder, WALK_DELETE, L".SPL", FALSE) != FALSE;
}
