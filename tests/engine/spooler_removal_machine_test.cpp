// Printer and driver removal against Wine's real spooler in the private
// prefix, and what Wine's configuration-manager stubs make of the device
// re-enumeration.
#include <gtest/gtest.h>

#include <string>

#include "engine/queue_purge.h"
#include "engine/spooler_removal.h"
#include "fakes/utf8_operation_log.h"
#include "support/seeded_printers.h"
#include "support/test_support.h"

namespace {

class SpoolerOnWine : public ::testing::Test {
  protected:
    void SetUp() override { ResetOperationLog(); }
    void TearDown() override { ResetOperationLog(); }
};

TEST_F(SpoolerOnWine, DeletePrinterByNameRemovesARealPrinterAndThenFindsItGone) {
    SeededPrinterDriver driver(L"KT Removal Driver A", L"KTRMA.DLL", L"KTRMAUI.DLL", L"KTRMA.GPD",
                               {});
    ASSERT_TRUE(driver.installed());
    SeededPrinter printer(L"KT Removal Printer A", L"KT Removal Driver A");
    ASSERT_TRUE(printer.added());
    ASSERT_TRUE(PrinterExists(L"KT Removal Printer A"));

    EXPECT_TRUE(DeletePrinterByName(L"KT Removal Printer A"));
    EXPECT_FALSE(PrinterExists(L"KT Removal Printer A"));
    EXPECT_EQ(OperationLogText(), "");

    // Now the open fails with 1801: already gone, no line.
    EXPECT_TRUE(DeletePrinterByName(L"KT Removal Printer A"));
    EXPECT_EQ(OperationLogText(), "");
}

// Windows accepts DPD_DELETE_UNUSED_FILES (1) and removes the driver with the
// files no other driver uses. Wine 8 refuses every non-zero deletion flag with
// error 87, so here the removal fails, is logged with Wine's error and leaves
// the driver in place. The flags stay as they are for Windows' sake.
TEST_F(SpoolerOnWine, DeleteDriverFromSpoolerIsRefusedByWineWithError87) {
    SeededPrinterDriver driver(L"KT Removal Driver B", L"KTRMB.DLL", L"KTRMBUI.DLL", L"KTRMB.GPD",
                               {L"KTRMBDEP.DLL"});
    ASSERT_TRUE(driver.installed());
    const DRIVER_INFO_6W* info = driver.Info();
    ASSERT_NE(info, nullptr);

    EXPECT_FALSE(DeleteDriverFromSpooler(*info));
    const std::string log = OperationLogText();
    EXPECT_EQ(log.rfind("DeletePrinterDriverEx failed with error 87: ", 0), 0u) << log;
    EXPECT_NE(driver.Info(), nullptr);
}

// Wine's CM_Locate_DevNodeW is a stub returning CR_FAILURE (0x13): the line
// carries it in lowercase hexadecimal and the re-enumeration is not asked for.
TEST_F(SpoolerOnWine, ReenumerateDeviceTreeLogsWinesStubbedLocateResult) {
    ::SetLastError(ERROR_SUCCESS);
    ReenumerateDeviceTree();
    const std::string log = OperationLogText();
    EXPECT_EQ(log.rfind("CM_Locate_DevNode   failed:   13\n  succeed:  0: ", 0), 0u) << log;
    EXPECT_EQ(CountOf(log, "CM_Reenumerate_DevNode"), 0);
}

// Wine's EnumJobsW is a stub that fails without setting an error and without a
// size. On a real printer the purge therefore reports the size query as
// failed; on Windows an empty queue answers success to that query.
TEST_F(SpoolerOnWine, PurgePrintJobsOfARealPrinterFailsOnWinesEnumJobsStub) {
    SeededPrinterDriver driver(L"KT Removal Driver C", L"KTRMC.DLL", L"KTRMCUI.DLL", L"KTRMC.GPD",
                               {});
    ASSERT_TRUE(driver.installed());
    SeededPrinter printer(L"KT Removal Printer C", L"KT Removal Driver C");
    ASSERT_TRUE(printer.added());

    ScopedWin32Fakes fakes;
    WriteOperationLogAsUtf8();
    EXPECT_FALSE(PurgePrintJobs(L"KT Removal Printer C"));
    const std::string log = OperationLogText();
    EXPECT_EQ(log.rfind(Utf8(L"分配打印任务信息缓存函数失败！     "), 0), 0u) << log;
}

}  // namespace
