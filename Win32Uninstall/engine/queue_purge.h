// Clearing the print queues: the first job of a printer through the running
// spooler, and the spool files of every printer while the spooler is stopped.
#pragma once

#include <string>

#include "platform/win32_api.h"

// Jobs asked for in each enumeration, from the first job on.
constexpr DWORD JobEnumCount = 10;
// Delete requests sent for the first job before giving up.
constexpr int JobDeleteAttempts = 10;

// Windows' own spool folder: its System32\spool\PRINTERS\ (through Sysnative
// in a 32-bit process on 64-bit Windows). False when the Windows folder cannot
// be told.
bool SpoolFilesFolder(std::wstring& folder);

// Deletes the first job queued on the printer named `printerName`.
// True when the printer does not open (nothing is logged: it counts as having
// nothing queued), when the queue is empty, also when it emptied between the
// size query and the enumeration, and when the first job was deleted; up to
// JobDeleteAttempts requests are sent, one success is enough. False after a
// logged failure: "分配打印任务信息缓存函数失败！" (the size query failed),
// "枚举打印任务失败！" (the enumeration failed) or "SetJob" with the last error
// (every delete request failed). The printer is closed on every path.
bool PurgePrintJobs(const std::wstring& printerName);

// Deletes every file whose name contains ".SHD", then every one whose name
// contains ".SPL", anywhere under SpoolFilesFolder. Failed
// deletions are logged by WalkFolder. The result is that of the ".SPL" pass.
// When the system folder cannot be determined nothing is deleted (the relative
// path would point at another folder): "SHGetSpecialFolderPath" is logged and
// the result is false.
bool PurgeSpoolFiles();
