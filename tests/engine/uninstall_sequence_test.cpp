// The removal sequence on a fake machine: its order, its loops over the rows,
// its pauses, and where each failure stops it.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "engine/removal_3_apply.h"
#include "engine/service_control.h"
#include "engine/uninstall_sequence.h"
#include "fakes/fake_machine.h"
#include "fakes/fake_print_registry.h"
#include "fakes/utf8_operation_log.h"
#include "support/test_support.h"

namespace {

// A driver information block and the strings it points into.
struct DriverBlock {
    std::wstring name, environment, dependentFiles, dataFile, driverPath;
    DRIVER_INFO_6W info{};
};

std::shared_ptr<const DRIVER_INFO_6W> MakeDriver(const std::wstring& name,
                                                 const std::wstring& driversFolder,
                                                 const std::wstring& filePrefix) {
    auto block = std::make_shared<DriverBlock>();
    block->name = name;
    block->environment = L"Windows NT x86";
    const std::wstring folder = driversFolder + L"w32x86\\3\\";
    block->dependentFiles = folder + filePrefix + L".DLL" + L'\0' + folder + filePrefix +
                            L"UI.DLL" + L'\0' + folder + L"UNIDRV.DLL" + L'\0' + L'\0';
    block->dataFile = folder + filePrefix + L".GPD";
    block->driverPath = folder + filePrefix + L"DRV.DLL";
    block->info.pDriverPath = block->driverPath.data();
    block->info.pName = block->name.data();
    block->info.pEnvironment = block->environment.data();
    block->info.cVersion = 3;
    block->info.pDependentFiles = block->dependentFiles.data();
    block->info.pDataFile = block->dataFile.data();
    return std::shared_ptr<const DRIVER_INFO_6W>(block, &block->info);
}

DriverListEntry PrinterRow(const std::wstring& printer,
                           std::shared_ptr<const DRIVER_INFO_6W> driver) {
    DriverListEntry row{};
    row.printerName = printer;
    row.isPrinter = true;
    row.driverInfo = driver;
    if (driver)
        row.driverName = driver->pName;
    return row;
}

DriverListEntry DriverRow(std::shared_ptr<const DRIVER_INFO_6W> driver) {
    DriverListEntry row{};
    row.isPrinter = false;
    row.driverName = driver->pName;
    row.driverInfo = std::move(driver);
    return row;
}

class UninstallSequence : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetOperationLog();
        WriteOperationLogAsUtf8();
        machine = &InstallFakeMachine(windows);
        machine->printers = {L"Office KX", L"KAVRO X1"};
        machine->jobs[L"KAVRO X1"] = {7, 8};
        Seed(L"System32\\spool\\PRINTERS\\00007.SHD");
        Seed(L"System32\\spool\\PRINTERS\\00007.SPL");
        Seed(L"System32\\spool\\drivers\\w32x86\\3\\KX.DLL");
        Seed(L"System32\\spool\\drivers\\w32x86\\3\\KXUI.DLL");
        Seed(L"System32\\spool\\drivers\\w32x86\\3\\KX.GPD");
        Seed(L"System32\\spool\\drivers\\w32x86\\3\\UNIDRV.DLL");
        Seed(L"inf\\oem5.inf", "[Strings]\r\nModel=\"kavro x1\"\r\n");
        Seed(L"inf\\oem6.inf", "[Strings]\r\nModel=\"Other\"\r\n");
        Seed(L"System32\\DriverStore\\FileRepository\\kx.inf_x86_1\\kx.inf", "KAVRO X1");
        Seed(L"System32\\DriverStore\\FileRepository\\kx.inf_x86_1\\sub\\kx.dll", "MZ");
        Seed(L"System32\\DriverStore\\FileRepository\\other.inf_x86_2\\other.inf", "Other");
        driver = MakeDriver(L"KAVRO X1", windows + L"System32\\spool\\drivers\\", L"KX");
        // The driver's printer by USB and by WSD, and another package's.
        machine->devices = {{kUsbPrinter, L"Printer", L"KAVRO X1", L"oem5.inf"},
                            {kWsdPrinter, L"Printer", L"KAVRO X1 (WSD)", L"OEM5.INF"},
                            {L"USBPRINT\\OTHER\\1", L"Printer", L"Other", L"oem6.inf"}};
    }
    static constexpr wchar_t kUsbPrinter[] = L"USBPRINT\\KAVROX1\\7&1A2B&0&USB001";
    static constexpr wchar_t kWsdPrinter[] = L"WSDPRINT\\KAVROX1\\UUID:5E1D";
    void TearDown() override { ResetOperationLog(); }

    void Seed(const std::wstring& relative, const std::string& bytes = "x") {
        WriteBytes(windows + relative, bytes);
    }
    bool Exists(const std::wstring& relative) const { return FileExists(windows + relative); }

    ScratchFolder scratch;
    const std::wstring windows = scratch.path() + L"win\\";
    ScopedWin32Fakes fakes;
    FakeMachineState* machine = nullptr;
    std::shared_ptr<const DRIVER_INFO_6W> driver;
};

