// Start-up, the message loop and the service threads with faked windows,
// threads and messages: the order of the set-up, what each message does, and
// the failure paths.
#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "fakes/fake_dialog.h"
#include "fakes/fake_services.h"
#include "fakes/fake_spooler.h"
#include "shell/main_dialog.h"
#include "shell/ui_state.h"
#include "shell/uninstall_command.h"
#include "support/test_support.h"

namespace {

using fake_dialog::dialog;
using fake_services::Service;
using Lines = std::vector<std::string>;

struct Launch {
    LPTHREAD_START_ROUTINE procedure;
    int priority;
};

struct ShownBox {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT type;
};

// What the loop sees and does.
std::vector<std::string> events;
std::deque<std::pair<BOOL, MSG>> queue;  // GetMessageW results, in order
std::vector<MSG> dispatched;
std::vector<MSG> translated;
std::vector<Launch> launches;
std::vector<ShownBox> shownBoxes;
int openThreadHandles = 0;
HWND getMessageWindow = nullptr;

const INT_PTR kThreadBase = 0x8000;

HWND WINAPI GetItem(HWND window, int id) {
    events.push_back("GetDlgItem " + std::to_string(id));
    if (window != fake_dialog::kDialog)
        return nullptr;
    switch (id) {
        case IDC_DRIVER_LIST:
            return fake_dialog::kListBox;
        case IDC_UNINSTALL_BUTTON:
            return fake_dialog::kUninstallButton;
        case IDC_CANCEL_BUTTON:
            return fake_dialog::kCancelButton;
        case IDC_PROGRESS_BAR:
            return fake_dialog::kProgressBar;
        default:
            return nullptr;
    }
}

int WINAPI GetId(HWND window) {
    if (window == fake_dialog::kListBox)
        return IDC_DRIVER_LIST;
    if (window == fake_dialog::kUninstallButton)
        return IDC_UNINSTALL_BUTTON;
    if (window == fake_dialog::kCancelButton)
        return IDC_CANCEL_BUTTON;
    if (window == fake_dialog::kProgressBar)
        return IDC_PROGRESS_BAR;
    return 0;
}

BOOL WINAPI Show(HWND window, int command) {
    events.push_back(window == fake_dialog::kDialog ? "ShowWindow " + std::to_string(command)
                                                    : "ShowWindow elsewhere");
    return FALSE;
}

int WINAPI MessageBoxFake(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    events.push_back("MessageBox");
    shownBoxes.push_back(
        {owner, text != nullptr ? text : L"", caption != nullptr ? caption : L"", type});
    return IDOK;
}

HANDLE WINAPI CreateThreadFake(LPSECURITY_ATTRIBUTES security,
                               SIZE_T stack,
                               LPTHREAD_START_ROUTINE procedure,
                               LPVOID parameter,
                               DWORD flags,
                               LPDWORD) {
    const std::string name = procedure == ServiceStopThread      ? "ServiceStopThread"
                             : procedure == ServiceRestoreThread ? "ServiceRestoreThread"
                             : procedure == UninstallWorker      ? "UninstallWorker"
                                                                 : "unknown";
    events.push_back("CreateThread " + name);
    EXPECT_EQ(security, nullptr);
    EXPECT_EQ(stack, 0u);
    EXPECT_EQ(parameter, nullptr);
    EXPECT_EQ(flags, 0u);
    launches.push_back({procedure, THREAD_PRIORITY_NORMAL});
    ++openThreadHandles;
    return reinterpret_cast<HANDLE>(kThreadBase + static_cast<INT_PTR>(launches.size()));
}

BOOL WINAPI SetPriority(HANDLE thread, int priority) {
    const INT_PTR index = reinterpret_cast<INT_PTR>(thread) - kThreadBase - 1;
    launches.at(static_cast<size_t>(index)).priority = priority;
    return TRUE;
}

BOOL WINAPI CloseHandleFake(HANDLE handle) {
    const INT_PTR value = reinterpret_cast<INT_PTR>(handle);
    if (value > kThreadBase && value <= kThreadBase + 100) {
        --openThreadHandles;
        return TRUE;
    }
    return ::CloseHandle(handle);
}

BOOL WINAPI GetMessageFake(LPMSG msg, HWND window, UINT first, UINT last) {
    events.push_back("GetMessage");
    getMessageWindow = window;
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(last, 0u);
    if (queue.empty()) {
        ADD_FAILURE() << "the loop asked for more messages than the test queued";
        return -1;
    }
    const auto [result, next] = queue.front();
    queue.pop_front();
    *msg = next;
    return result;
}

BOOL WINAPI TranslateFake(const MSG* msg) {
    translated.push_back(*msg);
    return FALSE;
}

LRESULT WINAPI DispatchFake(const MSG* msg) {
    dispatched.push_back(*msg);
    return 0;
}

MSG Message(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    return msg;
}

void Queue(const MSG& msg) {
    queue.emplace_back(TRUE, msg);
}

void QueueQuit() {
    queue.emplace_back(FALSE, Message(nullptr, WM_QUIT));
}

class MessageLoop : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_spooler::Install();
        fake_dialog::Install();
        fake_services::Install();
        events.clear();
        queue.clear();
        dispatched.clear();
        translated.clear();
        launches.clear();
        shownBoxes.clear();
        openThreadHandles = 0;
        getMessageWindow = nullptr;
        dialog.events = &events;
        listBox = nullptr;
        uninstallButton = nullptr;
        progressBar = nullptr;
        win32.GetDlgItem = GetItem;
        win32.GetDlgCtrlID = GetId;
        win32.ShowWindow = Show;
        win32.MessageBoxW = MessageBoxFake;
        win32.CreateThread = CreateThreadFake;
        win32.SetThreadPriority = SetPriority;
        win32.CloseHandle = CloseHandleFake;
        win32.GetMessageW = GetMessageFake;
        win32.TranslateMessage = TranslateFake;
        win32.DispatchMessageW = DispatchFake;
    }
    void TearDown() override {
        EXPECT_EQ(openThreadHandles, 0) << "a thread handle was kept";
        EXPECT_TRUE(queue.empty()) << "the loop ended before the test expected";
    }

    // Messages the loop dispatched, as "<window id>:<message>".
    static Lines Dispatched() {
        Lines lines;
        for (const MSG& msg : dispatched) {
            lines.push_back(std::to_string(GetId(msg.hwnd)) + ":" + std::to_string(msg.message));
        }
        return lines;
    }

    static int LaunchesOf(LPTHREAD_START_ROUTINE procedure) {
        int count = 0;
        for (const Launch& launch : launches)
            count += launch.procedure == procedure;
        return count;
    }

    ScopedWin32Fakes fakes;
    fake_dialog::ScopedUiState uiState;
};

