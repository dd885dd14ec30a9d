// The driver list built from a spooler in memory: rows, items, counts, the
// hide rule, the failure lines and the lifetime of the driver blocks.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fakes/captured_log.h"
#include "fakes/fake_dialog.h"
#include "fakes/fake_machine.h"
#include "fakes/fake_print_registry.h"
#include "fakes/fake_spooler.h"
#include "shell/driver_list.h"
#include "shell/ui_state.h"
#include "support/test_support.h"

namespace {

using fake_dialog::dialog;
using fake_spooler::spooler;

class DriverList : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_spooler::Install();
        fake_dialog::Install();
    }

    // "P:<printer>/<driver>" or "D:<driver>" for each row, for compact checks.
    static std::vector<std::string> Rows() {
        std::vector<std::string> rows;
        for (const DriverListEntry& row : driverEntries) {
            rows.push_back(row.isPrinter ? "P:" + Utf8(row.printerName) + "/" + Utf8(row.driverName)
                                         : "D:" + Utf8(row.driverName));
        }
        return rows;
    }

    static std::vector<std::string> Items() {
        std::vector<std::string> items;
        for (const std::wstring& item : dialog.items)
            items.push_back(Utf8(item));
        return items;
    }

    ScopedWin32Fakes fakes;
    fake_dialog::ScopedUiState uiState;
    CapturedLog log;
};

