#include "engine/spooler_removal.h"

#include "log/operation_log.h"
#include "platform/unique_handles.h"

static_assert(PRINTER_ALL_ACCESS == 0xF000C);
static_assert(DPD_DELETE_UNUSED_FILES == 1);
static_assert(CM_REENUMERATE_ASYNCHRONOUS == 4);

namespace {

std::wstring LowercaseHex(CONFIGRET code) {
    constexpr wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    do {
        text.insert(text.begin(), digits[code & 0xF]);
        code >>= 4;
    } while (code != 0);
    return text;
}

// Logs a configuration-manager failure. Those functions report through their
// result, not the last error; the record still carries whatever last error the
// thread holds, so it is kept intact while the text is built.
void LogConfigManagerFailure(const wchar_t* function, CONFIGRET result) {
    const DWORD lastError = ::GetLastError();
    const std::wstring text =
        std::wstring(function) + L"   failed:   " + LowercaseHex(result) + L"\n ";
    ::SetLastError(lastError);
    WriteLog(text, true);
}

}  // namespace

PRINTER_DEFAULTSW PrinterChangeDefaults() {
    PRINTER_DEFAULTSW defaults{};
    defaults.pDatatype = nullptr;
    defaults.pDevMode = nullptr;
    defaults.DesiredAccess = PRINTER_ALL_ACCESS;
    return defaults;
}

namespace {

bool DeleteConnection(const std::wstring& connectionName) {
    std::wstring name = connectionName;  // DeletePrinterConnectionW takes a writable string
    if (win32.DeletePrinterConnectionW(name.data()))
        return true;
    if (::GetLastError() == ERROR_INVALID_PRINTER_NAME)
        return true;
    WriteLog(L"DeletePrinterConnection", true);
    return false;
}

}  // namespace

bool IsPrinterConnection(const std::wstring& printerName) {
    return printerName.compare(0, 2, L"\\\\") == 0;
}

bool DeletePrinterByName(const std::wstring& printerName) {
    if (IsPrinterConnection(printerName))
        return DeleteConnection(printerName);
    std::wstring name = printerName;  // OpenPrinterW takes a writable string
    PRINTER_DEFAULTSW defaults = PrinterChangeDefaults();
    HANDLE opened = nullptr;
    if (!win32.OpenPrinterW(name.data(), &opened, &defaults)) {
        if (::GetLastError() == ERROR_INVALID_PRINTER_NAME)
            return true;
        WriteLog(L"OpenPrinter", true);
        return false;
    }
    unique_printer printer(opened);
    if (!win32.DeletePrinter(printer.get())) {
        WriteLog(L"DeletePrinter", true);
        return false;
    }
    return true;
}

bool DeleteDriverFromSpooler(const DRIVER_INFO_6W& driverInfo) {
    if (!win32.DeletePrinterDriverExW(nullptr, driverInfo.pEnvironment, driverInfo.pName,
                                      DPD_DELETE_UNUSED_FILES, driverInfo.cVersion)) {
        WriteLog(L"DeletePrinterDriverEx", true);
        return false;
    }
    return true;
}

bool DeleteMonitorFromSpooler(const std::wstring& name) {
    std::wstring monitor = name;  // DeleteMonitorW takes a writable string
    if (win32.DeleteMonitorW(nullptr, nullptr, monitor.data()) ||
        ::GetLastError() == ERROR_UNKNOWN_PRINT_MONITOR) {
        return true;
    }
    WriteLog(L"DeleteMonitor", true);
    return false;
}

bool DeletePrintProcessorFromSpooler(const std::wstring& environment, const std::wstring& name) {
    std::wstring processorEnvironment = environment;
    std::wstring processor = name;
    if (win32.DeletePrintProcessorW(nullptr, processorEnvironment.data(), processor.data()) ||
        ::GetLastError() == ERROR_UNKNOWN_PRINTPROCESSOR) {
        return true;
    }
    WriteLog(L"DeletePrintProcessor", true);
    return false;
}

void ReenumerateDeviceTree() {
    DEVINST root = 0;
    CONFIGRET result = win32.CM_Locate_DevNodeW(&root, nullptr, CM_LOCATE_DEVNODE_NORMAL);
    if (result != CR_SUCCESS) {
        LogConfigManagerFailure(L"CM_Locate_DevNode", result);
        return;
    }
    result = win32.CM_Reenumerate_DevNode(root, CM_REENUMERATE_ASYNCHRONOUS);
    if (result != CR_SUCCESS)
        LogConfigManagerFailure(L"CM_Reenumerate_DevNode", result);
}
