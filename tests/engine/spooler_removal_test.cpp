// Printer deletion, driver deletion and device re-enumeration against fake
// spooler and configuration-manager calls: arguments, log lines, results and
// the printer handle on every path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/spooler_removal.h"
#include "fakes/fake_printer_handles.h"
#include "support/test_support.h"

namespace {

DWORD deletePrinterError = 0;
std::vector<HANDLE> deletedPrinters;

BOOL WINAPI FakeDeletePrinter(HANDLE printer) {
    deletedPrinters.push_back(printer);
    if (deletePrinterError != 0) {
        ::SetLastError(deletePrinterError);
        return FALSE;
    }
    return TRUE;
}

DWORD deleteConnectionError = 0;
std::vector<std::wstring> deletedConnections;

BOOL WINAPI FakeDeletePrinterConnection(LPWSTR name) {
    deletedConnections.push_back(name);
    if (deleteConnectionError != 0) {
        ::SetLastError(deleteConnectionError);
        return FALSE;
    }
    return TRUE;
}

class DeletePrinterByNameFake : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetOperationLog();
        deletePrinterError = 0;
        deletedPrinters.clear();
        deleteConnectionError = 0;
        deletedConnections.clear();
        win32.DeletePrinter = FakeDeletePrinter;
        win32.DeletePrinterConnectionW = FakeDeletePrinterConnection;
    }
    void TearDown() override { ResetOperationLog(); }
    ScopedWin32Fakes fakes;
    FakePrinterState& printers = InstallFakePrinters();
};

TEST_F(DeletePrinterByNameFake, OpensWithAllAccessDeletesAndClosesOnce) {
    EXPECT_TRUE(DeletePrinterByName(L"岚拓 P1"));
    ASSERT_EQ(printers.opens.size(), 1u);
    EXPECT_EQ(printers.opens[0].name, L"岚拓 P1");
    EXPECT_EQ(printers.opens[0].desiredAccess, 0xF000Cu);
    EXPECT_TRUE(printers.opens[0].noDatatype);
    EXPECT_TRUE(printers.opens[0].noDevMode);
    EXPECT_EQ(deletedPrinters, std::vector<HANDLE>{FakePrinterHandle()});
    EXPECT_EQ(printers.closed, std::vector<HANDLE>{FakePrinterHandle()});
    EXPECT_TRUE(deletedConnections.empty());
    EXPECT_EQ(OperationLogText(), "");
}

TEST_F(DeletePrinterByNameFake, ConnectionIsRemovedAsAConnectionNeverDeletedOnTheServer) {
    struct Case {
        DWORD error;
        bool result;
        std::string logStart;
    };
    for (const Case& c :
         {Case{0, true, ""}, Case{ERROR_INVALID_PRINTER_NAME, true, ""},
          Case{ERROR_ACCESS_DENIED, false, "DeletePrinterConnection failed with error 5: "}}) {
        ResetOperationLog();
        deletedConnections.clear();
        deleteConnectionError = c.error;
        EXPECT_EQ(DeletePrinterByName(L"\\\\print-srv\\岚拓 Q"), c.result) << c.error;
        EXPECT_EQ(deletedConnections, std::vector<std::wstring>{L"\\\\print-srv\\岚拓 Q"});
        EXPECT_EQ(OperationLogText().substr(0, c.logStart.size()), c.logStart) << c.error;
        EXPECT_EQ(c.logStart.empty(), OperationLogText().empty()) << c.error;
    }
    EXPECT_TRUE(printers.opens.empty()) << "a connection is never opened for DeletePrinter";
    EXPECT_TRUE(deletedPrinters.empty());
}

TEST_F(DeletePrinterByNameFake, MissingPrinterIsSuccessWithoutALine) {
    printers.openError = ERROR_INVALID_PRINTER_NAME;
    EXPECT_TRUE(DeletePrinterByName(L"gone"));
    EXPECT_TRUE(deletedPrinters.empty());
    EXPECT_TRUE(printers.closed.empty());
    EXPECT_EQ(OperationLogText(), "");
}

TEST_F(DeletePrinterByNameFake, AccessDeniedOnOpenLogsOpenPrinterAndFails) {
    printers.openError = ERROR_ACCESS_DENIED;
    EXPECT_FALSE(DeletePrinterByName(L"locked"));
    EXPECT_TRUE(deletedPrinters.empty());
    EXPECT_TRUE(printers.closed.empty());
    const std::string log = OperationLogText();
    EXPECT_EQ(log.rfind("OpenPrinter failed with error 5: ", 0), 0u) << log;
    EXPECT_EQ(CountOf(log, std::string("\0", 1)), 1);
}

TEST_F(DeletePrinterByNameFake, RefusedDeletionLogsItsErrorAndStillCloses) {
    deletePrinterError = ERROR_ACCESS_DENIED;
    EXPECT_FALSE(DeletePrinterByName(L"busy"));
    EXPECT_EQ(printers.closed, std::vector<HANDLE>{FakePrinterHandle()});
    const std::string log = OperationLogText();
    EXPECT_EQ(log.rfind("DeletePrinter failed with error 5: ", 0), 0u) << log;
}

