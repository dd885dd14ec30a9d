// Uninstall.exe under Xvfb, driven from this process in the same prefix: the
// start-up with its warning, the list of a seeded spooler, the keyboard, the
// two buttons, the title-bar close and the PcaSvc round trip.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/spooler_seed.h"
#include "support/test_service.h"
#include "support/test_support.h"
#include "support/uninstall_process.h"

namespace {

const std::wstring kDialogTitle = L"岚拓打印机驱动卸载程序";
const std::wstring kWarning = L"卸载驱动前请确认已关闭打印机设备，并退出所有应用程序！";

size_t IndexOf(const std::vector<std::wstring>& items, const std::wstring& item) {
    return static_cast<size_t>(std::find(items.begin(), items.end(), item) - items.begin());
}

class UninstallDialog : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(seeds.AddDriver(sharedDriver));
        ASSERT_TRUE(seeds.AddDriver(sameName));
        ASSERT_TRUE(seeds.AddPrinterUsing(chinesePrinter, sharedDriver));
        ASSERT_TRUE(seeds.AddPrinterUsing(englishPrinter, sharedDriver));
        ASSERT_TRUE(seeds.AddPrinterUsing(sameName, sameName));
    }

    // Starts the program and waits for its dialog and the warning over it.
    void StartAndWaitForWarning() {
        ASSERT_TRUE(program.Start());
        dialog = program.WaitForDialog();
        ASSERT_NE(dialog, nullptr) << "no visible dialog titled " << Utf8(kDialogTitle);
        list = ::GetDlgItem(dialog, 1000);
        uninstallButton = ::GetDlgItem(dialog, 1);
        cancelButton = ::GetDlgItem(dialog, 2);
        warning = program.WaitForMessageBox(dialog);
        ASSERT_NE(warning, nullptr) << "no warning box owned by the dialog";
    }

    void DismissWarning() {
        PressMessageBoxButton(warning, IDOK);
        ASSERT_TRUE(WaitUntil([&] { return !::IsWindow(warning) || !::IsWindowVisible(warning); }));
        ASSERT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(dialog) != FALSE; }));
    }

    void ExpectEndsWithExitCodeZero() {
        DWORD exitCode = 1;
        ASSERT_TRUE(program.WaitForExit(exitCode)) << "the program did not end";
        EXPECT_EQ(exitCode, 0u);
    }

    const std::wstring tag = UniqueTag();
    const std::wstring sharedDriver = L"GUI 共享驱动 " + tag;
    const std::wstring sameName = L"GUI LaserJet " + tag;
    const std::wstring chinesePrinter = L"GUI 财务部打印机 " + tag;
    const std::wstring englishPrinter = L"GUI Front Desk " + tag;
    SeededSpooler seeds;
    UninstallProcess program;
    HWND dialog = nullptr;
    HWND list = nullptr;
    HWND uninstallButton = nullptr;
    HWND cancelButton = nullptr;
    HWND warning = nullptr;
};

TEST_F(UninstallDialog, WarningComesOverTheFilledVisibleDialogAndDisablesIt) {
    StartAndWaitForWarning();
    EXPECT_EQ(MessageBoxText(warning), kWarning);
    EXPECT_EQ(WindowText(warning), kDialogTitle);
    EXPECT_EQ(WindowText(dialog), kDialogTitle);
    EXPECT_TRUE(::IsWindowVisible(dialog));
    EXPECT_FALSE(::IsWindowEnabled(dialog)) << "the warning must be modal over the dialog";

    // Already complete while the warning is up: printers, then drivers, and
    // the driver named like a printer only once.
    const std::vector<std::wstring> items = ListItems(list);
    const size_t chinese = IndexOf(items, chinesePrinter);
    const size_t english = IndexOf(items, englishPrinter);
    const size_t same = IndexOf(items, sameName);
    const size_t shared = IndexOf(items, sharedDriver);
    ASSERT_LT(chinese, items.size());
    ASSERT_LT(english, items.size());
    ASSERT_LT(same, items.size());
    ASSERT_LT(shared, items.size());
    EXPECT_LT(std::max({chinese, english, same}), shared);
    EXPECT_EQ(std::count(items.begin(), items.end(), sameName), 1);
    EXPECT_EQ(std::count(items.begin(), items.end(), sharedDriver), 1);

    DismissWarning();
    EXPECT_EQ(ListItems(list), items);
    ::PostMessageW(dialog, WM_CLOSE, 0, 0);
    ExpectEndsWithExitCodeZero();
}

TEST_F(UninstallDialog, ButtonDownOnCancelEndsTheProgramWithExitCodeZero) {
    StartAndWaitForWarning();
    DismissWarning();
    PostClick(cancelButton, false);
    ExpectEndsWithExitCodeZero();
}

