// The last removal steps, run while the spooler runs again: deleting a
// printer, deleting a driver through the spooler, and asking Plug and Play to
// re-enumerate the device tree.
#pragma once

#include <string>

#include "platform/win32_api.h"

// Printers are opened for changes with all printer access rights (0xF000C),
// no data type and no device mode. The print-queue purge opens them the same
// way, and so does the driver list when it reads a printer's driver.
PRINTER_DEFAULTSW PrinterChangeDefaults();

// Deletes the printer named `printerName`. A printer that does not exist
// (OpenPrinterW fails with 1801) is already gone: true, nothing logged. Any
// other failure logs "OpenPrinter" or "DeletePrinter" with the last error and
// gives false. The printer handle is closed on every path.
// A per-user connection to a shared printer (a name "\server\queue") is
// removed with DeletePrinterConnectionW instead, which forgets the connection
// only: DeletePrinter on it would delete the queue on the print server, for
// every user of it. A connection that no longer exists (1801) is success; any
// other failure logs "DeletePrinterConnection" with the last error.
bool DeletePrinterByName(const std::wstring& printerName);

// Whether `printerName` names a connection to a printer shared by another
// computer: it begins with two backslashes.
bool IsPrinterConnection(const std::wstring& printerName);

// Removes the driver from the local spooler with DeletePrinterDriverExW: the
// block's environment and name, flags 1 (also delete its files that no other
// driver uses) and its cVersion as the version. A failure, for instance a
// driver that a printer still uses (3001), logs "DeletePrinterDriverEx" with
// the last error and gives false.
bool DeleteDriverFromSpooler(const DRIVER_INFO_6W& driverInfo);

// Removes the print monitor `name` through the spooler (DeleteMonitorW, every
// environment). A monitor the spooler does not know (3000) is already gone:
// true. Any other failure logs "DeleteMonitor" with the last error and gives
// false.
bool DeleteMonitorFromSpooler(const std::wstring& name);

// Removes the print processor `name` of `environment` through the spooler
// (DeletePrintProcessorW). One the spooler does not know (1798) is already
// gone: true. Any other failure logs "DeletePrintProcessor" with the last
// error and gives false.
bool DeletePrintProcessorFromSpooler(const std::wstring& environment, const std::wstring& name);

// Locates the root of the device tree and asks for an asynchronous
// re-enumeration from it, without waiting. A configuration-manager failure
// logs "CM_Locate_DevNode   failed:   <code>\n " (or the same with
// CM_Reenumerate_DevNode), the code in lowercase hexadecimal, with the thread's
// last error; it is never reported to the caller.
void ReenumerateDeviceTree();
