#include "fakes/fake_spooler.h"

#include <cstring>

namespace fake_spooler {

State spooler;

namespace {

HANDLE HandleOf(size_t index) {
    return reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x5000 + index));
}

size_t IndexOf(HANDLE handle) {
    return static_cast<size_t>(reinterpret_cast<INT_PTR>(handle) - 0x5000);
}

DWORD TextBytes(const std::wstring& text) {
    return static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
}

// Copies `text` into the string area that `cursor` points at and moves on.
wchar_t* Place(const std::wstring& text, BYTE*& cursor) {
    auto* target = reinterpret_cast<wchar_t*>(cursor);
    std::memcpy(target, text.c_str(), TextBytes(text));
    cursor += TextBytes(text);
    return target;
}

// The spooler's two-call protocol: report the size when the buffer is short.
bool Fits(DWORD needed, LPBYTE buffer, DWORD size, LPDWORD neededOut) {
    *neededOut = needed;
    if (buffer != nullptr && size >= needed)
        return true;
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
}

constexpr wchar_t kNativeEnvironment[] = L"Windows NT x86";
constexpr wchar_t kForeignEnvironment[] = L"Windows ARM64";

struct Record {
    std::wstring name;
    const wchar_t* environment;
};

void FillDriverBlock(DRIVER_INFO_6W& block, const Record& record, BYTE*& cursor) {
    block = DRIVER_INFO_6W{};
    block.cVersion = 3;
    block.pName = Place(record.name, cursor);
    block.pEnvironment = Place(record.environment, cursor);
}

DWORD DriverBlockBytes(const Record& record) {
    return sizeof(DRIVER_INFO_6W) + TextBytes(record.name) + TextBytes(record.environment);
}

// The records an enumeration of `environment` gives: "all" lists the foreign
// ones too, first, as environments in alphabetical order would.
std::vector<Record> RecordsOf(const wchar_t* environment) {
    std::vector<Record> records;
    if (environment != nullptr && std::wstring(environment) == L"all") {
        for (const std::wstring& name : spooler.foreignDrivers)
            records.push_back({name, kForeignEnvironment});
    }
    for (const std::wstring& name : spooler.drivers)
        records.push_back({name, kNativeEnvironment});
    return records;
}

bool Installed(const std::vector<std::wstring>& drivers, const std::wstring& name) {
    for (const std::wstring& driver : drivers) {
        if (driver == name)
            return true;
    }
    return false;
}

BOOL WINAPI EnumPrinters(DWORD flags,
                         LPWSTR name,
                         DWORD level,
                         LPBYTE buffer,
                         DWORD size,
                         LPDWORD needed,
                         LPDWORD returned) {
    spooler.enumPrintersFlags = flags;
    spooler.enumPrintersName = name != nullptr ? name : L"(null)";
    spooler.enumPrintersLevel = level;
    *returned = 0;
    if (spooler.enumPrintersError != 0) {
        *needed = 0;
        ::SetLastError(spooler.enumPrintersError);
        return FALSE;
    }
    DWORD bytes = 0;
    for (const Printer& p : spooler.printers) {
        bytes += sizeof(PRINTER_INFO_2W) + TextBytes(p.name) + TextBytes(p.driver) +
                 TextBytes(p.printProcessor);
    }
    if (!Fits(bytes, buffer, size, needed))
        return spooler.printers.empty();
    auto* records = reinterpret_cast<PRINTER_INFO_2W*>(buffer);
    BYTE* cursor = buffer + sizeof(PRINTER_INFO_2W) * spooler.printers.size();
    for (size_t i = 0; i < spooler.printers.size(); ++i) {
        records[i] = PRINTER_INFO_2W{};
        records[i].pPrinterName = Place(spooler.printers[i].name, cursor);
        records[i].pDriverName = Place(spooler.printers[i].driver, cursor);
        records[i].pPrintProcessor = Place(spooler.printers[i].printProcessor, cursor);
    }
    *returned = static_cast<DWORD>(spooler.printers.size());
    return TRUE;
}

