// Benchmark of one whole uninstall as the user runs it: drives a running
// Uninstall.exe from outside and times how its dialog answers meanwhile.
//
//   bench_uninstall_responsiveness seed     puts the bench's driver, two
//                                           printers on it and spool files
//                                           into the prefix
//   bench_uninstall_responsiveness run ROW  answers the opening warning,
//                                           selects ROW, presses "卸载" and
//                                           follows the command to its end
//   bench_uninstall_responsiveness remove   takes the seeds out again
//
// "run" sends WM_NULL to the dialog with SendMessageTimeoutW (SMTO_ABORTIFHUNG,
// 1000 ms) every 20 ms: first for 25 s to the idle dialog, as a baseline of
// what the machine itself adds, then from the press until the list is
// rebuilt. It prints key=value lines: the response times (worst, median,
// 95th percentile, each ping over 20 ms with its time after the press), the
// time from the press to the result box and to the rebuilt list, and the
// result. It answers the success question with No.
//
// The rebuilt list is told by a mark: just before the answer, item 0 gets an
// item data value that the program never sets. The list counts as rebuilt
// once the button is enabled again and the list is complete with that mark
// gone, which only a refill after the answer does; a list left as it was
// never counts, so the figure cannot come from a list that was not rebuilt.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "support/spooler_seed.h"
#include "support/test_support.h"
#include "support/uninstall_process.h"

namespace {

const wchar_t kDialogTitle[] = L"岚拓打印机驱动卸载程序";
const wchar_t kSucceeded[] = L"驱动卸载成功，立即重启电脑！";
const wchar_t kDriver[] = L"KBench Shared PCL6";
const wchar_t* const kPrinters[] = {L"KBench Printer A", L"KBench Printer B"};
constexpr int kSpoolJobs = 3;
constexpr DWORD kPingPeriodMs = 20;
constexpr UINT kPingLimitMs = 1000;
constexpr double kIdleMs = 25000;
// The run itself takes about 30 s under Wine; this only bounds a stuck one.
constexpr double kRunLimitMs = 180000;
// Item data of item 0 while the answer is given; the program sets none.
constexpr LPARAM kStaleListMark = 0x4B42454E;

double NowMs() {
    static LARGE_INTEGER frequency{};
    if (frequency.QuadPart == 0)
        ::QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

std::wstring SpoolFolder() {
    wchar_t system[MAX_PATH] = {};
    ::SHGetSpecialFolderPathW(nullptr, system, CSIDL_SYSTEM, FALSE);
    return std::wstring(system) + L"\\spool\\PRINTERS\\";
}

std::wstring SpoolFile(int job, const wchar_t* extension) {
    return SpoolFolder() + L"KB" + std::to_wstring(job) + extension;
}

int Seed() {
    bool ok = AddSeedDriver(kDriver);
    for (const wchar_t* printer : kPrinters)
        ok = AddSeedPrinter(printer, kDriver) && ok;
    for (int job = 1; job <= kSpoolJobs; ++job) {
        WriteBytes(SpoolFile(job, L".SPL"), std::string(64 * 1024, 'j'));
        WriteBytes(SpoolFile(job, L".SHD"), "shadow");
    }
    std::printf("seeded=%s\n", ok ? "yes" : "no");
    return ok ? 0 : 1;
}

int Remove() {
    bool ok = true;
    for (const wchar_t* printer : kPrinters)
        ok = RemoveSeedPrinter(printer) && ok;
    ok = RemoveSeedDriver(kDriver) && ok;
    for (int job = 1; job <= kSpoolJobs; ++job) {
        ::DeleteFileW(SpoolFile(job, L".SPL").c_str());
        ::DeleteFileW(SpoolFile(job, L".SHD").c_str());
    }
    return ok ? 0 : 1;
}

struct Windows {
    HWND dialog = nullptr;
    HWND owned = nullptr;
};

bool IsBoxOrDialog(HWND window) {
    wchar_t name[16] = {};
    ::GetClassNameW(window, name, 16);
    return std::wstring(name) == L"#32770";
}

BOOL CALLBACK FindDialog(HWND window, LPARAM context) {
    auto* found = reinterpret_cast<Windows*>(context);
    if (IsBoxOrDialog(window) && WindowText(window) == kDialogTitle &&
        ::GetDlgItem(window, 1000) != nullptr && ::IsWindowVisible(window)) {
        found->dialog = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK FindOwnedBox(HWND window, LPARAM context) {
    auto* found = reinterpret_cast<Windows*>(context);
    if (IsBoxOrDialog(window) && ::IsWindowVisible(window) &&
        ::GetWindow(window, GW_OWNER) == found->dialog) {
        found->owned = window;
        return FALSE;
    }
    return TRUE;
}

HWND OwnedBox(HWND dialog) {
    Windows found{dialog, nullptr};
    ::EnumWindows(FindOwnedBox, reinterpret_cast<LPARAM>(&found));
    return found.owned;
}

// One WM_NULL round trip to the dialog's thread, in milliseconds; the limit
// when it did not answer in time.
double Ping(HWND dialog) {
    const double start = NowMs();
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kPingLimitMs, &result)) {
        return kPingLimitMs;
    }
    return NowMs() - start;
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1));
    return values[index];
}

