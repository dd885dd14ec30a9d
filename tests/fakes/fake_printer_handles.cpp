#include "fakes/fake_printer_handles.h"

namespace {

FakePrinterState state;

BOOL WINAPI OpenFakePrinter(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults) {
    FakePrinterOpen open;
    open.name = name ? name : L"";
    if (defaults) {
        open.desiredAccess = defaults->DesiredAccess;
        open.noDatatype = defaults->pDatatype == nullptr;
        open.noDevMode = defaults->pDevMode == nullptr;
    }
    state.opens.push_back(open);
    if (state.openError != 0) {
        ::SetLastError(state.openError);
        return FALSE;
    }
    *printer = FakePrinterHandle();
    return TRUE;
}

BOOL WINAPI CloseFakePrinter(HANDLE printer) {
    state.closed.push_back(printer);
    return TRUE;
}

}  // namespace

HANDLE FakePrinterHandle() {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7E57));
}

FakePrinterState& InstallFakePrinters() {
    state = FakePrinterState{};
    win32.OpenPrinterW = OpenFakePrinter;
    win32.ClosePrinter = CloseFakePrinter;
    return state;
}
