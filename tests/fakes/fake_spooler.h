// A print spooler in memory for the driver list: printers with their drivers,
// installed drivers, chosen failures, and what the code asked for. Blocks are
// laid out as the spooler does it: the records first, their strings after.
#pragma once

#include <string>
#include <vector>

#include "platform/win32_api.h"

namespace fake_spooler {

struct Printer {
    std::wstring name;
    // The driver the printer enumeration names and GetPrinterDriver reports.
    std::wstring driver;
    DWORD openError = 0;                        // OpenPrinter fails with it
    DWORD getDriverError = 0;                   // every GetPrinterDriver call fails with it
    std::wstring printProcessor = L"winprint";  // the enumeration's pPrintProcessor
};

struct State {
    std::vector<Printer> printers;
    std::vector<std::wstring> drivers;  // installed, in the spooler's order
    // Installed in another environment ("Windows ARM64" here; `drivers` are
    // "Windows NT x86"): listed by "all" before `drivers`; GetPrinterDriver of
    // a printer whose driver is only there fails with 1797, as the spooler's
    // does for a driver of another environment.
    std::vector<std::wstring> foreignDrivers;
    DWORD enumPrintersError = 0;       // every EnumPrinters call fails with it
    DWORD enumDriversFirstError = 0;   // the sizing call fails with it instead of 122
    DWORD enumDriversSecondError = 0;  // the fetching call fails with it

    // Observations.
    int openHandles = 0;
    std::vector<std::wstring> openedNames;
    std::vector<DWORD> openAccess;
    bool openDefaultsEmpty = true;  // every open had no data type and no device mode
    DWORD enumPrintersFlags = 0;
    std::wstring enumPrintersName = L"(null)";
    DWORD enumPrintersLevel = 0;
    bool enumDriversLocal = true;                       // no server named
    std::vector<std::wstring> enumDriversEnvironments;  // "(null)" for none
    std::vector<std::wstring> getDriverEnvironments;
    std::vector<DWORD> enumDriversLevels;
    std::vector<DWORD> getDriverLevels;
};

extern State spooler;

// Resets `spooler` and points the spooler entries of `win32` at the fakes.
void Install();

}  // namespace fake_spooler
