// The driver list on Wine's real spooler, into a real sorted list box: printers
// and drivers seeded by the test, removed afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "shell/driver_list.h"
#include "shell/ui_state.h"
#include "support/pc_seed.h"
#include "support/spooler_seed.h"
#include "support/test_support.h"

namespace {

bool Contains(const std::vector<std::wstring>& names, const std::wstring& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

class DriverListOnSpooler : public ::testing::Test {
  protected:
    void SetUp() override {
        savedDialog_ = mainDialog;
        savedList_ = listBox;
        owner_ = ::CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED, 0, 0, 400, 400, nullptr,
                                   nullptr, nullptr, nullptr);
        ASSERT_NE(owner_, nullptr);
        // The dialog's list box has LBS_SORT; so has this one.
        list_ = ::CreateWindowExW(0, L"LISTBOX", L"", WS_CHILD | LBS_SORT | LBS_NOTIFY, 0, 0, 300,
                                  300, owner_, nullptr, nullptr, nullptr);
        ASSERT_NE(list_, nullptr);
        mainDialog = owner_;
        listBox = list_;
    }
    void TearDown() override {
        mainDialog = savedDialog_;
        listBox = savedList_;
        driverEntries.clear();
        driverUseCounts.clear();
        ::DestroyWindow(owner_);
    }

    std::vector<std::wstring> Items() const {
        std::vector<std::wstring> items;
        const LRESULT count = ::SendMessageW(list_, LB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            std::wstring text(static_cast<size_t>(::SendMessageW(list_, LB_GETTEXTLEN, i, 0)),
                              L'\0');
            ::SendMessageW(list_, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()));
            items.push_back(text);
        }
        return items;
    }

    // The rows naming this test's tag, as "P:<printer>/<driver>" or "D:<driver>".
    std::vector<std::string> TaggedRows() const {
        std::vector<std::string> rows;
        for (const DriverListEntry& row : driverEntries) {
            const std::wstring& name = row.isPrinter ? row.printerName : row.driverName;
            if (name.find(tag) == std::wstring::npos)
                continue;
            rows.push_back(row.isPrinter ? "P:" + Utf8(row.printerName) + "/" + Utf8(row.driverName)
                                         : "D:" + Utf8(row.driverName));
        }
        return rows;
    }

    const std::wstring tag = UniqueTag();
    SeededSpooler seeds;

  private:
    HWND savedDialog_ = nullptr;
    HWND savedList_ = nullptr;
    HWND owner_ = nullptr;
    HWND list_ = nullptr;
};

TEST_F(DriverListOnSpooler, SharedDriverAndPrinterNamedLikeItsDriverGiveTheExpectedRowsAndCounts) {
    const std::wstring shared = L"KT 共享驱动 " + tag;
    const std::wstring same = L"KT Same " + tag;
    // Sorted, "AA" would come first; in the table it comes after the printers.
    const std::wstring lone = L"AA Lone " + tag;
    ASSERT_TRUE(seeds.AddDriver(shared));
    ASSERT_TRUE(seeds.AddDriver(same));
    ASSERT_TRUE(seeds.AddDriver(lone));
    ASSERT_TRUE(seeds.AddPrinterUsing(L"KT 财务部 " + tag, shared));
    ASSERT_TRUE(seeds.AddPrinterUsing(L"KT Front " + tag, shared));
    ASSERT_TRUE(seeds.AddPrinterUsing(same, same));

    FillDriverList();

    std::vector<std::string> rows = TaggedRows();
    ASSERT_EQ(rows.size(), 5u) << ::testing::PrintToString(rows);
    // Printers first (in the spooler's order), then the drivers with rows.
    std::vector<std::string> printers(rows.begin(), rows.begin() + 3);
    std::sort(printers.begin(), printers.end());
    EXPECT_EQ(printers,
              (std::vector<std::string>{"P:" + Utf8(L"KT Front " + tag) + "/" + Utf8(shared),
                                        "P:" + Utf8(same) + "/" + Utf8(same),
                                        "P:" + Utf8(L"KT 财务部 " + tag) + "/" + Utf8(shared)}));
    std::vector<std::string> drivers(rows.begin() + 3, rows.end());
    std::sort(drivers.begin(), drivers.end());
    EXPECT_EQ(drivers, (std::vector<std::string>{"D:" + Utf8(lone), "D:" + Utf8(shared)}));

    EXPECT_EQ(driverUseCounts[shared], 3);
    EXPECT_EQ(driverUseCounts[same], 1);
    EXPECT_EQ(driverUseCounts[lone], 1);
    for (const DriverListEntry& row : driverEntries) {
        ASSERT_NE(row.driverInfo, nullptr) << Utf8(row.printerName);
        EXPECT_EQ(row.driverName, row.driverInfo->pName);
        EXPECT_EQ(row.ownerWindow, mainDialog);
    }

    // The sorted list box shows the table's order, item for row.
    const std::vector<std::wstring> items = Items();
    ASSERT_EQ(items.size(), driverEntries.size());
    for (size_t i = 0; i < items.size(); ++i) {
        const DriverListEntry& row = driverEntries[i];
        EXPECT_EQ(items[i], row.isPrinter ? row.printerName : row.driverName) << i;
    }
    wchar_t title[64] = {};
    ::GetWindowTextW(mainDialog, title, 64);
    EXPECT_EQ(std::wstring(title), L"岚拓打印机驱动卸载程序");
}

