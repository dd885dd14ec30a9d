// "取消" pressed while an uninstall run has the spooler stopped: the program
// still ends with exit code 0 at once, without waiting for the run, but not
// before it has started the spooler again. Under Wine a spooler stop takes a
// few milliseconds and the run pauses 2 s after it, so the test watches the
// spooler's state and presses "取消" in that pause.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/seeded_printers.h"
#include "support/test_support.h"
#include "support/uninstall_process.h"

namespace {

// The spooler's state, or 0 when it cannot be read.
DWORD SpoolerState() {
    DWORD state = 0;
    const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    const SC_HANDLE service = ::OpenServiceW(manager, L"Spooler", SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    if (service != nullptr && ::QueryServiceStatus(service, &status))
        state = status.dwCurrentState;
    if (service != nullptr)
        ::CloseServiceHandle(service);
    if (manager != nullptr)
        ::CloseServiceHandle(manager);
    return state;
}

// Starts or stops the spooler and waits for the state; true when reached.
bool PutSpooler(DWORD state) {
    const SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    const SC_HANDLE service =
        ::OpenServiceW(manager, L"Spooler", SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP);
    SERVICE_STATUS status{};
    if (state == SERVICE_RUNNING)
        ::StartServiceW(service, 0, nullptr);
    else
        ::ControlService(service, SERVICE_CONTROL_STOP, &status);
    ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    return WaitUntil([state] { return SpoolerState() == state; }, 30000);
}

TEST(CancelDuringRun, CancelWhileTheRunHasTheSpoolerStoppedStartsItAgainBeforeTheEnd) {
    const DWORD initial = SpoolerState();
    ASSERT_TRUE(PutSpooler(SERVICE_RUNNING));
    const std::wstring driverName = L"Cancel Run Driver";
    const std::wstring printerName = L"Cancel Run Printer";
    SeededPrinterDriver driver(driverName, L"cnrdrv.dll", L"cnrui.dll", L"cnr.gpd", {});
    ASSERT_TRUE(driver.installed());
    SeededPrinter printer(printerName, driverName);
    ASSERT_TRUE(printer.added());

    UninstallProcess program;
    ASSERT_TRUE(program.Start());
    const HWND dialog = program.WaitForDialog();
    ASSERT_NE(dialog, nullptr);
    const HWND warning = program.WaitForMessageBox(dialog);
    ASSERT_NE(warning, nullptr);
    PressMessageBoxButton(warning, IDOK);
    ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(dialog) != FALSE; }));
    const HWND list = ::GetDlgItem(dialog, 1000);
    const std::vector<std::wstring> items = ListItems(list);
    const auto row = std::find(items.begin(), items.end(), printerName);
    ASSERT_NE(row, items.end());
    DWORD_PTR selected = 0;
    ::SendMessageTimeoutW(list, LB_SETCURSEL, static_cast<WPARAM>(row - items.begin()), 0,
                          SMTO_ABORTIFHUNG, 10000, &selected);

    PostClick(::GetDlgItem(dialog, IDOK), true);
    ASSERT_TRUE(WaitUntil([] { return SpoolerState() == SERVICE_STOPPED; }, 30000))
        << "the run never stopped the spooler";
    PostClick(::GetDlgItem(dialog, IDCANCEL), false);
    DWORD exitCode = 1;
    ASSERT_TRUE(program.WaitForExit(exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(SpoolerState(), DWORD{SERVICE_RUNNING}) << "printing stays broken";

    if (initial == SERVICE_STOPPED) {
        EXPECT_TRUE(PutSpooler(SERVICE_STOPPED));
    }
}

}  // namespace