// The calls that show the sequence's shape; service polling and its short
// waits are left out, and the polls of a watch after a start are added up
// ("Watch(1000)").
std::vector<std::string> Milestones() {
    std::vector<std::string> result;
    DWORD watched = 0;
    for (const std::string& call : CallsNamed(
             {"ControlService", "StartService", "Sleep", "EnumJobs", "SetJob", "DeleteFile",
              "SetupUninstallOEMInf", "DeletePrinter", "DeletePrinterDriverEx", "DeleteMonitor",
              "DeletePrintProcessor", "CM_Locate_DevNode", "CM_Reenumerate_DevNode"})) {
        const bool watch = call == "Sleep(" + std::to_string(SPOOLER_WATCH_POLL_MS) + ")";
        if (!watch && watched > 0) {
            result.push_back("Watch(" + std::to_string(watched) + ")");
            watched = 0;
        }
        if (watch)
            watched += SPOOLER_WATCH_POLL_MS;
        if (CallName(call) == "Sleep" && call != "Sleep(1000)" && call != "Sleep(2000)")
            continue;
        if (CallName(call) == "DeleteFile") {
            result.push_back("DeleteFile(" + call.substr(call.rfind('\\') + 1));
            continue;
        }
        result.push_back(call);
    }
    return result;
}

TEST_F(UninstallSequence, EmptyListRestartsStopsPurgesStartsAndReenumerates) {
    EXPECT_TRUE(RunUninstallSequence({}));
    EXPECT_EQ(Milestones(), (std::vector<std::string>{
                                "ControlService(1)", "Sleep(2000)", "StartService()", "Watch(1000)",
                                "ControlService(1)", "Sleep(1000)", "DeleteFile(00007.SHD)",
                                "DeleteFile(00007.SPL)", "StartService()", "Sleep(1000)",
                                "CM_Locate_DevNode()", "CM_Reenumerate_DevNode(4)"}));
    EXPECT_TRUE(Exists(L"System32\\spool\\drivers\\w32x86\\3\\KX.DLL"));
    EXPECT_EQ(OperationLogText(), "");
}

TEST_F(UninstallSequence, PrinterOnlyRowDeletesThePrinterAndTouchesNoDriver) {
    EXPECT_TRUE(RunUninstallSequence({PrinterRow(L"Office KX", nullptr)}));
    EXPECT_EQ(CallsNamed({"EnumJobs", "SetJob", "SetupUninstallOEMInf", "DeletePrinterDriverEx"}),
              std::vector<std::string>{});
    EXPECT_TRUE(FakeSecurity().owned.empty());
    EXPECT_EQ(CallsNamed({"DeletePrinter"}), std::vector<std::string>{"DeletePrinter(Office KX)"});
    EXPECT_TRUE(Exists(L"System32\\spool\\drivers\\w32x86\\3\\KX.DLL"));
    EXPECT_FALSE(machine->printers.count(L"Office KX"));
}

TEST_F(UninstallSequence, DriverOnlyRowRunsEveryDriverStepAndDeletesNoPrinter) {
    EXPECT_TRUE(RunUninstallSequence({DriverRow(driver)}));
    EXPECT_EQ(CallsNamed({"SetJob"}), std::vector<std::string>{"SetJob(7)"});
    EXPECT_EQ(CallsNamed({"DeletePrinter"}), std::vector<std::string>{});
    EXPECT_EQ(CallsNamed({"SetupUninstallOEMInf"}),
              std::vector<std::string>{"SetupUninstallOEMInf(oem5.inf,1)"});
    EXPECT_EQ(CallsNamed({"DeletePrinterDriverEx"}),
              std::vector<std::string>{"DeletePrinterDriverEx(Windows NT x86,KAVRO X1,1,3)"});
    // The package, its INF, its sub-folder and the file in it.
    ASSERT_EQ(FakeSecurity().owned.size(), 4u);
    EXPECT_EQ(FakeSecurity().owned[0],
              windows + L"System32\\DriverStore\\FileRepository\\kx.inf_x86_1");
    EXPECT_FALSE(Exists(L"System32\\spool\\drivers\\w32x86\\3\\KX.DLL"));
    EXPECT_FALSE(Exists(L"System32\\spool\\drivers\\w32x86\\3\\KXUI.DLL"));
    EXPECT_FALSE(Exists(L"System32\\spool\\drivers\\w32x86\\3\\KX.GPD"));
    EXPECT_TRUE(Exists(L"System32\\spool\\drivers\\w32x86\\3\\UNIDRV.DLL"));
    EXPECT_FALSE(FolderExists(windows + L"System32\\DriverStore\\FileRepository\\kx.inf_x86_1"));
    EXPECT_TRUE(Exists(L"System32\\DriverStore\\FileRepository\\other.inf_x86_2\\other.inf"));
    EXPECT_EQ(OperationLogText(), "");
}