struct DriverDeletion {
    bool serverNull = false;
    std::wstring environment, name;
    DWORD flags = 0, version = 0;
};
std::vector<DriverDeletion> driverDeletions;
DWORD deleteDriverError = 0;

BOOL WINAPI FakeDeletePrinterDriverEx(LPWSTR server,
                                      LPWSTR environment,
                                      LPWSTR name,
                                      DWORD flags,
                                      DWORD version) {
    driverDeletions.push_back({server == nullptr, environment, name, flags, version});
    if (deleteDriverError != 0) {
        ::SetLastError(deleteDriverError);
        return FALSE;
    }
    return TRUE;
}

class DeleteDriverFromSpoolerFake : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetOperationLog();
        driverDeletions.clear();
        deleteDriverError = 0;
        win32.DeletePrinterDriverExW = FakeDeletePrinterDriverEx;
        info.pName = name;
        info.pEnvironment = environment;
        info.cVersion = 3;
    }
    void TearDown() override { ResetOperationLog(); }
    ScopedWin32Fakes fakes;
    wchar_t name[32] = L"KT Laser 100";
    wchar_t environment[32] = L"Windows x64";
    DRIVER_INFO_6W info{};
};

TEST_F(DeleteDriverFromSpoolerFake, PassesEnvironmentNameVersionAndDeleteUnusedFiles) {
    EXPECT_TRUE(DeleteDriverFromSpooler(info));
    ASSERT_EQ(driverDeletions.size(), 1u);
    EXPECT_TRUE(driverDeletions[0].serverNull);
    EXPECT_EQ(driverDeletions[0].environment, L"Windows x64");
    EXPECT_EQ(driverDeletions[0].name, L"KT Laser 100");
    EXPECT_EQ(driverDeletions[0].flags, 1u);
    EXPECT_EQ(driverDeletions[0].version, 3u);
    EXPECT_EQ(OperationLogText(), "");
}

TEST_F(DeleteDriverFromSpoolerFake, DriverStillInUseLogsTheSpoolersErrorAndFails) {
    deleteDriverError = ERROR_PRINTER_DRIVER_IN_USE;
    EXPECT_FALSE(DeleteDriverFromSpooler(info));
    const std::string log = OperationLogText();
    EXPECT_EQ(log.rfind("DeletePrinterDriverEx failed with error 3001: ", 0), 0u) << log;
}

CONFIGRET locateResult = CR_SUCCESS;
CONFIGRET reenumerateResult = CR_SUCCESS;
int locateCalls = 0;
bool locateIdNull = false;
ULONG locateFlags = 99;
std::vector<std::pair<DEVINST, ULONG>> reenumerations;
constexpr DEVINST kRoot = 0x51;
static_assert(CR_NO_SUCH_DEVNODE == 13);
// The configuration manager does not set the last error; this is what the
// thread holds when the line is written.
constexpr DWORD kThreadLastError = ERROR_NOT_FOUND;

CONFIGRET WINAPI FakeLocate(PDEVINST node, DEVINSTID_W id, ULONG flags) {
    ++locateCalls;
    locateIdNull = id == nullptr;
    locateFlags = flags;
    *node = kRoot;
    return locateResult;
}

CONFIGRET WINAPI FakeReenumerate(DEVINST node, ULONG flags) {
    reenumerations.push_back({node, flags});
    return reenumerateResult;
}

class ReenumerateDeviceTreeFake : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetOperationLog();
        locateResult = reenumerateResult = CR_SUCCESS;
        locateCalls = 0;
        locateIdNull = false;
        locateFlags = 99;
        reenumerations.clear();
        win32.CM_Locate_DevNodeW = FakeLocate;
        win32.CM_Reenumerate_DevNode = FakeReenumerate;
    }
    static void Run() {
        ::SetLastError(kThreadLastError);
        ReenumerateDeviceTree();
    }
    void TearDown() override { ResetOperationLog(); }
    ScopedWin32Fakes fakes;
};

TEST_F(ReenumerateDeviceTreeFake, LocatesTheRootAndReenumeratesItAsynchronously) {
    Run();
    EXPECT_EQ(locateCalls, 1);
    EXPECT_TRUE(locateIdNull);
    EXPECT_EQ(locateFlags, 0u);
    EXPECT_EQ(reenumerations, (std::vector<std::pair<DEVINST, ULONG>>{{kRoot, 4}}));
    EXPECT_EQ(OperationLogText(), "");
}

TEST_F(ReenumerateDeviceTreeFake, LocateFailure13LogsLowercaseHexAndStops) {
    locateResult = CR_NO_SUCH_DEVNODE;
    Run();
    EXPECT_TRUE(reenumerations.empty());
    const std::string log = OperationLogText();
    EXPECT_EQ(log.rfind("CM_Locate_DevNode   failed:   d\n  failed with error 1168: ", 0), 0u)
        << log;
}

TEST_F(ReenumerateDeviceTreeFake, ReenumerateFailureLogsItsOwnLine) {
    reenumerateResult = 0x3B;
    Run();
    const std::string log = OperationLogText();
    EXPECT_EQ(log.rfind("CM_Reenumerate_DevNode   failed:   3b\n  failed with error 1168: ", 0), 0u)
        << log;
    EXPECT_EQ(CountOf(log, "CM_Locate_DevNode"), 0);
}

}  // namespace