TEST_F(DriverList, PrintersThenDriversInSpoolerOrderAtExplicitIndexesInSpiteOfSorting) {
    spooler.printers = {{L"Zeta 打印机", L"Shared PCL"}, {L"Alpha", L"Mono"}};
    spooler.printers[1].printProcessor = L"KAVRO Print Processor";
    spooler.drivers = {L"Zulu Driver", L"Mono", L"Shared PCL", L"Beta Driver"};
    FillDriverList();

    EXPECT_EQ(Items(), (std::vector<std::string>{"Zeta 打印机", "Alpha", "Zulu Driver", "Mono",
                                                 "Shared PCL", "Beta Driver"}));
    EXPECT_EQ(dialog.insertIndexes, (std::vector<WPARAM>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(Rows(),
              (std::vector<std::string>{"P:Zeta 打印机/Shared PCL", "P:Alpha/Mono", "D:Zulu Driver",
                                        "D:Mono", "D:Shared PCL", "D:Beta Driver"}));
    // Each printer's print processor, which keeps it while the printer stays.
    EXPECT_EQ(driverEntries[0].printProcessor, L"winprint");
    EXPECT_EQ(driverEntries[1].printProcessor, L"KAVRO Print Processor");
    for (const DriverListEntry& row : driverEntries) {
        EXPECT_EQ(row.ownerWindow, fake_dialog::kDialog);
        ASSERT_NE(row.driverInfo, nullptr);
        EXPECT_EQ(row.driverName, row.driverInfo->pName);
        if (!row.isPrinter) {
            EXPECT_TRUE(row.printerName.empty());
        }
    }
    EXPECT_EQ(driverUseCounts,
              (std::map<std::wstring, int>{
                  {L"Zulu Driver", 1}, {L"Mono", 2}, {L"Shared PCL", 2}, {L"Beta Driver", 1}}));
    EXPECT_TRUE(log.Lines().empty());
}

// Also a 32-bit process on x64 Windows asks for the x64 drivers, which are
// the ones Windows prints with; every environment's drivers come from "all".
TEST_F(DriverList, AsksTheSpoolerForLocalPrintersAndConnectionsAndOpensWithAllAccess) {
    spooler.printers = {{L"P1", L"D1"}};
    spooler.drivers = {L"D1"};
    FakeNativeMachine(IMAGE_FILE_MACHINE_AMD64, true);
    FillDriverList();

    EXPECT_EQ(spooler.enumPrintersFlags, DWORD{PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS});
    EXPECT_EQ(spooler.enumPrintersName, L"");
    EXPECT_EQ(spooler.enumPrintersLevel, 2u);
    EXPECT_EQ(spooler.openAccess, (std::vector<DWORD>{0x000F000C}));
    EXPECT_TRUE(spooler.openDefaultsEmpty);
    EXPECT_EQ(spooler.getDriverLevels, (std::vector<DWORD>{6, 6}));
    EXPECT_EQ(spooler.enumDriversLevels, (std::vector<DWORD>{6, 6}));
    EXPECT_TRUE(spooler.enumDriversLocal);
    const std::vector<std::wstring> x64Twice{L"Windows x64", L"Windows x64"};
    EXPECT_EQ(spooler.enumDriversEnvironments, (std::vector<std::wstring>{L"all", L"all"}));
    EXPECT_EQ(spooler.getDriverEnvironments, x64Twice);
    EXPECT_EQ(spooler.openHandles, 0);
}

// A 32-bit setup's drivers on 64-bit Windows: listed after Windows' own
// whatever the spooler's order, one row per name, and a printer of one
// carries that record without a log record for the miss.
TEST_F(DriverList, OtherEnvironmentsFollowTheNativeDriversAndServeTheirPrinters) {
    FakeNativeMachine(IMAGE_FILE_MACHINE_I386, false);  // "Windows NT x86" is native
    spooler.printers = {{L"Old Laser", L"Legacy"}};
    spooler.drivers = {L"Native B", L"Twin"};
    spooler.foreignDrivers = {L"Legacy", L"Twin", L"Foreign Only"};
    FillDriverList();

    EXPECT_EQ(Rows(), (std::vector<std::string>{"P:Old Laser/Legacy", "D:Native B", "D:Twin",
                                                "D:Legacy", "D:Foreign Only"}));
    EXPECT_EQ(std::wstring(driverEntries[0].driverInfo->pEnvironment), L"Windows ARM64");
    EXPECT_EQ(std::wstring(driverEntries[2].driverInfo->pEnvironment), L"Windows NT x86");
    EXPECT_EQ(driverUseCounts[L"Legacy"], 2);
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(DriverList, PrinterNamedLikeADriverHidesThatDriverAndCarriesTheDriverTheSpoolerReports) {
    // "Kavro X" is a printer whose own driver is "Other".
    spooler.printers = {{L"Kavro X", L"Other"}};
    spooler.drivers = {L"Kavro X", L"Other"};
    FillDriverList();

    EXPECT_EQ(Rows(), (std::vector<std::string>{"P:Kavro X/Other", "D:Other"}));
    EXPECT_EQ(driverUseCounts, (std::map<std::wstring, int>{{L"Other", 2}}));
    EXPECT_EQ(std::wstring(driverEntries[0].driverInfo->pName), L"Other");
}

TEST_F(DriverList, NamesDifferingOnlyInLetterCaseAreDifferent) {
    spooler.printers = {{L"kavro x", L"kavro x"}};
    spooler.drivers = {L"kavro x", L"Kavro X"};
    FillDriverList();

    EXPECT_EQ(Rows(), (std::vector<std::string>{"P:kavro x/kavro x", "D:Kavro X"}));
    EXPECT_EQ(driverUseCounts, (std::map<std::wstring, int>{{L"kavro x", 1}, {L"Kavro X", 1}}));
}

TEST_F(DriverList, SharedDriverCountsTwoWithoutItsOwnRowAndThreeWithIt) {
    spooler.printers = {{L"Hidden", L"Hidden"}, {L"Second", L"Hidden"}};
    spooler.drivers = {L"Hidden"};
    FillDriverList();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"P:Hidden/Hidden", "P:Second/Hidden"}));
    EXPECT_EQ(driverUseCounts[L"Hidden"], 2);

    spooler.printers = {{L"First", L"Shared"}, {L"Second", L"Shared"}};
    spooler.drivers = {L"Shared"};
    FillDriverList();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"P:First/Shared", "P:Second/Shared", "D:Shared"}));
    EXPECT_EQ(driverUseCounts, (std::map<std::wstring, int>{{L"Shared", 3}}));
}