// A spooler that the driver crashes at every start: the removal goes on
// through its registry, and takes the driver module that only the spooler
// would have deleted. The registry is never changed while the spooler runs,
// and a spooler that is merely slow is no spooler that cannot run.
TEST_F(UninstallSequence, SpoolerThatCannotRunIsBypassedThroughItsRegistryNeverWhileItRuns) {
    FakePrintRegistry registry;
    const std::wstring driverKey = L"Environments\\Windows NT x86\\Drivers\\Version-3\\KAVRO X1";
    auto seedRegistry = [&] {
        registry.AddDriver(L"Windows NT x86", L"KAVRO X1", {L"KXDRV.DLL"}, {L"KX.DLL"});
        registry.AddPrinter(L"Office KX", L"KAVRO X1");
    };
    seedRegistry();
    Seed(L"System32\\spool\\drivers\\w32x86\\3\\KXDRV.DLL");
    machine->spoolerCrashes = [&] { return registry.Exists(driverKey); };
    std::vector<StepOutcome> outcomes;
    EXPECT_TRUE(RunUninstallSequence({PrinterRow(L"Office KX", driver)}, &outcomes))
        << OperationLogText();
    std::vector<std::string> steps;
    for (const StepOutcome& outcome : outcomes)
        steps.push_back(Utf8(StepName(outcome.step)) + (outcome.succeeded ? "" : " failed"));
    EXPECT_EQ(steps,
              (std::vector<std::string>{"RestartSpooler failed", "StopSpooler", "RemoveDevices",
                                        "RemoveDevices", "PurgeSpoolFiles", "DeletePrinterKey",
                                        "DeleteDriverKey", "DeleteDriverFiles", "UninstallOemInfs",
                                        "PurgeDriverStore", "StartSpooler", "ReenumerateDevices"}));
    EXPECT_EQ(outcomes[0].error, DWORD{ERROR_PROCESS_ABORTED});
    EXPECT_FALSE(registry.Exists(driverKey));
    EXPECT_FALSE(registry.Exists(L"Printers\\Office KX"));
    EXPECT_FALSE(Exists(L"System32\\spool\\drivers\\w32x86\\3\\KXDRV.DLL"));
    EXPECT_FALSE(Exists(L"System32\\spool\\drivers\\w32x86\\3\\KX.DLL"));
    EXPECT_TRUE(Exists(L"System32\\spool\\drivers\\w32x86\\3\\UNIDRV.DLL"));
    EXPECT_FALSE(FolderExists(windows + L"System32\\DriverStore\\FileRepository\\kx.inf_x86_1"));
    EXPECT_EQ(CallsNamed({"EnumJobs", "DeletePrinter", "DeletePrinterDriverEx"}),
              std::vector<std::string>{})
        << "nothing asked of a spooler that cannot run";
    EXPECT_EQ(machine->spoolerState, DWORD{SERVICE_RUNNING});

    // Started by someone else while the removal paused: nothing is changed.
    seedRegistry();
    machine->onSleep = [&](DWORD pause) {
        if (pause == 1000 && machine->spoolerState == SERVICE_STOPPED)
            machine->spoolerState = SERVICE_RUNNING;
    };
    EXPECT_FALSE(RunUninstallSequence({PrinterRow(L"Office KX", driver)}));
    EXPECT_TRUE(registry.Exists(driverKey));
    EXPECT_TRUE(registry.Exists(L"Printers\\Office KX"));
    EXPECT_NE(OperationLogText().find("打印后台处理程序正在运行，未修改注册表"), std::string::npos);

    // Pending to the bound: a plain failure, the registry untouched.
    machine->onSleep = nullptr;
    machine->spoolerCrashes = nullptr;
    machine->spoolerStateAfterStart = SERVICE_START_PENDING;
    EXPECT_FALSE(RunUninstallSequence({PrinterRow(L"Office KX", driver)}));
    EXPECT_TRUE(registry.Exists(driverKey));
    EXPECT_TRUE(registry.Exists(L"Printers\\Office KX"));
}

// Index of the first milestone equal to `call`, or -1.
int IndexOf(const std::vector<std::string>& calls, const std::string& call, int from = 0) {
    for (size_t i = static_cast<size_t>(from); i < calls.size(); ++i) {
        if (calls[i] == call)
            return static_cast<int>(i);
    }
    return -1;
}

TEST_F(UninstallSequence, TwoRowsFinishEachLoopBeforeTheNextStep) {
    Seed(L"System32\\spool\\drivers\\w32x86\\3\\QY.DLL");
    auto second = MakeDriver(L"Office KX", windows + L"System32\\spool\\drivers\\", L"QY");
    machine->jobs[L"Office KX"] = {9};
    EXPECT_TRUE(
        RunUninstallSequence({PrinterRow(L"KAVRO X1", driver), PrinterRow(L"Office KX", second)}));

    const std::vector<std::string> calls = Milestones();
    const int secondStop =
        IndexOf(calls, "ControlService(1)", IndexOf(calls, "ControlService(1)") + 1);
    const int lastStart = IndexOf(calls, "StartService()", secondStop);
    ASSERT_GT(secondStop, 0);
    ASSERT_GT(lastStart, secondStop);
    // Both job purges while the spooler runs, before it is stopped.
    EXPECT_LT(IndexOf(calls, "SetJob(7)"), secondStop);
    EXPECT_LT(IndexOf(calls, "SetJob(9)"), secondStop);
    // Every file of both drivers in the one stopped period.
    for (const char* file : {"DeleteFile(KX.DLL)", "DeleteFile(QY.DLL)"}) {
        EXPECT_GT(IndexOf(calls, file), secondStop) << file;
        EXPECT_LT(IndexOf(calls, file), lastStart) << file;
    }
    // Both printers before the first driver.
    const int firstDriver = IndexOf(calls, "DeletePrinterDriverEx(Windows NT x86,KAVRO X1,1,3)");
    EXPECT_LT(IndexOf(calls, "DeletePrinter(KAVRO X1)"), firstDriver);
    EXPECT_LT(IndexOf(calls, "DeletePrinter(Office KX)"), firstDriver);
    EXPECT_LT(firstDriver, IndexOf(calls, "DeletePrinterDriverEx(Windows NT x86,Office KX,1,3)"));
}

struct StepFailure {
    const char* step;
    std::string call;  // the call made to fail
    int fromCall;
    DWORD error;
    std::vector<std::string> logTail;  // texts of the last records, in order
    std::string lastMilestone;         // nothing shaped like a step follows it
};

