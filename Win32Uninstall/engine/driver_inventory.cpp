#include "engine/driver_inventory.h"

#include <algorithm>
#include <new>

#include "engine/spooler_registry.h"
#include "engine/spooler_removal.h"
#include "log/operation_log.h"
#include "platform/native_windows.h"
#include "platform/unique_handles.h"
#include "platform/win32_api.h"

namespace {

constexpr DWORD PRINTER_ENUM_FLAGS = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;

// A zero-filled buffer of at least `bytes` bytes, aligned for level-6 driver
// blocks; null when the memory cannot be had (the caller's next spooler call
// then fails and reports it).
std::shared_ptr<DRIVER_INFO_6W[]> AllocateDriverBlocks(DWORD bytes) {
    const size_t count =
        (static_cast<size_t>(bytes) + sizeof(DRIVER_INFO_6W) - 1) / sizeof(DRIVER_INFO_6W);
    try {
        return std::make_shared<DRIVER_INFO_6W[]>(std::max<size_t>(count, 1));
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// The environment of Windows' own drivers, as the spooler's calls take it.
// A 32-bit process on 64-bit Windows would otherwise be given the 32-bit
// drivers, which 64-bit Windows does not print with.
wchar_t* NativeEnvironment() {
    return const_cast<wchar_t*>(NativePrinterEnvironment());
}

// The level-6 records of one environment ("all" for every one), as
// EnumerateInstalledDrivers describes; -1 when there are none or the spooler
// cannot be asked, with the spooler's last error.
int EnumerateDriversOf(wchar_t* environment,
                       DWORD& byteSize,
                       std::shared_ptr<const DRIVER_INFO_6W>& drivers) {
    DWORD needed = 0;
    DWORD returned = 0;
    // With no driver installed this first call succeeds: there is nothing to list.
    if (win32.EnumPrinterDriversW(nullptr, environment, 6, nullptr, 0, &needed, &returned)) {
        ::SetLastError(ERROR_SUCCESS);
        return -1;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return -1;
    std::shared_ptr<DRIVER_INFO_6W[]> buffer = AllocateDriverBlocks(needed);
    if (!win32.EnumPrinterDriversW(nullptr, environment, 6, reinterpret_cast<BYTE*>(buffer.get()),
                                   buffer ? needed : 0, &needed, &returned)) {
        WriteLog(L"EnumPrinterDrivers", true);
        return -1;
    }
    byteSize = needed;
    drivers = std::shared_ptr<const DRIVER_INFO_6W>(buffer, buffer.get());
    return static_cast<int>(returned);
}

// The first record named `driverName`, or null.
std::shared_ptr<const DRIVER_INFO_6W> RecordNamed(const DriverRecords& records,
                                                  const std::wstring& driverName) {
    for (const auto& record : records) {
        if (!driverName.empty() && TextOf(record->pName) == driverName)
            return record;
    }
    return nullptr;
}

bool Listed(const std::vector<std::wstring>& names, const std::wstring& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

void AddRow(DriverInventory& inventory, DriverListEntry row) {
    if (!row.driverName.empty())
        ++inventory.useCounts[row.driverName];
    inventory.rows.push_back(std::move(row));
}

}  // namespace

std::vector<std::wstring> EnumerateLocalPrinterNames(std::vector<std::wstring>* driverNames,
                                                     std::vector<std::wstring>* printProcessors) {
    wchar_t noName[] = L"";
    DWORD needed = 0;
    DWORD returned = 0;
    win32.EnumPrintersW(PRINTER_ENUM_FLAGS, noName, 2, nullptr, 0, &needed, &returned);

    // Four spare bytes, zero-filled, as a terminator beyond what was asked for.
    std::vector<BYTE> buffer;
    try {
        buffer.assign(static_cast<size_t>(needed) + 4, 0);
    } catch (const std::bad_alloc&) {
        return {};
    }
    if (!win32.EnumPrintersW(PRINTER_ENUM_FLAGS, noName, 2, buffer.data(), needed, &needed,
                             &returned)) {
        return {};
    }
    std::vector<std::wstring> names;
    const auto* printers = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < returned; ++i) {
        names.push_back(TextOf(printers[i].pPrinterName));
        if (driverNames != nullptr)
            driverNames->push_back(TextOf(printers[i].pDriverName));
        if (printProcessors != nullptr)
            printProcessors->push_back(TextOf(printers[i].pPrintProcessor));
    }
    return names;
}

int EnumerateInstalledDrivers(DWORD& byteSize, std::shared_ptr<const DRIVER_INFO_6W>& drivers) {
    return EnumerateDriversOf(NativeEnvironment(), byteSize, drivers);
}

namespace {

// EnumerateEveryDriverRecord; `unreachable` tells whether the spooler could
// not be asked at all.
DriverRecords SpoolerDriverRecords(bool& unreachable) {
    wchar_t all[] = L"all";
    DWORD byteSize = 0;
    std::shared_ptr<const DRIVER_INFO_6W> drivers;
    int count = EnumerateDriversOf(all, byteSize, drivers);
    DWORD error = count < 0 ? ::GetLastError() : ERROR_SUCCESS;
    // A spooler that does not know "all" refuses it as an unknown
    // environment; its own environment's drivers are then all there are.
    if (count < 0 && error == ERROR_INVALID_ENVIRONMENT) {
        count = EnumerateInstalledDrivers(byteSize, drivers);
        error = count < 0 ? ::GetLastError() : ERROR_SUCCESS;
    }
    unreachable = IsSpoolerUnreachable(error);
    DriverRecords records;
    for (int i = 0; i < count; ++i)
        records.emplace_back(drivers, drivers.get() + i);
    return records;
}

// The driver rows: Windows' own environment first, then every other
// environment's drivers whose names are not listed yet.
void AddDriverRows(DriverInventory& inventory,
                   const std::vector<std::wstring>& printerNames,
                   HWND ownerWindow) {
    std::vector<std::wstring> listed;
    for (const bool nativeGroup : {true, false}) {
        for (const auto& block : inventory.everyDriver) {
            const std::wstring name = TextOf(block->pName);
            // Ordinal, case-sensitive: a driver named exactly like a printer
            // is reached through that printer's row.
            if (IsNativeRecord(*block) != nativeGroup || Listed(printerNames, name) ||
                Listed(listed, name)) {
                continue;
            }
            listed.push_back(name);
            AddRow(inventory, DriverListEntry{ownerWindow, block, {}, false, name, {}});
        }
    }
}

// The record of `driverName` that the spooler would give for a printer:
// Windows' own environment's, else another's; null when there is none.
std::shared_ptr<const DRIVER_INFO_6W> PrinterDriverRecord(const DriverRecords& records,
                                                          const std::wstring& driverName) {
    for (const auto& record : RecordsNamed(records, driverName)) {
        if (IsNativeRecord(*record))
            return record;
    }
    return RecordNamed(records, driverName);
}

// The inventory as the spooler's registry holds it, by the same rules.
DriverInventory RegistryInventory(HWND ownerWindow, DriverRecords everyDriver) {
    DriverInventory inventory;
    inventory.fromRegistry = true;
    inventory.everyDriver = std::move(everyDriver);
    std::vector<std::wstring> printerNames;
    for (const RegistryPrinter& printer : ReadRegistryPrinters()) {
        printerNames.push_back(printer.name);
        DriverListEntry row{
            ownerWindow,    PrinterDriverRecord(inventory.everyDriver, printer.driver),
            printer.name,   true,
            printer.driver, printer.printProcessor};
        AddRow(inventory, std::move(row));
    }
    AddDriverRows(inventory, printerNames, ownerWindow);
    inventory.devices = EnumerateDeviceNodes();
    return inventory;
}

}  // namespace

DriverRecords EnumerateEveryDriverRecord() {
    bool unreachable = false;
    return SpoolerDriverRecords(unreachable);
}

DriverRecords EveryDriverRecord(bool& fromRegistry) {
    DriverRecords records = SpoolerDriverRecords(fromRegistry);
    return fromRegistry ? ReadRegistryDriverRecords() : records;
}

DriverInventory TakeRegistryInventory(HWND ownerWindow) {
    return RegistryInventory(ownerWindow, ReadRegistryDriverRecords());
}

std::vector<std::wstring> PrintersUsing(const DriverInventory& inventory,
                                        const std::wstring& driver) {
    std::vector<std::wstring> printers;
    for (const DriverListEntry& row : inventory.rows) {
        if (row.isPrinter && !driver.empty() && row.driverName == driver)
            printers.push_back(row.printerName);
    }
    return printers;
}

bool IsNativeRecord(const DRIVER_INFO_6W& record) {
    const wchar_t* native = NativePrinterEnvironment();
    return native == nullptr ||
           (record.pEnvironment != nullptr &&
            ::CompareStringOrdinal(record.pEnvironment, -1, native, -1, TRUE) == CSTR_EQUAL);
}

DriverRecords RecordsNamed(const DriverRecords& records, const std::wstring& driverName) {
    DriverRecords named;
    for (const auto& record : records) {
        if (TextOf(record->pName) == driverName)
            named.push_back(record);
    }
    return named;
}

bool GetDriverInfoOfPrinter(const std::wstring& printerName,
                            std::shared_ptr<const DRIVER_INFO_6W>& driverInfo,
                            const std::wstring& driverName,
                            const DriverRecords& elsewhere) {
    PRINTER_DEFAULTSW defaults = PrinterChangeDefaults();
    unique_printer printer;
    if (!win32.OpenPrinterW(const_cast<wchar_t*>(printerName.c_str()), printer.put(), &defaults)) {
        WriteLog(L"OpenPrinter", true);
        WriteLog(L"获取打印机驱动信息失败", false);
        return false;
    }
    wchar_t* environment = NativeEnvironment();
    DWORD needed = 0;
    win32.GetPrinterDriverW(printer.get(), environment, 6, nullptr, 0, &needed);
    std::shared_ptr<DRIVER_INFO_6W[]> buffer = AllocateDriverBlocks(needed);
    if (!win32.GetPrinterDriverW(printer.get(), environment, 6,
                                 reinterpret_cast<BYTE*>(buffer.get()), buffer ? needed : 0,
                                 &needed)) {
        const DWORD error = ::GetLastError();
        // The printer's driver lives in another environment only (a 32-bit
        // setup's driver on 64-bit Windows): that record is its driver.
        if (error == ERROR_UNKNOWN_PRINTER_DRIVER) {
            if (auto record = RecordNamed(elsewhere, driverName)) {
                driverInfo = std::move(record);
                return true;
            }
        }
        ::SetLastError(error);
        WriteLog(L"GetPrinterDriver", true);
        return false;
    }
    driverInfo = std::shared_ptr<const DRIVER_INFO_6W>(buffer, buffer.get());
    return true;
}

DriverInventory TakeDriverInventory(HWND ownerWindow) {
    DriverInventory inventory;
    bool unreachable = false;
    inventory.everyDriver = SpoolerDriverRecords(unreachable);
    if (unreachable)
        return TakeRegistryInventory(ownerWindow);
    std::vector<std::wstring> printerDriverNames;
    std::vector<std::wstring> printProcessors;
    const std::vector<std::wstring> printerNames =
        EnumerateLocalPrinterNames(&printerDriverNames, &printProcessors);
    for (size_t i = 0; i < printerNames.size(); ++i) {
        DriverListEntry row{ownerWindow, nullptr, printerNames[i], true, {}, printProcessors[i]};
        // A printer whose driver information cannot be read keeps its row, so
        // that it can still be removed; its driver is then known only by the
        // name the printer enumeration gave, which keeps the driver's use
        // count honest.
        if (GetDriverInfoOfPrinter(printerNames[i], row.driverInfo, printerDriverNames[i],
                                   inventory.everyDriver)) {
            row.driverName = TextOf(row.driverInfo->pName);
        } else {
            row.driverName = printerDriverNames[i];
        }
        AddRow(inventory, std::move(row));
    }
    AddDriverRows(inventory, printerNames, ownerWindow);
    inventory.devices = EnumerateDeviceNodes();
    return inventory;
}

DriverListEntry RowForRemoval(const DriverListEntry& row, const DriverUseCounts& useCounts) {
    DriverListEntry removal = row;
    const auto count = useCounts.find(row.driverName);
    if (count != useCounts.end() && count->second > 1)
        removal.driverInfo.reset();
    return removal;
}