BOOL WINAPI EnumPrinterDrivers(LPWSTR server,
                               LPWSTR environment,
                               DWORD level,
                               LPBYTE buffer,
                               DWORD size,
                               LPDWORD needed,
                               LPDWORD returned) {
    if (server != nullptr)
        spooler.enumDriversLocal = false;
    spooler.enumDriversEnvironments.push_back(environment ? environment : L"(null)");
    spooler.enumDriversLevels.push_back(level);
    *returned = 0;
    *needed = 0;
    if (buffer == nullptr && spooler.enumDriversFirstError != 0) {
        ::SetLastError(spooler.enumDriversFirstError);
        return FALSE;
    }
    const std::vector<Record> records = RecordsOf(environment);
    if (records.empty())
        return TRUE;
    DWORD bytes = 0;
    for (const Record& record : records)
        bytes += DriverBlockBytes(record);
    if (!Fits(bytes, buffer, size, needed))
        return FALSE;
    if (spooler.enumDriversSecondError != 0) {
        ::SetLastError(spooler.enumDriversSecondError);
        return FALSE;
    }
    auto* blocks = reinterpret_cast<DRIVER_INFO_6W*>(buffer);
    BYTE* cursor = buffer + sizeof(DRIVER_INFO_6W) * records.size();
    for (size_t i = 0; i < records.size(); ++i) {
        FillDriverBlock(blocks[i], records[i], cursor);
    }
    *returned = static_cast<DWORD>(records.size());
    return TRUE;
}

BOOL WINAPI OpenPrinter(LPWSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSW defaults) {
    spooler.openedNames.push_back(name);
    spooler.openAccess.push_back(defaults != nullptr ? defaults->DesiredAccess : 0);
    if (defaults == nullptr || defaults->pDatatype != nullptr || defaults->pDevMode != nullptr) {
        spooler.openDefaultsEmpty = false;
    }
    for (size_t i = 0; i < spooler.printers.size(); ++i) {
        if (spooler.printers[i].name != name)
            continue;
        if (spooler.printers[i].openError != 0) {
            ::SetLastError(spooler.printers[i].openError);
            return FALSE;
        }
        *handle = HandleOf(i);
        ++spooler.openHandles;
        return TRUE;
    }
    ::SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
}

BOOL WINAPI GetPrinterDriver(HANDLE handle,
                             LPWSTR environment,
                             DWORD level,
                             LPBYTE buffer,
                             DWORD size,
                             LPDWORD needed) {
    spooler.getDriverLevels.push_back(level);
    spooler.getDriverEnvironments.push_back(environment ? environment : L"(null)");
    const Printer& printer = spooler.printers.at(IndexOf(handle));
    if (printer.getDriverError != 0) {
        *needed = 0;
        ::SetLastError(printer.getDriverError);
        return FALSE;
    }
    if (!Installed(spooler.drivers, printer.driver) &&
        Installed(spooler.foreignDrivers, printer.driver)) {
        *needed = 0;
        ::SetLastError(ERROR_UNKNOWN_PRINTER_DRIVER);
        return FALSE;
    }
    const Record record{printer.driver, kNativeEnvironment};
    if (!Fits(DriverBlockBytes(record), buffer, size, needed))
        return FALSE;
    BYTE* cursor = buffer + sizeof(DRIVER_INFO_6W);
    FillDriverBlock(*reinterpret_cast<DRIVER_INFO_6W*>(buffer), record, cursor);
    return TRUE;
}

BOOL WINAPI ClosePrinter(HANDLE) {
    --spooler.openHandles;
    return TRUE;
}

}  // namespace

void Install() {
    spooler = State{};
    win32.EnumPrintersW = EnumPrinters;
    win32.EnumPrinterDriversW = EnumPrinterDrivers;
    win32.OpenPrinterW = OpenPrinter;
    win32.GetPrinterDriverW = GetPrinterDriver;
    win32.ClosePrinter = ClosePrinter;
}

}  // namespace fake_spooler
