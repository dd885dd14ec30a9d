// A fake OpenPrinterW/ClosePrinter pair that hands out one printer handle,
// records how printers were opened and counts the closes, so that a test can
// check that every path closes what it opened.
#pragma once

#include <string>
#include <vector>

#include "platform/win32_api.h"

struct FakePrinterOpen {
    std::wstring name;
    ACCESS_MASK desiredAccess = 0;
    bool noDatatype = false;
    bool noDevMode = false;
};

struct FakePrinterState {
    // 0: the open succeeds; otherwise it fails with this last error.
    DWORD openError = 0;
    std::vector<FakePrinterOpen> opens;
    std::vector<HANDLE> closed;
};

// The handle a successful fake open returns.
HANDLE FakePrinterHandle();

// Puts the fake pair into `win32` with a fresh state (restore the table with
// ScopedWin32Fakes) and returns that state for the test to set and read.
FakePrinterState& InstallFakePrinters();