void PrintTo(const StepFailure& failure, std::ostream* out) {
    *out << failure.step;
}

class UninstallSequenceFailure : public UninstallSequence,
                                 public ::testing::WithParamInterface<StepFailure> {};

// Texts of the log's records, without their timestamps.
std::vector<std::string> LogRecords() {
    std::vector<std::string> records;
    const std::string log = OperationLogText();
    size_t start = 0;
    while (start < log.size()) {
        const size_t end = log.find('\0', start);
        std::string record = log.substr(start, end - start);
        record = record.substr(0, record.find("     "));
        const size_t failed = record.find(" failed with error ");
        records.push_back(failed == std::string::npos ? record : record.substr(0, failed + 19));
        start = end + 1;
    }
    return records;
}

TEST_P(UninstallSequenceFailure, StopsAtTheFailedStepWithItsLogLines) {
    const StepFailure& failure = GetParam();
    FailCalls(failure.call, failure.fromCall, failure.error);
    std::vector<StepOutcome> outcomes;
    EXPECT_FALSE(RunUninstallSequence({PrinterRow(L"KAVRO X1", driver)}, &outcomes));

    // The report's last step is the failed one, with the call and its error.
    ASSERT_FALSE(outcomes.empty());
    EXPECT_FALSE(outcomes.back().succeeded);
    EXPECT_EQ(Utf8(outcomes.back().failedCall), failure.call);
    EXPECT_EQ(outcomes.back().error, failure.error);
    for (size_t i = 0; i + 1 < outcomes.size(); ++i)
        EXPECT_TRUE(outcomes[i].succeeded) << Utf8(StepName(outcomes[i].step));

    const std::vector<std::string> records = LogRecords();
    ASSERT_GE(records.size(), failure.logTail.size());
    EXPECT_EQ(std::vector<std::string>(records.end() - failure.logTail.size(), records.end()),
              failure.logTail);
    const std::vector<std::string> calls = Milestones();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), failure.lastMilestone);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep,
    UninstallSequenceFailure,
    ::testing::Values(StepFailure{"RestartStop",
                                  "ControlService",
                                  1,
                                  ERROR_ACCESS_DENIED,
                                  {"ControlService failed with error ", "关闭服务失败"},
                                  "ControlService(1)"},
                      StepFailure{"RestartStart",
                                  "StartService",
                                  1,
                                  ERROR_SERVICE_DISABLED,
                                  {"StartService failed with error ", "开启服务失败"},
                                  "StartService()"},
                      StepFailure{"PurgeJobs",
                                  "SetJob",
                                  1,
                                  ERROR_ACCESS_DENIED,
                                  {"SetJob failed with error ", "删除打印作业失败"},
                                  "SetJob(7)"},
                      StepFailure{"Stop",
                                  "ControlService",
                                  2,
                                  ERROR_SERVICE_CANNOT_ACCEPT_CTRL,
                                  {"ControlService failed with error ", "关闭服务失败"},
                                  "ControlService(1)"},
                      StepFailure{"Start",
                                  "StartService",
                                  2,
                                  ERROR_SERVICE_DISABLED,
                                  {"StartService failed with error ", "开启服务失败"},
                                  "StartService()"},
                      StepFailure{"DeletePrinter",
                                  "DeletePrinter",
                                  1,
                                  ERROR_ACCESS_DENIED,
                                  {"DeletePrinter failed with error "},
                                  "DeletePrinter(KAVRO X1)"},
                      StepFailure{"DeleteDriver",
                                  "DeletePrinterDriverEx",
                                  1,
                                  ERROR_PRINTER_DRIVER_IN_USE,
                                  {"DeletePrinterDriverEx failed with error "},
                                  "DeletePrinterDriverEx(Windows NT x86,KAVRO X1,1,3)"}),
    [](const ::testing::TestParamInfo<StepFailure>& info) { return std::string(info.param.step); });

TEST_F(UninstallSequence, SpoolFileThatCannotBeDeletedStopsBeforeTheDriverFiles) {
    FailCalls("DeleteFile", 2, ERROR_SHARING_VIOLATION);  // the .SPL file
    EXPECT_FALSE(RunUninstallSequence({PrinterRow(L"KAVRO X1", driver)}));
    const std::vector<std::string> records = LogRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].substr(0, 10), "DeleteFile");
    EXPECT_NE(records[0].find("00007.SPL failed with error "), std::string::npos) << records[0];
    EXPECT_TRUE(Exists(L"System32\\spool\\drivers\\w32x86\\3\\KX.DLL"));
    // The spooler stays stopped on this path.
    EXPECT_EQ(machine->spoolerState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(CallsNamed({"StartService"}).size(), 1u);
}

// The steps run, "<step> <subject>", with " failed" or " restart" after it.
std::vector<std::string> StepsRun(const std::vector<StepOutcome>& outcomes) {
    std::vector<std::string> steps;
    for (const StepOutcome& outcome : outcomes) {
        steps.push_back(Utf8(StepName(outcome.step)) + " " + Utf8(outcome.subject) +
                        (outcome.succeeded ? "" : " failed") +
                        (outcome.restartNeeded ? " restart" : ""));
    }
    return steps;
}