TEST_F(DriverList, NoPrintersAndNoDriversLeaveEverythingEmptyButStillSetTheTitle) {
    FillDriverList();
    EXPECT_TRUE(dialog.items.empty());
    EXPECT_TRUE(driverEntries.empty());
    EXPECT_TRUE(driverUseCounts.empty());
    ASSERT_EQ(dialog.titles.size(), 1u);
    EXPECT_EQ(dialog.titles[0].first, fake_dialog::kDialog);
    EXPECT_EQ(dialog.titles[0].second, L"岚拓打印机驱动卸载程序");
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(DriverList, RefillStartsEmptyAndDropsWhatIsGone) {
    spooler.printers = {{L"Gone", L"Old Driver"}, {L"Stays", L"Kept"}};
    spooler.drivers = {L"Old Driver", L"Kept"};
    FillDriverList();
    ASSERT_EQ(driverEntries.size(), 4u);

    spooler.printers = {{L"Stays", L"Kept"}};
    spooler.drivers = {L"Kept"};
    FillDriverList();
    EXPECT_EQ(dialog.resets, 2);
    EXPECT_EQ(Items(), (std::vector<std::string>{"Stays", "Kept"}));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"P:Stays/Kept", "D:Kept"}));
    EXPECT_EQ(driverUseCounts, (std::map<std::wstring, int>{{L"Kept", 2}}));
    EXPECT_EQ(dialog.titles.size(), 2u);
}

TEST_F(DriverList, PrinterThatCannotBeOpenedKeepsItsRowWithoutBlockAndCountsTheEnumeratedDriver) {
    spooler.printers = {{L"Locked", L"Shared", ERROR_ACCESS_DENIED}, {L"Open", L"Shared"}};
    spooler.drivers = {L"Shared"};
    FillDriverList();

    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"OpenPrinter failed with error 5",
                                                     "获取打印机驱动信息失败"}));
    EXPECT_EQ(Rows(), (std::vector<std::string>{"P:Locked/Shared", "P:Open/Shared", "D:Shared"}));
    EXPECT_EQ(driverEntries[0].driverInfo, nullptr);
    EXPECT_NE(driverEntries[1].driverInfo, nullptr);
    // The driver's own row must see that two printers use it, or removing it
    // would take the files from under the printer that could not be read.
    EXPECT_EQ(driverUseCounts[L"Shared"], 3);
}

TEST_F(DriverList, PrinterWhoseDriverCannotBeReadLogsAndClosesItsHandle) {
    spooler.printers = {{L"Broken", L"Missing Driver", 0, ERROR_UNKNOWN_PRINTER_DRIVER}};
    FillDriverList();

    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"GetPrinterDriver failed with error 1797"}));
    ASSERT_EQ(driverEntries.size(), 1u);
    EXPECT_EQ(driverEntries[0].driverInfo, nullptr);
    EXPECT_EQ(driverEntries[0].driverName, L"Missing Driver");
    EXPECT_EQ(driverUseCounts, (std::map<std::wstring, int>{{L"Missing Driver", 1}}));
    EXPECT_EQ(spooler.openHandles, 0);
}

TEST_F(DriverList, FailedLookupLeavesTheCallersBlockUnchanged) {
    spooler.printers = {{L"Broken", L"X", 0, ERROR_UNKNOWN_PRINTER_DRIVER}};
    auto previous = std::make_shared<const DRIVER_INFO_6W>();
    std::shared_ptr<const DRIVER_INFO_6W> block = previous;
    EXPECT_FALSE(GetDriverInfoOfPrinter(L"Broken", block));
    EXPECT_EQ(block, previous);
    EXPECT_FALSE(GetDriverInfoOfPrinter(L"No Such Printer", block));
    EXPECT_EQ(block, previous);
}

TEST_F(DriverList, PrintersThatCannotBeEnumeratedLeaveTheDriversListedUnhidden) {
    spooler.enumPrintersError = RPC_S_SERVER_UNAVAILABLE;
    spooler.printers = {{L"Kavro", L"Kavro"}};
    spooler.drivers = {L"Kavro", L"Other"};
    FillDriverList();

    EXPECT_EQ(Rows(), (std::vector<std::string>{"D:Kavro", "D:Other"}));
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_EQ(dialog.titles.size(), 1u);
}

