// The printers and printer drivers of the machine, as the rows a user chooses
// from (the dialog's list, the console program's list), and the rule that
// decides what the removal of a row takes with it.
//
// Rows: one per printer known to the local spooler (local printers and the
// user's connections), then one per installed printer driver name whose name
// is not also the name of one of those printers: first the drivers of
// Windows' own environment, then those of every other environment the
// spooler keeps (a 32-bit setup's "Windows NT x86" drivers on 64-bit Windows,
// a print server's drivers for its clients) that are not already listed, each
// group in the spooler's order.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>
#include <winspool.h>

#include "engine/device_nodes.h"

// One row and the unit of work of the uninstall sequence. Copying a row
// copies the reference to the driver information block, never the block.
struct DriverListEntry {
    // The window the row was listed in (the main dialog), or null; carried
    // with the row, never acted on.
    HWND ownerWindow = nullptr;
    // The row's driver: for a printer row the block the spooler reports for
    // that printer's driver, for a driver row that driver's block from the
    // enumeration of installed drivers. Empty for a printer whose driver
    // information could not be read, and where the shared-driver rule clears
    // it; the sequence then skips every step that needs it. The block lives as
    // long as any row or copy of a row refers to it.
    std::shared_ptr<const DRIVER_INFO_6W> driverInfo;
    // The printer's name for a printer row; empty for a driver row.
    std::wstring printerName;
    // True for a printer row, false for a driver row.
    bool isPrinter = false;
    // The driver's name, copied when the row is made: pName of driverInfo; for
    // a printer without driverInfo the driver name the printer enumeration
    // gave for it (empty if it gave none).
    std::wstring driverName;
    // A printer row's print processor (pPrintProcessor of PRINTER_INFO_2,
    // "Print Processor" of its registry key); empty for a driver row.
    std::wstring printProcessor;
};

// A text of a spooler record; empty for none.
inline std::wstring TextOf(const wchar_t* text) {
    return text != nullptr ? std::wstring(text) : std::wstring();
}

// Driver name -> number of rows naming that driver (the printers using it,
// plus one if it has a row of its own). Keys compare code unit by code unit
// (ordinal, case-sensitive); an empty driver name is never counted.
using DriverUseCounts = std::map<std::wstring, int>;

// Driver records of the spooler, each in a buffer shared with the records
// fetched with it.
using DriverRecords = std::vector<std::shared_ptr<const DRIVER_INFO_6W>>;

struct DriverInventory {
    std::vector<DriverListEntry> rows;
    DriverUseCounts useCounts;
    // Every driver record of every environment, one per environment and
    // name: what a removal must take, and what tells which files and
    // packages other drivers still use.
    DriverRecords everyDriver;
    // Read from the spooler's registry (TakeRegistryInventory), not asked of
    // the spooler.
    bool fromRegistry = false;
    // The machine's device nodes (EnumerateDeviceNodes): those bound to a
    // package that a removal takes go with it.
    std::vector<DeviceNode> devices;
};

// Asks the spooler for the rows, their counts and every driver record;
// `ownerWindow` goes into every row. A printer's driver information is that
// of Windows' own environment, else, without a log record, the record of the
// environment that has the printer's driver. A printer whose driver
// information cannot be read keeps its row, with the driver name the printer
// enumeration gave. Logs as the lookups below do; never fails as a whole (a
// spooler that refuses a call gives fewer rows). Where no spooler answers at
// all (the driver enumeration fails with IsSpoolerUnreachable), the
// inventory is TakeRegistryInventory's. Either reads the device nodes too.
DriverInventory TakeDriverInventory(HWND ownerWindow);

// The inventory from the spooler's registry (spooler_registry.h), by the
// rules of TakeDriverInventory: the printers' keys in the registry's order
// with the record of the driver each names (Windows' own environment's, else
// another's; none when no record has that name), then the driver rows.
// `fromRegistry` is set.
DriverInventory TakeRegistryInventory(HWND ownerWindow);

// EnumerateEveryDriverRecord, or, where no spooler answers (as for
// TakeDriverInventory), every record of the spooler's registry;
// `fromRegistry` tells which.
DriverRecords EveryDriverRecord(bool& fromRegistry);

// Every driver record of every environment ("all"), in the spooler's order.
// Where the spooler does not know "all", the records of Windows' own
// environment. Empty when none is installed or the spooler cannot be asked;
// a failure to fetch the records logs "EnumPrinterDrivers".
DriverRecords EnumerateEveryDriverRecord();

// The printers of `inventory` whose driver is `driver`, in list order.
std::vector<std::wstring> PrintersUsing(const DriverInventory& inventory,
                                        const std::wstring& driver);

// Whether the record is one of Windows' own environment (NativePrinterEnvironment,
// case-insensitive); every record is, where that environment is not known.
bool IsNativeRecord(const DRIVER_INFO_6W& record);

// The records of `records` named `driverName` (ordinal), one per environment.
DriverRecords RecordsNamed(const DriverRecords& records, const std::wstring& driverName);

// The row as its removal takes it: a copy whose driverInfo is cleared when
// another row names the same driver (count above 1), so that only the
// printer goes and the shared driver stays.
DriverListEntry RowForRemoval(const DriverListEntry& row, const DriverUseCounts& useCounts);

// The names of the local printers and the user's printer connections, in the
// spooler's order; empty when the spooler cannot be asked (nothing is logged).
// When `driverNames` is given it receives, index for index, the driver name
// the enumeration reports for each printer (empty where it reports none), and
// `printProcessors` likewise each printer's print processor.
std::vector<std::wstring> EnumerateLocalPrinterNames(
    std::vector<std::wstring>* driverNames = nullptr,
    std::vector<std::wstring>* printProcessors = nullptr);

// The installed printer drivers of Windows' own environment (also from a
// 32-bit process on 64-bit Windows: NativePrinterEnvironment). Returns their
// number and hands out, in `drivers`, the array of level-6 blocks (in one
// shared buffer) and, in `byteSize`, the size the spooler reported for it.
// Returns -1 and leaves the outputs unchanged when no driver is installed or
// the spooler cannot be asked; only a failure of the call that fetches the
// blocks is logged ("EnumPrinterDrivers" with the last error).
int EnumerateInstalledDrivers(DWORD& byteSize, std::shared_ptr<const DRIVER_INFO_6W>& drivers);

// Opens the printer with all printer access and hands out its level-6 driver
// block of Windows' own environment in `driverInfo` (a buffer of its own).
// When that environment has no such driver (1797) and `elsewhere` holds a
// record named `driverName`, that record is handed out instead, with nothing
// logged. On failure logs the failed call ("OpenPrinter", then
// "获取打印机驱动信息失败"; or "GetPrinterDriver"), leaves `driverInfo`
// unchanged and returns false. The printer handle is closed on every path.
bool GetDriverInfoOfPrinter(const std::wstring& printerName,
                            std::shared_ptr<const DRIVER_INFO_6W>& driverInfo,
                            const std::wstring& driverName = {},
                            const DriverRecords& elsewhere = {});