TEST_F(UninstallDialog, TitleBarCloseEndsTheProgramWithExitCodeZero) {
    StartAndWaitForWarning();
    DismissWarning();
    ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    ExpectEndsWithExitCodeZero();
}

TEST_F(UninstallDialog, PostedCloseEndsTheProgramWithExitCodeZero) {
    StartAndWaitForWarning();
    DismissWarning();
    ::PostMessageW(dialog, WM_CLOSE, 0, 0);
    ExpectEndsWithExitCodeZero();
}

TEST_F(UninstallDialog, EnterSpaceAndEscLaunchNothingAndCloseNothing) {
    StartAndWaitForWarning();
    DismissWarning();
    const std::vector<std::wstring> before = ListItems(list);
    // A rebuilt list would show this printer: it tells whether an uninstall ran.
    ASSERT_TRUE(seeds.AddPrinterUsing(L"GUI Late " + tag, sharedDriver));

    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &gui);
    for (HWND target : {gui.hwndFocus, uninstallButton, cancelButton, list, dialog}) {
        if (target == nullptr)
            continue;
        for (const auto& [key, character] :
             {std::pair<WPARAM, WPARAM>{VK_RETURN, L'\r'}, {VK_SPACE, L' '}, {VK_ESCAPE, 0x1B}}) {
            ::PostMessageW(target, WM_KEYDOWN, key, 1);
            ::PostMessageW(target, WM_CHAR, character, 1);
            ::PostMessageW(target, WM_KEYUP, key, 0xC0000001);
        }
    }
    ASSERT_TRUE(WaitForPostedMessagesHandled(list));

    EXPECT_TRUE(program.IsRunning());
    EXPECT_TRUE(::IsWindowVisible(dialog));
    EXPECT_EQ(program.FindMessageBox(nullptr), nullptr);
    EXPECT_EQ(ListItems(list), before);
    ::PostMessageW(dialog, WM_CLOSE, 0, 0);
    ExpectEndsWithExitCodeZero();
}

TEST_F(UninstallDialog, ButtonDownOnCancelWhileTheWarningIsUpDoesNothing) {
    StartAndWaitForWarning();
    PostClick(cancelButton, true);
    DismissWarning();
    ASSERT_TRUE(WaitForPostedMessagesHandled(list));
    EXPECT_TRUE(program.IsRunning());
    EXPECT_TRUE(::IsWindowVisible(dialog));
    ::PostMessageW(dialog, WM_CLOSE, 0, 0);
    ExpectEndsWithExitCodeZero();
}

TEST_F(UninstallDialog, ButtonDownOnUninstallRunsACommandThatRebuildsTheList) {
    StartAndWaitForWarning();
    DismissWarning();
    const std::wstring late = L"GUI Late " + tag;
    ASSERT_TRUE(seeds.AddPrinterUsing(late, sharedDriver));
    PostClick(uninstallButton, true);

    // Whatever the command says in a box (nothing is selected) is answered.
    const bool rebuilt = WaitUntil([&] {
        if (HWND box = program.FindMessageBox(nullptr))
            PressMessageBoxButton(box, IDOK);
        const std::vector<std::wstring> items = ListItems(list);
        return std::find(items.begin(), items.end(), late) != items.end();
    });
    EXPECT_TRUE(rebuilt);
    EXPECT_TRUE(WaitUntil([&] { return ::IsWindowEnabled(uninstallButton) != FALSE; }));
    PostClick(cancelButton, false);
    ExpectEndsWithExitCodeZero();
}

TEST_F(UninstallDialog, ButtonDownOnCancelWhileACommandRunsStillEndsWithExitCodeZero) {
    StartAndWaitForWarning();
    DismissWarning();
    PostClick(uninstallButton, true);
    PostClick(cancelButton, false);
    ExpectEndsWithExitCodeZero();
}

TEST_F(UninstallDialog, PcaSvcIsStoppedAtLaunchAndRunningAgainAfterTheWarning) {
    RegisteredPcaSvc pca;
    ASSERT_TRUE(pca.registered());
    ASSERT_TRUE(pca.Start());
    ASSERT_TRUE(pca.WaitForState(SERVICE_RUNNING));

    StartAndWaitForWarning();
    EXPECT_TRUE(pca.WaitForState(SERVICE_STOPPED)) << "state " << pca.State();
    // Nothing starts it again while the warning is up.
    EXPECT_EQ(pca.State(), DWORD{SERVICE_STOPPED});

    DismissWarning();
    EXPECT_TRUE(pca.WaitForState(SERVICE_RUNNING)) << "state " << pca.State();
    PostClick(cancelButton, false);
    ExpectEndsWithExitCodeZero();
}

}  // namespace
