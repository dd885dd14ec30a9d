#include "engine/uninstall_sequence.h"

#include <string>

#include "engine/driver_files.h"
#include "engine/driver_packages.h"
#include "engine/queue_purge.h"
#include "engine/service_control.h"
#include "engine/spooler_removal.h"
#include "log/operation_log.h"
#include "platform/win32_api.h"

namespace {

constexpr wchar_t kSpooler[] = L"Spooler";
constexpr DWORD kStepPauseMs = 1000;

std::wstring DriverNameOf(const DriverListEntry& row) {
    return row.driverInfo && row.driverInfo->pName ? row.driverInfo->pName : L"";
}

bool PurgeJobsOfEveryDriver(const std::vector<DriverListEntry>& rows) {
    for (const DriverListEntry& row : rows) {
        if (row.driverInfo && !PurgePrintJobs(DriverNameOf(row))) {
            WriteLog(L"删除打印作业失败", false);
            return false;
        }
    }
    return true;
}

// Runs while the spooler is stopped: every file the drivers left behind.
bool RemoveFilesOfEveryDriver(const std::vector<DriverListEntry>& rows) {
    if (!PurgeSpoolFiles())
        return false;
    for (const DriverListEntry& row : rows) {
        if (!row.driverInfo)
            continue;
        const std::wstring name = DriverNameOf(row);
        if (!DeleteDriverFiles(*row.driverInfo))
            return false;
        if (!UninstallOemInfs(name))
            return false;
        if (!PurgeDriverStore(name))
            return false;
    }
    return true;
}

bool RemoveSpoolerRecords(const std::vector<DriverListEntry>& rows) {
    for (const DriverListEntry& row : rows) {
        if (row.isPrinter && !DeletePrinterByName(row.printerName))
            return false;
    }
    for (const DriverListEntry& row : rows) {
        if (row.driverInfo && !DeleteDriverFromSpooler(*row.driverInfo))
            return false;
    }
    return true;
}

}  // namespace

bool RunUninstallSequence(const std::vector<DriverListEntry>& rows) {
    if (!RestartSpooler())
        return false;
    win32.Sleep(kStepPauseMs);
    if (!PurgeJobsOfEveryDriver(rows))
        return false;

    if (!StopServiceByName(kSpooler)) {
        WriteLog(L"关闭服务失败", false);
        return false;
    }
    win32.Sleep(kStepPauseMs);
    if (!RemoveFilesOfEveryDriver(rows))
        return false;

    if (!StartServiceByName(kSpooler)) {
        WriteLog(L"开启服务失败", false);
        return false;
    }
    win32.Sleep(kStepPauseMs);
    if (!RemoveSpoolerRecords(rows))
        return false;

    ReenumerateDeviceTree();
    return true;
}