// The driver's devices go while the spooler runs, before it is stopped for
// the files and the packages; another package's device stays. A removal that
// Windows finishes at the restart says so.
TEST_F(UninstallSequence, DevicesOfTheRemovedPackageGoWhileTheSpoolerRunsBeforeThePackage) {
    machine->devices[1].flagsAfterRemoval = DI_NEEDREBOOT;
    std::vector<StepOutcome> outcomes;
    EXPECT_TRUE(RunUninstallSequence({DriverRow(driver)}, &outcomes));
    const std::vector<std::string> steps = StepsRun(outcomes);
    ASSERT_GE(steps.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(steps.begin() + 1, steps.begin() + 5),
              (std::vector<std::string>{
                  "PurgePrintJobs KAVRO X1", "RemoveDevices " + Utf8(kUsbPrinter),
                  "RemoveDevices " + Utf8(kWsdPrinter) + " restart", "StopSpooler Spooler"}));
    EXPECT_EQ(CallsNamed({"SetupDiCallClassInstaller", "SetupUninstallOEMInf"}),
              (std::vector<std::string>{"SetupDiCallClassInstaller(" + Utf8(kUsbPrinter) + ")",
                                        "SetupDiCallClassInstaller(" + Utf8(kWsdPrinter) + ")",
                                        "SetupUninstallOEMInf(oem5.inf,1)"}));
    EXPECT_FALSE(machine->devices[2].removed);
    EXPECT_EQ(machine->openDeviceSets, 0);
    EXPECT_EQ(OperationLogText(), "");
}

// Windows refuses a 32-bit process on 64-bit Windows: the refusal is logged
// with the device, ends the run before the spooler is stopped, and no package
// goes. A device gone meanwhile is no failure.
TEST_F(UninstallSequence, RefusedDeviceRemovalIsLoggedAndEndsTheRunBeforeThePackages) {
    machine->devices[0].removed = true;
    FailCalls("SetupDiCallClassInstaller", 1, ERROR_IN_WOW64);
    std::vector<StepOutcome> outcomes;
    EXPECT_FALSE(RunUninstallSequence({DriverRow(driver)}, &outcomes));
    ASSERT_FALSE(outcomes.empty());
    EXPECT_EQ(StepsRun(outcomes).back(), "RemoveDevices " + Utf8(kWsdPrinter) + " failed");
    EXPECT_EQ(outcomes.back().failedCall, L"SetupDiCallClassInstaller" + std::wstring(kWsdPrinter));
    EXPECT_EQ(outcomes.back().error, DWORD{ERROR_IN_WOW64});
    EXPECT_EQ(LogRecords(), std::vector<std::string>{"SetupDiCallClassInstaller" +
                                                     Utf8(kWsdPrinter) + " failed with error "});
    EXPECT_EQ(CallsNamed({"SetupUninstallOEMInf"}), std::vector<std::string>{});
    EXPECT_EQ(machine->spoolerState, DWORD{SERVICE_RUNNING});
    EXPECT_EQ(machine->openDeviceSets, 0);
}

// What remains of a driver takes its devices first, before the packages.
TEST_F(UninstallSequence, LeftoversTakeTheirDevicesBeforeTheirPackages) {
    DriverInventory inventory;
    for (const FakeDevice& device : machine->devices)
        inventory.devices.push_back({device.instanceId, L"Printer", L"", device.infPath, L""});
    const RemovalPlan plan = PlanLeftoverRemoval(L"KAVRO X1", inventory);
    std::vector<StepOutcome> outcomes;
    EXPECT_TRUE(RunLeftoverRemoval(plan, &outcomes));
    EXPECT_EQ(StepsRun(outcomes),
              (std::vector<std::string>{"RemoveDevices " + Utf8(kUsbPrinter),
                                        "RemoveDevices " + Utf8(kWsdPrinter),
                                        "UninstallOemInfs KAVRO X1", "PurgeDriverStore KAVRO X1"}));
    EXPECT_FALSE(machine->devices[2].removed);
}

