// Deleting a printer driver's own files from the spooler's driver folders
// (System32\spool\drivers\ with every environment and version folder).
#pragma once

#include <string>
#include <vector>

#include "engine/file_helpers.h"
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

// One file under the drivers folder that a removed driver's names match.
struct DriverFileMatch {
    std::wstring path;
    // The driver's file name that the path's name contains.
    std::wstring matchedName;
    // The path's file name is not that name but only contains it (AX.DLL for
    // X.DLL): most likely another driver's file.
    bool collateral = false;
    // Why it stays ("used by driver <name>"); empty when it goes.
    std::wstring keptBecause;
};

// The files of the driver whose records (one per environment) are `removed`:
// every file anywhere under DriverFilesFolder whose name contains one of the
// records' DriverFileNamesToDelete (case-sensitive), each once, in the order
// of the names. A file whose full path (case-insensitive; System32 and
// Sysnative taken alike) a record of `others` names as its driver, configuration, data, help or
// dependent file stays, with the first such driver's name as the reason. Failed folder reads are
// logged by the walk. `folderKnown` turns false, with "SHGetSpecialFolderPath" logged, when the
// Windows folder cannot be told.
std::vector<DriverFileMatch> FindDriverFiles(const std::vector<const DRIVER_INFO_6W*>& removed,
                                             const std::vector<const DRIVER_INFO_6W*>& others,
                                             bool& folderKnown);

// The files anywhere under DriverFilesFolder whose names are one of `names`
// (upper-cased bare names; compared case-insensitively), except those of
// SharedDriverFiles, each with its reason to stay as FindDriverFiles gives it:
// the files a package installed for a driver whose record is gone.
std::vector<DriverFileMatch> FindFilesNamed(const std::vector<std::wstring>& names,
                                            const std::vector<const DRIVER_INFO_6W*>& others,
                                            bool& folderKnown);

// The files that the spooler itself deletes with the driver whose records
// are `removed` (DeletePrinterDriverExW with DPD_DELETE_UNUSED_FILES), for a
// removal without the spooler: each record's driver, configuration, data and
// help file, by its full path below the spooler's driver folders (reached as
// DriverFilesFolder does), when it exists, each once, but neither the
// universal driver's shared files (SharedDriverFiles) nor those of
// `alreadyFound`. A file that a record of `others` names stays, with the
// reason FindDriverFiles gives. Paths outside spool\drivers\ are never
// taken. `folderKnown` turns false, with "SHGetSpecialFolderPath" logged,
// when the Windows folder cannot be told.
std::vector<DriverFileMatch> FindSpoolerDeletedFiles(
    const std::vector<const DRIVER_INFO_6W*>& removed,
    const std::vector<const DRIVER_INFO_6W*>& others,
    const std::vector<DriverFileMatch>& alreadyFound,
    bool& folderKnown);

// Deletes every file of `files` that does not stay, each by
// DeleteOrSchedule: a file in use is scheduled for the restart and appended
// to `scheduled`. TRUE when every one is gone or scheduled; a file that can
// be neither deleted nor scheduled makes the result FALSE, whichever file it
// was (each is logged by DeleteOrSchedule).
BOOL DeleteDriverFiles(const std::vector<DriverFileMatch>& files, ScheduledPaths& scheduled);

// Deletes every file anywhere under DriverFilesFolder whose name contains one
// of DriverFileNamesToDelete (case-sensitive), when no other driver is
// installed, as the overload above does (what it schedules is not reported).
// When the Windows folder cannot be determined nothing is deleted,
// "SHGetSpecialFolderPath" is logged and the result is FALSE.
BOOL DeleteDriverFiles(const DRIVER_INFO_6W& driverInfo);
