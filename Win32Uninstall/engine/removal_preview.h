// What the removal of one row would touch, found without changing anything:
// no service is stopped, nothing is deleted and nothing is logged. Driver
// files and packages are matched by name containment, so a preview also shows
// what else a name catches.
#pragma once

#include <string>
#include <vector>

#include "engine/driver_inventory.h"

struct PreviewFile {
    std::wstring path;
    // The driver's file name that the path's name contains.
    std::wstring matchedName;
    // The path's file name is not that name but only contains it (AX.DLL for
    // X.DLL): most likely another driver's file.
    bool collateral = false;
};

struct PreviewPackage {
    std::wstring folder;       // the package folder, with a trailing backslash
    std::wstring inf;          // the INF whose text names the driver
    std::wstring matchedLine;  // its first line that names the driver
};

struct RemovalPreview {
    std::wstring printer;  // the printer deleted; empty for a driver row
    std::wstring driver;   // the driver deleted; empty when it stays
    std::vector<std::wstring> spoolFiles;
    std::vector<PreviewFile> driverFiles;
    std::vector<std::wstring> oemInfs;
    std::vector<PreviewPackage> packages;
};

// Everything RunUninstallSequence would remove for `row` as given (apply
// RowForRemoval first): its printer, the spool files, and for a row with
// driver information the driver's files in the spooler's driver folders, the
// oem INFs the setup API is asked to uninstall and the driver-store package
// folders. A folder that cannot be told or read contributes nothing.
RemovalPreview PreviewRemoval(const DriverListEntry& row);