// No spooler answers: the dialog lists the spooler's registry, by the same
// rules (the printer named like its driver hides that driver's row).
TEST_F(DriverList, SpoolerThatDoesNotAnswerIsListedFromItsRegistry) {
    spooler.enumPrintersError = RPC_S_SERVER_UNAVAILABLE;
    spooler.enumDriversFirstError = RPC_S_SERVER_UNAVAILABLE;
    FakePrintRegistry registry;
    registry.AddDriver(L"Windows NT x86", L"Kavro", {L"kv.dll"}, {});
    registry.AddDriver(L"Windows NT x86", L"Other", {L"ot.dll"}, {});
    registry.AddPrinter(L"Kavro", L"Kavro", L"KAVRO Print Processor");
    FillDriverList();
    EXPECT_EQ(Rows(), (std::vector<std::string>{"P:Kavro/Kavro", "D:Other"}));
    EXPECT_EQ(driverEntries[0].printProcessor, L"KAVRO Print Processor");
    ASSERT_NE(driverEntries[0].driverInfo, nullptr);
    EXPECT_EQ(driverUseCounts, (std::map<std::wstring, int>{{L"Kavro", 1}, {L"Other", 1}}));
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(DriverList, DriversThatCannotBeSizedAreSkippedSilently) {
    spooler.enumDriversFirstError = ERROR_ACCESS_DENIED;
    spooler.printers = {{L"P", L"D"}};
    spooler.drivers = {L"D", L"E"};
    FillDriverList();

    EXPECT_EQ(Rows(), (std::vector<std::string>{"P:P/D"}));
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(DriverList, DriversThatCannotBeFetchedAreLoggedAndSkipped) {
    spooler.enumDriversSecondError = RPC_S_SERVER_UNAVAILABLE;
    spooler.printers = {{L"P", L"D"}};
    spooler.drivers = {L"D", L"E"};
    FillDriverList();

    EXPECT_EQ(Rows(), (std::vector<std::string>{"P:P/D"}));
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"EnumPrinterDrivers failed with error 1722"}));
    DWORD size = 7;
    std::shared_ptr<const DRIVER_INFO_6W> blocks;
    EXPECT_EQ(EnumerateInstalledDrivers(size, blocks), -1);
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(blocks, nullptr);
}

TEST_F(DriverList, InstalledDriversComeInOneBufferWithTheReportedSize) {
    spooler.drivers = {L"A", L"B"};
    DWORD size = 0;
    std::shared_ptr<const DRIVER_INFO_6W> blocks;
    ASSERT_EQ(EnumerateInstalledDrivers(size, blocks), 2);
    EXPECT_EQ(size, 2 * sizeof(DRIVER_INFO_6W) + 2 * (2 + 15) * sizeof(wchar_t));
    EXPECT_EQ(std::wstring(blocks.get()[0].pName), L"A");
    EXPECT_EQ(std::wstring(blocks.get()[1].pName), L"B");
    EXPECT_EQ(reinterpret_cast<uintptr_t>(blocks.get()) % alignof(DRIVER_INFO_6W), 0u);
}

TEST_F(DriverList, BlocksLiveWhileACopiedRowRefersToThemAndAreFreedAfter) {
    spooler.printers = {{L"P", L"PD"}};
    spooler.drivers = {L"PD", L"Other"};
    FillDriverList();
    ASSERT_EQ(driverEntries.size(), 3u);
    const DriverListEntry printerCopy = driverEntries[0];
    const DriverListEntry driverCopy = driverEntries[2];
    std::weak_ptr<const DRIVER_INFO_6W> printerBlock = driverEntries[0].driverInfo;
    std::weak_ptr<const DRIVER_INFO_6W> driverBlocks = driverEntries[1].driverInfo;

    spooler.printers.clear();
    spooler.drivers.clear();
    FillDriverList();
    ASSERT_TRUE(driverEntries.empty());
    EXPECT_EQ(std::wstring(printerCopy.driverInfo->pName), L"PD");
    EXPECT_EQ(std::wstring(driverCopy.driverInfo->pName), L"Other");
    EXPECT_FALSE(printerBlock.expired());
    // The copy of row 2 keeps the whole array of the fill alive, row 1's block included.
    EXPECT_FALSE(driverBlocks.expired());
    EXPECT_EQ(std::wstring(driverBlocks.lock()->pName), L"PD");
}

TEST_F(DriverList, RefillReleasesTheBlocksOfTheEarlierFill) {
    spooler.printers = {{L"P", L"PD"}};
    spooler.drivers = {L"PD", L"Other"};
    FillDriverList();
    std::weak_ptr<const DRIVER_INFO_6W> printerBlock = driverEntries[0].driverInfo;
    std::weak_ptr<const DRIVER_INFO_6W> driverBlocks = driverEntries[1].driverInfo;
    FillDriverList();
    EXPECT_TRUE(printerBlock.expired());
    EXPECT_TRUE(driverBlocks.expired());
}

}  // namespace
