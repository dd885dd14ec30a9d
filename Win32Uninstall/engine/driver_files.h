// Deleting a printer driver's own files from the spooler's driver folders
// (System32\spool\drivers\ with every environment and version folder).
#pragma once

#include <string>
#include <vector>

#include "platform/win32_api.h"

// Modules and standard data files of the Windows universal printer driver,
// which other drivers use too. One text, not split: a file name counts as
// shared when it occurs anywhere in it, with its case ("DRV.DLL" does,
// "unidrv.dll" does not).
extern const wchar_t SharedDriverFiles[];

// Windows' own System32\spool\drivers\ (through Sysnative in a 32-bit
// process on 64-bit Windows). False when the Windows folder cannot be told.
bool DriverFilesFolder(std::wstring& folder);

// The bare file names whose files DeleteDriverFiles deletes, in order,
// duplicates kept:
//  - the names of pDependentFiles entries that are not shared, walking the
//    entries from the first until an entry without a name (no backslash, or
//    the empty string that ends the list) or one whose name equals
//    pMonitorName (that one is still taken);
//  - then the name of pDataFile, without the shared test.
// Absent pDependentFiles, pMonitorName or pDataFile count as empty.
std::vector<std::wstring> DriverFileNamesToDelete(const DRIVER_INFO_6W& driverInfo);

// Deletes every file anywhere under DriverFilesFolder whose name contains one of
// DriverFileNamesToDelete (case-sensitive): one WalkFolder per name, no folder
// removed. Failed deletions are logged by the walk. The result is that of the
// last name's walk (see WalkFolder), TRUE when there is no name. When the
// Windows folder cannot be determined nothing is deleted,
// "SHGetSpecialFolderPath" is logged and the result is FALSE.
BOOL DeleteDriverFiles(const DRIVER_INFO_6W& driverInfo);
