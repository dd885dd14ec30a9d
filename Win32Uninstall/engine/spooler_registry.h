// The spooler's own registry, where it keeps its printers and drivers and
// which it reads when it starts: read when the spooler cannot be reached, and
// changed, while it is stopped, when a driver keeps it from running.
//
//   HKLM\SYSTEM\CurrentControlSet\Control\Print (SPOOLER_PRINT_KEY), below it
//     Environments\<environment>\Drivers\Version-<n>\<driver>   one driver record
//     Printers\<printer>                                         one local printer
//     Monitors\<monitor>                                         one print monitor
//     Environments\<environment>\Print Processors\<processor>     one print processor
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
    std::wstring printProcessor;  // "Print Processor"; empty when it names none
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

// A print monitor or print processor as the spooler's registry holds it.
struct RegistryComponent {
    std::wstring name;         // the key's name
    std::wstring environment;  // a print processor's environment; empty for a monitor
    std::wstring dll;          // its "Driver" value, as stored
    // The folder the spooler loads the DLL from, with a trailing backslash:
    // Windows' own System32 for a monitor (reached as NativeSystemFolder
    // reaches it), System32\spool\prtprocs\<environment's folder>\ for a
    // print processor; empty when the Windows folder cannot be told.
    std::wstring dllFolder;
};

// Every monitor under Monitors\, in the registry's order. Empty when the key
// cannot be read (a failure other than a missing key logs "RegOpenKeyEx").
std::vector<RegistryComponent> ReadRegistryMonitors();

// Every print processor of every environment, in the registry's order.
// Empty when nothing can be read.
std::vector<RegistryComponent> ReadRegistryPrintProcessors();

// Deletes Monitors\<name>, or Environments\<environment>\Print
// Processors\<name>, with everything below it. A key that does not exist is
// success; a failure logs as DeletePrinterKey does.
bool DeleteMonitorKey(const std::wstring& name);
bool DeletePrintProcessorKey(const std::wstring& environment, const std::wstring& name);