// A set in one run: two drivers that share a package and the leftovers of a
// third, with one restart, stop and start of the spooler, one purge and one
// re-enumeration for all; what two plans share goes once; a refused plan
// changes nothing.
TEST_F(UninstallSequence, SetRunsOneSpoolerCycleAndTakesWhatPlansShareOnce) {
    Seed(L"System32\\spool\\drivers\\w32x86\\3\\KY.DLL");
    Seed(L"inf\\oem7.inf", "[Strings]\r\nModel=\"KAVRO X3\"\r\n");
    machine->devices.push_back({L"USBPRINT\\KAVROX3\\1", L"Printer", L"KAVRO X3", L"oem7.inf"});
    DriverInventory inventory;
    for (const FakeDevice& device : machine->devices)
        inventory.devices.push_back({device.instanceId, L"Printer", L"", device.infPath, L""});
    const auto second = MakeDriver(L"KAVRO X2", windows + L"System32\\spool\\drivers\\", L"KY");
    const RemovalPlan first =
        PlanRowRemoval(DriverRow(driver), {driver, second}, inventory.devices);
    RemovalPlan other = PlanRowRemoval(DriverRow(second), {driver, second});
    other.packages = first.packages;  // both models of one package
    other.devices = first.devices;
    const RemovalPlan leftovers = PlanLeftoverRemoval(L"KAVRO X3", inventory);
    RemovalPlan refused;
    refused.driver = L"KAVRO X9";
    refused.printersUsingDriver = {L"Office KX"};

    std::vector<StepOutcome> outcomes;
    EXPECT_TRUE(RunRemovalSet({first, refused, other, leftovers}, &outcomes)) << OperationLogText();
    EXPECT_EQ(StepsRun(outcomes), (std::vector<std::string>{"RestartSpooler Spooler",
                                                            "PurgePrintJobs KAVRO X1",
                                                            "PurgePrintJobs KAVRO X2",
                                                            "RemoveDevices " + Utf8(kUsbPrinter),
                                                            "RemoveDevices " + Utf8(kWsdPrinter),
                                                            "RemoveDevices USBPRINT\\KAVROX3\\1",
                                                            "StopSpooler Spooler",
                                                            "PurgeSpoolFiles ",
                                                            "DeleteDriverFiles KAVRO X1",
                                                            "UninstallOemInfs KAVRO X1",
                                                            "PurgeDriverStore KAVRO X1",
                                                            "DeleteDriverFiles KAVRO X2",
                                                            "UninstallOemInfs KAVRO X2",
                                                            "PurgeDriverStore KAVRO X2",
                                                            "DeleteDriverFiles KAVRO X3",
                                                            "UninstallOemInfs KAVRO X3",
                                                            "PurgeDriverStore KAVRO X3",
                                                            "StartSpooler Spooler",
                                                            "DeleteDriver KAVRO X1",
                                                            "DeleteDriver KAVRO X2",
                                                            "ReenumerateDevices "}));
    EXPECT_EQ(CallsNamed({"SetupUninstallOEMInf"}),
              (std::vector<std::string>{"SetupUninstallOEMInf(oem5.inf,1)",
                                        "SetupUninstallOEMInf(oem7.inf,1)"}));
    EXPECT_EQ(CallsNamed({"DeletePrinter"}), std::vector<std::string>{});
    EXPECT_FALSE(Exists(L"System32\\spool\\drivers\\w32x86\\3\\KY.DLL"));
    EXPECT_FALSE(Exists(L"System32\\DriverStore\\FileRepository\\kx.inf_x86_1\\kx.inf"));
    EXPECT_TRUE(machine->devices[3].removed);

    // The leftovers alone run without the spooler's restart: no file of theirs goes.
    outcomes.clear();
    EXPECT_TRUE(RunRemovalSet({leftovers, refused}, &outcomes));
    EXPECT_EQ(outcomes.front().step, UninstallStep::RemoveDevices);
    EXPECT_TRUE(RunRemovalSet({refused}));
}

TEST_F(UninstallSequence, ReenumerationFailureIsLoggedAndStillSucceeds) {
    machine->locateResult = 13;
    EXPECT_TRUE(RunUninstallSequence({PrinterRow(L"KAVRO X1", driver)}));
    EXPECT_NE(OperationLogText().find("CM_Locate_DevNode   failed:   d\n "), std::string::npos)
        << OperationLogText();
    EXPECT_EQ(CallsNamed({"CM_Reenumerate_DevNode"}), std::vector<std::string>{});
}

}  // namespace

