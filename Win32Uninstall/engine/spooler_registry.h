// The spooler's own registry, where it keeps its printers and drivers and
// which it reads when it starts: read when the spooler cannot be reached, and
// changed, while it is stopped, when a driver keeps it from running.
//
//   HKLM\SYSTEM\CurrentControlSet\Control\Print (SPOOLER_PRINT_KEY), below it
//     Environments\<environment>\Drivers\Version-<n>\<driver>   one driver record
//     Printers\<printer>                                         one local printer
//   HKCU\Printers\Connections\,,<server>,<queue>                 one connection
#pragma once

#include <string>
#include <vector>

#include <windows.h>

#include "engine/driver_inventory.h"

// The spooler's key below HKEY_LOCAL_MACHINE.
constexpr wchar_t SPOOLER_PRINT_KEY[] = L"SYSTEM\\CurrentControlSet\\Control\\Print";

// Whether a spooler call failed because no spooler answers it (it is not
// running, or it ended during the call): RPC_S_SERVER_UNAVAILABLE (1722),
// RPC_S_CALL_FAILED (1726), RPC_S_CALL_FAILED_DNE (1727).
bool IsSpoolerUnreachable(DWORD error);

// One local printer of the registry and the driver its key names ("Printer
// Driver"; empty when it names none).
struct RegistryPrinter {
    std::wstring name;
    std::wstring driver;
};

// The printers under Printers\, in the registry's order. Empty when the key
// cannot be read (a failure other than a missing key logs "RegOpenKeyEx").
std::vector<RegistryPrinter> ReadRegistryPrinters();

// Every driver record of every environment and version, in the registry's
// order (environments, then versions, then drivers), each shaped as the
// spooler's level-6 record: pName (the key's name), pEnvironment (the
// environment's key name), cVersion ("Version"), the files "Driver",
// "Configuration File", "Data File", "Help File" and the multi-string
// "Dependent Files" as full paths
// (<Windows>\System32\spool\DRIVERS\<environment's "Directory">\<n>\<file>),
// pMonitorName ("Monitor"), pDefaultDataType ("Datatype") and
// pszzPreviousNames ("Previous Names"). Absent texts are null; the other
// fields are zero. Empty when nothing can be read.
DriverRecords ReadRegistryDriverRecords();

// Deletes the printer's key with everything below it: Printers\<name>, or for
// a connection ("\\server\queue") the current user's Connections key. A key
// that does not exist is success. A failure logs the failed call
// ("RegOpenKeyEx", "RegDeleteKey") with its error and gives false.
bool DeletePrinterKey(const std::wstring& printerName);

// Deletes the key named `driverName` (the registry compares names without
// case) with everything below it in every environment and every version. True when none is left
// (none there is success); a failure logs as DeletePrinterKey does.
bool DeleteDriverKeys(const std::wstring& driverName);