TEST_F(MessageLoop, SetUpFillsAndShowsThenWarnsThenRestoresTheServiceThenPumps) {
    fake_spooler::spooler.printers = {{L"P", L"D"}};
    QueueQuit();
    EXPECT_EQ(RunMessageLoop(), 0);

    EXPECT_EQ(events, (Lines{"GetDlgItem 1000", "GetDlgItem 1", "GetDlgItem 1001", "PBM_SETRANGE",
                             "LB_RESETCONTENT", "LB_INSERTSTRING", "SetWindowText", "ShowWindow 5",
                             "MessageBox", "CreateThread ServiceRestoreThread", "GetMessage"}));
    EXPECT_EQ(listBox, fake_dialog::kListBox);
    EXPECT_EQ(uninstallButton, fake_dialog::kUninstallButton);
    EXPECT_EQ(progressBar, fake_dialog::kProgressBar);
    ASSERT_EQ(dialog.otherMessages.size(), 1u);
    EXPECT_EQ(dialog.otherMessages[0].window, fake_dialog::kProgressBar);
    EXPECT_EQ(dialog.otherMessages[0].wParam, 0u);
    EXPECT_EQ(dialog.otherMessages[0].lParam, 0x640000);
    ASSERT_EQ(shownBoxes.size(), 1u);
    EXPECT_EQ(shownBoxes[0].owner, fake_dialog::kDialog);
    EXPECT_EQ(shownBoxes[0].text, L"卸载驱动前请确认已关闭打印机设备，并退出所有应用程序！");
    EXPECT_EQ(shownBoxes[0].caption, L"岚拓打印机驱动卸载程序");
    EXPECT_EQ(shownBoxes[0].type, UINT{MB_OK});
    EXPECT_EQ(launches[0].priority, THREAD_PRIORITY_NORMAL);
    EXPECT_EQ(getMessageWindow, fake_dialog::kDialog);
}