namespace {

// Files another program holds (a driver file of an earlier name, the oem
// INF, a package file) go at the restart, the package's folders after the
// file that keeps them from being emptied; everything else goes at once and
// the run succeeds.
TEST_F(UninstallSequence, FilesInUseGoAtTheRestartAndTheRunSucceeds) {
    const std::wstring drivers = windows + L"System32\\spool\\drivers\\w32x86\\3\\";
    const std::wstring package = windows + L"System32\\DriverStore\\FileRepository\\kx.inf_x86_1\\";
    machine->filesInUse = {{drivers + L"KX.DLL", ERROR_SHARING_VIOLATION},
                           {windows + L"inf\\oem5.inf", ERROR_SHARING_VIOLATION},
                           {package + L"sub\\kx.dll", ERROR_ACCESS_DENIED}};
    std::vector<StepOutcome> outcomes;
    EXPECT_TRUE(RunUninstallSequence({PrinterRow(L"KAVRO X1", driver)}, &outcomes))
        << OperationLogText();
    std::map<std::string, ScheduledPaths> scheduledBy;
    for (const StepOutcome& outcome : outcomes) {
        EXPECT_TRUE(outcome.succeeded) << Utf8(StepName(outcome.step));
        if (!outcome.scheduled.empty())
            scheduledBy[Utf8(StepName(outcome.step))] = outcome.scheduled;
    }
    EXPECT_EQ(scheduledBy,
              (std::map<std::string, ScheduledPaths>{
                  {"DeleteDriverFiles", {drivers + L"KX.DLL"}},
                  {"UninstallOemInfs", {windows + L"inf\\oem5.inf"}},
                  {"PurgeDriverStore", {package + L"sub\\kx.dll", package + L"sub\\", package}}}));
    EXPECT_EQ(
        CallsNamed({"MoveFileEx"}),
        (std::vector<std::string>{
            "MoveFileEx(" + Utf8(drivers) + "KX.DLL)",
            "MoveFileEx(" + Utf8(windows) + "inf\\oem5.inf)",
            "MoveFileEx(" + Utf8(package) + "sub\\kx.dll)", "MoveFileEx(" + Utf8(package) + "sub)",
            "MoveFileEx(" + Utf8(package.substr(0, package.size() - 1)) + ")"}));
    EXPECT_FALSE(Exists(L"System32\\spool\\drivers\\w32x86\\3\\KXUI.DLL"));
    EXPECT_FALSE(Exists(L"System32\\spool\\drivers\\w32x86\\3\\KX.GPD"));
    EXPECT_FALSE(Exists(L"System32\\DriverStore\\FileRepository\\kx.inf_x86_1\\kx.inf"));
    EXPECT_EQ(CallsNamed({"DeletePrinter"}), std::vector<std::string>{"DeletePrinter(KAVRO X1)"});
    const std::vector<std::string> records = LogRecords();
    ASSERT_EQ(records.size(), 5u) << OperationLogText();
    EXPECT_EQ(records[0], "文件正在使用，将在重启后删除：" + Utf8(drivers) + "KX.DLL");
    EXPECT_EQ(records[4], "文件正在使用，将在重启后删除：" + Utf8(package));
}

// A held file that cannot be scheduled either fails its step even when a
// later deletion of the same step succeeds: no run reports success while a
// file it was to delete stays without a schedule.
TEST_F(UninstallSequence, FileThatCanBeNeitherDeletedNorScheduledFailsItsStepInWhicheverWalk) {
    const std::wstring drivers = windows + L"System32\\spool\\drivers\\w32x86\\3\\";
    machine->filesInUse = {{drivers + L"KX.DLL", ERROR_SHARING_VIOLATION}};
    FailCalls("MoveFileEx", 1, ERROR_ACCESS_DENIED);
    std::vector<StepOutcome> outcomes;
    EXPECT_FALSE(RunUninstallSequence({PrinterRow(L"KAVRO X1", driver)}, &outcomes));
    ASSERT_FALSE(outcomes.empty());
    EXPECT_EQ(outcomes.back().step, UninstallStep::DeleteDriverFiles);
    EXPECT_EQ(outcomes.back().failedCall, L"DeleteFile" + drivers + L"KX.DLL");
    EXPECT_EQ(outcomes.back().error, DWORD{ERROR_SHARING_VIOLATION});
    EXPECT_EQ(LogRecords(), (std::vector<std::string>{
                                "DeleteFile" + Utf8(drivers) + "KX.DLL failed with error ",
                                "MoveFileEx" + Utf8(drivers) + "KX.DLL failed with error "}));
    EXPECT_FALSE(Exists(L"System32\\spool\\drivers\\w32x86\\3\\KX.GPD")) << "the walk went on";
    EXPECT_EQ(CallsNamed({"SetupUninstallOEMInf", "DeletePrinter"}), std::vector<std::string>{});
    EXPECT_EQ(machine->spoolerState, static_cast<DWORD>(SERVICE_STOPPED));
}

// A folder that stays full with nothing in it scheduled is no file in use.
TEST_F(UninstallSequence, PackageFolderThatCannotBeRemovedStopsBeforeTheSpoolerStarts) {
    FailCalls("RemoveDirectory", 1, ERROR_DIR_NOT_EMPTY);
    EXPECT_FALSE(RunUninstallSequence({PrinterRow(L"KAVRO X1", driver)}));
    const std::vector<std::string> records = LogRecords();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back(), "RemoveDirectory failed with error ");
    EXPECT_EQ(CallsNamed({"SetupUninstallOEMInf"}),
              std::vector<std::string>{"SetupUninstallOEMInf(oem5.inf,1)"});
    EXPECT_EQ(CallsNamed({"StartService"}).size(), 1u);  // only the restart's
    EXPECT_EQ(CallsNamed({"DeletePrinter"}), std::vector<std::string>{});
}

}  // namespace

namespace {

// --- Language monitors and print processors --------------------------------

class UninstallSequenceComponents : public UninstallSequence {
  protected:
    // The driver row's plan, with a monitor and a print processor of its own.
    RemovalPlan Plan() const {
        RemovalPlan plan = PlanRowRemoval(DriverRow(driver), {driver});
        plan.monitors = {{L"KAVRO Language Monitor", L"", windows + kMonitorDll, L"", L""}};
        plan.printProcessors = {
            {L"KAVRO Print Processor", L"Windows NT x86", windows + kProcessorDll, L"", L""}};
        return plan;
    }