TEST_F(DriverListOnSpooler, RefillAfterRemovalNoLongerListsThePrinter) {
    const std::wstring driver = L"KT Refill " + tag;
    const std::wstring printer = L"KT Removed " + tag;
    ASSERT_TRUE(seeds.AddDriver(driver));
    ASSERT_TRUE(seeds.AddPrinterUsing(printer, driver));
    FillDriverList();
    EXPECT_EQ(TaggedRows(), (std::vector<std::string>{"P:" + Utf8(printer) + "/" + Utf8(driver),
                                                      "D:" + Utf8(driver)}));

    ASSERT_TRUE(seeds.RemovePrinter(printer));
    FillDriverList();
    EXPECT_EQ(TaggedRows(), (std::vector<std::string>{"D:" + Utf8(driver)}));
    EXPECT_EQ(driverUseCounts[driver], 1);
    EXPECT_EQ(Items().size(), driverEntries.size());
}

// A prefix as the 64-bit setup leaves a 64-bit PC, seeded by a 64-bit
// process: the list, also of a 32-bit process, holds the printers and then
// their x64 drivers, and every printer's driver information is read.
TEST_F(DriverListOnSpooler, MachineSeededByA64BitSetupListsThePrintersThenTheX64Drivers) {
    ResetOperationLog();
    const std::wstring seeder = Native64Program(L"demo_machine.exe");
    ASSERT_EQ(RunProgram(seeder, L"seed"), 0u) << Utf8(seeder);
    FillDriverList();
    const std::wstring package = SeedPackageFolder(L"KAVRO PS Class Driver");
    EXPECT_TRUE(FolderExists(package)) << "no package in the native driver store";
    EXPECT_TRUE(DeviceNodeExists(DEMO_USB_PRINTER.instanceId));
    EXPECT_EQ(RunProgram(seeder, L"remove"), 0u);
    EXPECT_FALSE(FolderExists(package));
    EXPECT_FALSE(DeviceNodeExists(DEMO_USB_PRINTER.instanceId));
    EXPECT_FALSE(FileExists(PcInfFolder() + DEMO_OEM_INF));

    const std::vector<std::wstring> printers = {L"财务部打印机", L"Front Desk Printer",
                                                L"KAVRO LaserJet 1020", L"岚拓彩色激光打印机"};
    const std::vector<std::wstring> drivers = {L"岚拓 KV-2100 PCL6 打印机驱动",
                                               L"KAVRO Universal PCL6", L"KAVRO PS Class Driver"};
    std::vector<std::wstring> printerRows;
    std::vector<std::wstring> driverRows;
    for (const DriverListEntry& row : driverEntries) {
        const bool seeded =
            row.isPrinter ? Contains(printers, row.printerName) : Contains(drivers, row.driverName);
        if (!seeded)
            continue;
        EXPECT_TRUE(row.isPrinter || printerRows.size() == printers.size())
            << Utf8(row.driverName) << " is listed before a printer";
        (row.isPrinter ? printerRows : driverRows)
            .push_back(row.isPrinter ? row.printerName : row.driverName);
        ASSERT_NE(row.driverInfo, nullptr) << Utf8(row.printerName);
        EXPECT_EQ(std::wstring(row.driverInfo->pEnvironment), L"Windows x64");
    }
    std::sort(printerRows.begin(), printerRows.end());
    std::vector<std::wstring> sortedPrinters = printers;
    std::sort(sortedPrinters.begin(), sortedPrinters.end());
    EXPECT_EQ(printerRows, sortedPrinters);
    std::sort(driverRows.begin(), driverRows.end());
    std::vector<std::wstring> sortedDrivers = drivers;
    std::sort(sortedDrivers.begin(), sortedDrivers.end());
    EXPECT_EQ(driverRows, sortedDrivers);
    EXPECT_EQ(CountOf(OperationLogText(), "GetPrinterDriver"), 0) << OperationLogText();
    ResetOperationLog();
}

}  // namespace