TEST_F(MessageLoop, ButtonDownOnUninstallLaunchesTheWorkerAtHighestPriorityAndIsDispatched) {
    commandRunning = false;
    Queue(Message(fake_dialog::kUninstallButton, WM_LBUTTONDOWN, MK_LBUTTON));
    Queue(Message(fake_dialog::kUninstallButton, WM_LBUTTONUP));
    Queue(Message(fake_dialog::kUninstallButton, WM_LBUTTONDOWN, MK_LBUTTON));
    QueueQuit();
    EXPECT_EQ(RunMessageLoop(), 0);

    // The second press comes while the first command still runs (the fake
    // thread never ends it), so it launches nothing; both are dispatched.
    EXPECT_EQ(LaunchesOf(UninstallWorker), 1);
    commandRunning = false;
    for (const Launch& launch : launches) {
        if (launch.procedure == UninstallWorker) {
            EXPECT_EQ(launch.priority, THREAD_PRIORITY_HIGHEST);
        }
    }
    EXPECT_EQ(Dispatched(), (Lines{"1:513", "1:514", "1:513"}));
}

// The waits for a thread, with their bounds.
std::vector<std::pair<HANDLE, DWORD>> threadWaits;
DWORD WINAPI RecordThreadWait(HANDLE thread, DWORD milliseconds) {
    threadWaits.emplace_back(thread, milliseconds);
    return WAIT_TIMEOUT;
}

TEST_F(MessageLoop, ButtonDownOnCancelEndsAtOnceWithoutDispatching) {
    threadWaits.clear();
    win32.WaitForSingleObject = RecordThreadWait;
    Queue(Message(fake_dialog::kListBox, WM_MOUSEMOVE));
    Queue(Message(fake_dialog::kCancelButton, WM_LBUTTONDOWN, MK_LBUTTON));
    EXPECT_EQ(RunMessageLoop(), 0);
    EXPECT_EQ(Dispatched(), (Lines{"1000:512"}));
    EXPECT_EQ(LaunchesOf(UninstallWorker), 0);
    // Ends only once the restore thread is out of its calls, or the bound is
    // over (the fake thread never ends); its handle is closed (TearDown).
    ASSERT_EQ(threadWaits.size(), 1u);
    EXPECT_EQ(threadWaits[0].first, reinterpret_cast<HANDLE>(kThreadBase + 1));
    EXPECT_EQ(threadWaits[0].second, PCASVC_RESTORE_END_WAIT_MS);
}

TEST_F(MessageLoop, ButtonDownElsewhereIsOnlyDispatched) {
    Queue(Message(fake_dialog::kListBox, WM_LBUTTONDOWN, MK_LBUTTON));
    Queue(Message(fake_dialog::kProgressBar, WM_LBUTTONDOWN, MK_LBUTTON));
    Queue(Message(fake_dialog::kDialog, WM_LBUTTONDOWN, MK_LBUTTON));
    Queue(Message(fake_dialog::kCancelButton, WM_RBUTTONDOWN, MK_RBUTTON));
    QueueQuit();
    EXPECT_EQ(RunMessageLoop(), 0);
    EXPECT_EQ(Dispatched(), (Lines{"1000:513", "1001:513", "0:513", "2:516"}));
    EXPECT_EQ(LaunchesOf(UninstallWorker), 0);
}

TEST_F(MessageLoop, CloseAndDestroyEndTheLoopWithoutDispatching) {
    Queue(Message(fake_dialog::kDialog, WM_CLOSE));
    EXPECT_EQ(RunMessageLoop(), 0);
    Queue(Message(fake_dialog::kDialog, WM_DESTROY));
    EXPECT_EQ(RunMessageLoop(), 0);
    EXPECT_TRUE(dispatched.empty());
}

TEST_F(MessageLoop, EnterEscAndSpaceAreOnlyTranslatedAndDispatched) {
    for (HWND target : {fake_dialog::kUninstallButton, fake_dialog::kCancelButton,
                        fake_dialog::kListBox, fake_dialog::kDialog}) {
        for (WPARAM key : {VK_RETURN, VK_ESCAPE, VK_SPACE}) {
            Queue(Message(target, WM_KEYDOWN, key));
            Queue(Message(target, WM_KEYUP, key));
        }
    }
    QueueQuit();
    EXPECT_EQ(RunMessageLoop(), 0);
    EXPECT_EQ(dispatched.size(), 24u);
    EXPECT_EQ(translated.size(), 24u);
    EXPECT_EQ(LaunchesOf(UninstallWorker), 0);
}