    static constexpr wchar_t kMonitorDll[] = L"System32\\kvlm.dll";
    static constexpr wchar_t kProcessorDll[] = L"System32\\spool\\prtprocs\\W32X86\\kvpp.dll";
};

struct ComponentFailure {
    const char* what;
    const char* call;  // the call made to fail; none
    DWORD error;
    bool succeeds;  // an unknown one is already gone
};

// After the driver's record: the monitor, its DLL, the print processor of its
// environment, its DLL. A refusal ends the run with the call and its error
// and keeps the DLL; one the spooler does not know is gone.
TEST_F(UninstallSequenceComponents, GoAfterTheDriverRecordWithTheirDllsARefusalEndsTheRun) {
    const std::vector<ComponentFailure> cases = {
        {"none refused", "", 0, true},
        {"monitor in use", "DeleteMonitor", ERROR_PRINT_MONITOR_IN_USE, false},
        {"unknown monitor", "DeleteMonitor", ERROR_UNKNOWN_PRINT_MONITOR, true},
        {"print processor refused", "DeletePrintProcessor", ERROR_ACCESS_DENIED, false},
        {"unknown print processor", "DeletePrintProcessor", ERROR_UNKNOWN_PRINTPROCESSOR, true},
    };
    for (const ComponentFailure& c : cases) {
        Seed(kMonitorDll);
        Seed(kProcessorDll);
        ResetOperationLog();
        machine = &InstallFakeMachine(windows);
        if (*c.call != 0)
            FailCalls(c.call, 1, c.error);
        std::vector<StepOutcome> outcomes;
        EXPECT_EQ(RunRemovalPlans({Plan()}, &outcomes), c.succeeds) << c.what;
        ASSERT_FALSE(outcomes.empty()) << c.what;
        if (c.succeeds) {
            const std::vector<std::string> calls = Milestones();
            const auto record = std::find(calls.begin(), calls.end(),
                                          "DeletePrinterDriverEx(Windows NT x86,KAVRO X1,1,3)");
            ASSERT_GE(calls.end() - record, 2) << c.what;
            EXPECT_EQ(std::vector<std::string>(record + 1, calls.end() - 2),
                      (std::vector<std::string>{
                          "DeleteMonitor(KAVRO Language Monitor)", "DeleteFile(kvlm.dll)",
                          "DeletePrintProcessor(Windows NT x86,KAVRO Print Processor)",
                          "DeleteFile(kvpp.dll)"}))
                << c.what;
            EXPECT_EQ(OperationLogText(), "") << c.what;
            EXPECT_FALSE(Exists(kMonitorDll) || Exists(kProcessorDll)) << c.what;
            continue;
        }
        EXPECT_EQ(Utf8(outcomes.back().failedCall), c.call) << c.what;
        EXPECT_EQ(outcomes.back().error, c.error) << c.what;
        EXPECT_EQ(LogRecords().back(), std::string(c.call) + " failed with error ") << c.what;
        const bool monitorRefused = std::string(c.call) == "DeleteMonitor";
        EXPECT_EQ(Exists(kMonitorDll), monitorRefused) << c.what;
        EXPECT_TRUE(Exists(kProcessorDll)) << c.what;
        EXPECT_EQ(CallsNamed({"DeletePrintProcessor"}).size(), monitorRefused ? 0u : 1u) << c.what;
    }
}

// While the spooler cannot run, their keys go, as the driver's does, and only
// while the spooler is stopped; a removal of leftovers does the same.
TEST_F(UninstallSequenceComponents, WithoutTheSpoolerTheirKeysGoOnlyWhileItIsStopped) {
    FakePrintRegistry registry;
    const std::wstring driverKey = L"Environments\\Windows NT x86\\Drivers\\Version-3\\KAVRO X1";
    const std::wstring monitorKey = L"Monitors\\KAVRO Language Monitor";
    const std::wstring processorKey =
        L"Environments\\Windows NT x86\\Print Processors\\KAVRO Print Processor";
    auto seedRegistry = [&] {
        registry.AddMonitor(L"KAVRO Language Monitor", L"kvlm.dll");
        registry.AddPrintProcessor(L"Windows NT x86", L"KAVRO Print Processor", L"kvpp.dll");
        Seed(kMonitorDll);
        Seed(kProcessorDll);
    };
    registry.AddDriver(L"Windows NT x86", L"KAVRO X1", {L"KXDRV.DLL"}, {L"KX.DLL"});
    seedRegistry();
    machine->spoolerCrashes = [&] { return registry.Exists(monitorKey); };
    std::vector<StepOutcome> outcomes;
    EXPECT_TRUE(RunRemovalPlans({Plan()}, &outcomes)) << OperationLogText();
    std::vector<std::string> steps;
    for (const StepOutcome& outcome : outcomes)
        steps.push_back(Utf8(StepName(outcome.step)));
    EXPECT_EQ(std::vector<std::string>(steps.begin() + 3, steps.begin() + 6),
              (std::vector<std::string>{"DeleteDriverKey", "DeleteMonitorKey",
                                        "DeletePrintProcessorKey"}));
    EXPECT_FALSE(registry.Exists(driverKey));
    EXPECT_FALSE(registry.Exists(monitorKey));
    EXPECT_FALSE(registry.Exists(processorKey));
    EXPECT_FALSE(Exists(kMonitorDll));
    EXPECT_FALSE(Exists(kProcessorDll));
    EXPECT_EQ(CallsNamed({"DeleteMonitor", "DeletePrintProcessor"}), std::vector<std::string>{});

    // Leftovers: the spooler is stopped for them, and their keys go.
    RemovalPlan leftovers = Plan();
    leftovers.leftovers = true;
    leftovers.driverRecords.clear();
    leftovers.driverFiles.clear();
    leftovers.packages = {};
    seedRegistry();
    machine->spoolerCrashes = nullptr;
    outcomes.clear();
    EXPECT_TRUE(RunLeftoverRemoval(leftovers, &outcomes)) << OperationLogText();
    steps.clear();
    for (const StepOutcome& outcome : outcomes)
        steps.push_back(Utf8(StepName(outcome.step)));
    EXPECT_EQ(steps, (std::vector<std::string>{"StopSpooler", "DeleteMonitorKey",
                                               "DeletePrintProcessorKey", "UninstallOemInfs",
                                               "PurgeDriverStore", "StartSpooler"}));
    EXPECT_FALSE(registry.Exists(monitorKey));
    EXPECT_FALSE(Exists(kProcessorDll));

    // Started by someone else while the removal paused: nothing is changed.
    seedRegistry();
    machine->onSleep = [&](DWORD pause) {
        if (pause == 1000 && machine->spoolerState == SERVICE_STOPPED)
            machine->spoolerState = SERVICE_RUNNING;
    };
    EXPECT_FALSE(RunLeftoverRemoval(leftovers));
    EXPECT_TRUE(registry.Exists(monitorKey));
    EXPECT_TRUE(registry.Exists(processorKey));
    EXPECT_TRUE(Exists(kMonitorDll));
    EXPECT_NE(OperationLogText().find("打印后台处理程序正在运行，未修改注册表"), std::string::npos);
}

}  // namespace