// Pings every kPingPeriodMs until `done` says so or the limit passes; each
// response time goes to `responses`. False at the limit.
// When each ping was sent, in milliseconds from the press.
std::vector<double> pingTimes;
double pressedAt = 0;

template <typename Done>
bool PingUntil(HWND dialog, std::vector<double>& responses, Done done) {
    const double start = NowMs();
    double next = start;
    for (;;) {
        pingTimes.push_back(NowMs() - pressedAt);
        responses.push_back(Ping(dialog));
        if (done())
            return true;
        if (NowMs() - start > kRunLimitMs)
            return false;
        next += kPingPeriodMs;
        const double now = NowMs();
        if (next < now)
            next = now;  // a slow answer: no burst to catch up
        ::Sleep(static_cast<DWORD>(next - now));
    }
}

int Run(const std::wstring& row) {
    Windows found;
    WaitUntil([&] {
        ::EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&found));
        return found.dialog != nullptr;
    });
    const HWND dialog = found.dialog;
    if (dialog == nullptr) {
        std::fprintf(stderr, "no dialog\n");
        return 1;
    }
    HWND warning = nullptr;
    WaitUntil([&] { return (warning = OwnedBox(dialog)) != nullptr; });
    if (warning == nullptr) {
        std::fprintf(stderr, "no warning\n");
        return 1;
    }
    PressMessageBoxButton(warning, IDOK);
    // Gone, so that the result box is never taken for it.
    WaitUntil([&] { return ::IsWindowEnabled(dialog) != FALSE && !::IsWindowVisible(warning); });

    const HWND list = ::GetDlgItem(dialog, 1000);
    const HWND button = ::GetDlgItem(dialog, IDOK);
    const std::vector<std::wstring> items = ListItems(list);
    const auto selected = std::find(items.begin(), items.end(), row);
    if (selected == items.end()) {
        std::fprintf(stderr, "row %s is not listed\n", Utf8(row).c_str());
        return 1;
    }
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(list, LB_SETCURSEL, static_cast<WPARAM>(selected - items.begin()), 0,
                          SMTO_ABORTIFHUNG, 10000, &result);

    // The same pings to the idle dialog first, for comparison.
    std::vector<double> idle;
    const double idleStart = pressedAt = NowMs();
    PingUntil(dialog, idle, [&] { return NowMs() - idleStart >= kIdleMs; });
    pingTimes.clear();

    std::vector<double> responses;
    const double pressed = pressedAt = NowMs();
    PostClick(button, true);
    HWND box = nullptr;
    const bool boxCame =
        PingUntil(dialog, responses, [&] { return (box = OwnedBox(dialog)) != nullptr; });
    const double boxShown = NowMs();
    if (!boxCame) {
        std::fprintf(stderr, "no result box\n");
        return 1;
    }
    const std::wstring text = MessageBoxText(box);
    const bool succeeded = text == kSucceeded;
    const size_t untilBox = responses.size();

    DWORD_PTR marked = 0;
    if (!::SendMessageTimeoutW(list, LB_SETITEMDATA, 0, kStaleListMark, SMTO_ABORTIFHUNG, 10000,
                               &marked) ||
        static_cast<LRESULT>(marked) == LB_ERR) {
        std::fprintf(stderr, "the list could not be marked\n");
        return 1;
    }
    PressMessageBoxButton(box, succeeded ? IDNO : IDOK);
    const double answered = NowMs();
    double enabled = 0;
    double boxGone = 0;
    // The command ends with the rebuilt list: the button is back, the mark
    // is gone (the rebuild empties the list first, so its last row tells
    // that it is complete), and the removed printer is no longer listed.
    const std::wstring lastRow = items.back();
    const bool rebuilt = PingUntil(dialog, responses, [&] {
        if (boxGone == 0 && !::IsWindowVisible(box))
            boxGone = NowMs();
        if (::IsWindowEnabled(button) == FALSE)
            return false;
        if (enabled == 0)
            enabled = NowMs();
        const std::vector<std::wstring> now = ListItems(list);
        DWORD_PTR mark = 0;
        return !now.empty() && now.back() == lastRow &&
               (!succeeded || std::find(now.begin(), now.end(), row) == now.end()) &&
               ::SendMessageTimeoutW(list, LB_GETITEMDATA, 0, 0, SMTO_ABORTIFHUNG, 1000, &mark) &&
               static_cast<LPARAM>(mark) != kStaleListMark;
    });
    const double done = NowMs();

    const std::vector<double> beforeBox(responses.begin(), responses.begin() + untilBox);
    std::printf("result=%s\n", succeeded ? "success" : "failure");
    std::printf("rebuilt=%s\n", rebuilt ? "yes" : "no");
    std::printf("press_to_box_ms=%.1f\n", boxShown - pressed);
    std::printf("press_to_rebuilt_ms=%.1f\n", done - pressed);
    std::printf("answer_to_box_gone_ms=%.1f\n", boxGone - answered);
    std::printf("answer_to_enabled_ms=%.1f\n", enabled - answered);
    std::printf("answer_to_rebuilt_ms=%.1f\n", done - answered);
    std::printf("pings=%zu\n", responses.size());
    std::printf("worst_ms=%.2f\n", Percentile(responses, 1.0));
    std::printf("median_ms=%.2f\n", Percentile(responses, 0.5));
    std::printf("p95_ms=%.2f\n", Percentile(responses, 0.95));
    std::printf("worst_before_box_ms=%.2f\n", Percentile(beforeBox, 1.0));
    std::printf("idle_pings=%zu\n", idle.size());
    std::printf("idle_worst_ms=%.2f\n", Percentile(idle, 1.0));
    std::printf("idle_median_ms=%.2f\n", Percentile(idle, 0.5));
    std::printf("over_50ms=%zu\n",
                static_cast<size_t>(std::count_if(responses.begin(), responses.end(),
                                                  [](double ms) { return ms > 50; })));
    for (size_t i = 0; i < responses.size(); ++i) {
        if (responses[i] > 20)
            std::printf("slow_ping=%.0f:%.1f\n", pingTimes[i], responses[i]);
    }
    ::PostMessageW(dialog, WM_CLOSE, 0, 0);
    return succeeded && rebuilt ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"seed")
        return Seed();
    if (command == L"remove")
        return Remove();
    if (command == L"run" && argc > 2)
        return Run(argv[2]);
    std::fprintf(stderr, "usage: bench_uninstall_responsiveness seed|run ROW|remove\n");
    return 2;
}