TEST_F(MessageLoop, MessageRetrievalErrorEndsWithMinusOne) {
    Queue(Message(fake_dialog::kListBox, WM_PAINT));
    queue.emplace_back(-1, MSG{});
    EXPECT_EQ(RunMessageLoop(), -1);
    EXPECT_EQ(dispatched.size(), 1u);
}

TEST_F(MessageLoop, ServiceThreadsHandTheLocalManagerToThePcaSvcOperations) {
    using fake_services::scm;
    scm.services[L"PcaSvc"].state = SERVICE_RUNNING;
    EXPECT_EQ(ServiceStopThread(nullptr), 0u);
    EXPECT_EQ(scm.services[L"PcaSvc"].state, SERVICE_STOPPED);
    EXPECT_EQ(ServiceRestoreThread(nullptr), 0u);
    EXPECT_EQ(scm.services[L"PcaSvc"].state, SERVICE_RUNNING);
    EXPECT_EQ(scm.managerAccess, (std::vector<DWORD>{GENERIC_EXECUTE, GENERIC_EXECUTE}));
    EXPECT_EQ(scm.openHandles, 0);
}

TEST_F(MessageLoop, ServiceThreadsEndSilentlyWhenTheManagerCannotBeOpened) {
    using fake_services::scm;
    scm.managerError = ERROR_ACCESS_DENIED;
    scm.services[L"PcaSvc"].state = SERVICE_RUNNING;
    EXPECT_EQ(ServiceStopThread(nullptr), 0u);
    EXPECT_EQ(ServiceRestoreThread(nullptr), 0u);
    EXPECT_EQ(scm.calls, (Lines{"OpenSCManager", "OpenSCManager"}));
    EXPECT_EQ(scm.services[L"PcaSvc"].state, SERVICE_RUNNING);
}

// The restore thread's wait for the stop thread: the stop thread finishes
// during it, as it would when the warning was dismissed while PcaSvc stopped.
DWORD WINAPI StopThreadFinishesDuringTheWait(HANDLE thread, DWORD milliseconds) {
    threadWaits.emplace_back(thread, milliseconds);
    ServiceStopThread(nullptr);
    return WAIT_OBJECT_0;
}

TEST_F(MessageLoop, QuicklyDismissedWarningStartsPcaSvcOnlyAfterTheStopThreadEnded) {
    using fake_services::scm;
    Service& pca = scm.services[L"PcaSvc"];
    pca.state = SERVICE_RUNNING;
    pca.afterStop = {{SERVICE_STOP_PENDING, 2500}, {SERVICE_STOPPED, 0}};
    threadWaits.clear();
    win32.WaitForSingleObject = StopThreadFinishesDuringTheWait;

    LaunchPcaSvcStop();  // recorded, not run: still stopping when the restore thread comes
    EXPECT_EQ(ServiceRestoreThread(nullptr), 0u);
    EXPECT_EQ(scm.controlOrder, (Lines{"stop PcaSvc", "start PcaSvc"}));
    ASSERT_EQ(threadWaits.size(), 1u);
    EXPECT_EQ(threadWaits[0].first, reinterpret_cast<HANDLE>(kThreadBase + 1));
    EXPECT_EQ(threadWaits[0].second, PCASVC_STOP_THREAD_WAIT_MS);

    ServiceRestoreThread(nullptr);  // the handle is closed: no second wait
    EXPECT_EQ(threadWaits.size(), 1u);
}

std::string standardOutput;
const HANDLE kStandardOutput = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x9100));

BOOL WINAPI CaptureOutput(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED) {
    if (file != kStandardOutput)
        return FALSE;
    standardOutput.append(static_cast<const char*>(data), size);
    if (written != nullptr)
        *written = size;
    return TRUE;
}

TEST_F(MessageLoop, DialogThatCannotBeCreatedIsReportedOnStandardOutputAndEndsWithZero) {
    // The test program has no template 101, so creating the dialog from it fails.
    standardOutput.clear();
    win32.WriteFile = CaptureOutput;
    const HANDLE savedOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    ::SetStdHandle(STD_OUTPUT_HANDLE, kStandardOutput);
    mainDialog = nullptr;
    const int result = RunUninstaller(::GetModuleHandleW(nullptr));
    ::SetStdHandle(STD_OUTPUT_HANDLE, savedOutput);

    EXPECT_EQ(result, 0);
    EXPECT_EQ(standardOutput, "Failed to create dialog/n");
    EXPECT_EQ(mainDialog, nullptr);
    EXPECT_EQ(events, (Lines{"CreateThread ServiceStopThread"}));
}

}  // namespace
