// The console program's arguments, its choice of row, the layout of its JSON
// and its refusal to remove without administrator rights, through the seam.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_main.h"
#include "cli/cli_options.h"
#include "cli/cli_report.h"
#include "fakes/fake_machine.h"
#include "fakes/fake_print_registry.h"
#include "fakes/fake_services.h"
#include "fakes/fake_spooler.h"
#include "project_version.h"
#include "support/test_support.h"

namespace {

using fake_spooler::spooler;
using Args = std::vector<std::wstring>;

TEST(CliArguments, CommandsAndOptionsAreTakenInAnyOrder) {
    CliOptions list = ParseCliArguments({L"list", L"--json"});
    EXPECT_TRUE(list.error.empty());
    EXPECT_EQ(list.command, CliCommand::List);
    EXPECT_TRUE(list.json);

    CliOptions remove =
        ParseCliArguments({L"remove", L"--what-if", L"--driver", L"岚拓 PCL6", L"--reboot"});
    EXPECT_TRUE(remove.error.empty()) << Utf8(remove.error);
    EXPECT_EQ(remove.command, CliCommand::Remove);
    EXPECT_TRUE(remove.whatIf);
    EXPECT_TRUE(remove.reboot);
    EXPECT_FALSE(remove.json);
    EXPECT_EQ(remove.targets, (std::vector<CliTarget>{{false, L"岚拓 PCL6"}}));

    // A set: printers and drivers mixed, in their order, a name given twice once.
    const CliOptions set =
        ParseCliArguments({L"remove", L"--printer", L"P", L"--driver", L"D", L"--printer", L"P",
                           L"--with-printers", L"--driver", L"P"});
    EXPECT_TRUE(set.error.empty()) << Utf8(set.error);
    EXPECT_EQ(set.targets, (std::vector<CliTarget>{{true, L"P"}, {false, L"D"}, {false, L"P"}}));
    EXPECT_TRUE(set.withPrinters);
    EXPECT_EQ(ParseCliArguments({L"--version"}).command, CliCommand::Version);
    EXPECT_TRUE(ParseCliArguments({L"--version", L"--json"}).json);
    for (const Args& help : {Args{L"--help"}, Args{L"/?"}, Args{L"-h"}, Args{L"list", L"/?"}}) {
        const CliOptions options = ParseCliArguments(help);
        EXPECT_TRUE(options.error.empty());
        EXPECT_EQ(options.command, CliCommand::Help);
    }
}

TEST(CliArguments, BadInputIsRefusedWithAReason) {
    const Args refused[] = {
        {},
        {L"purge"},
        {L"list", L"--what-if"},
        {L"list", L"--verbose"},
        {L"remove"},
        {L"remove", L"--driver"},
        {L"remove", L"--driver", L""},
        {L"remove", L"--printer", L"P", L"--driver"},
        {L"remove", L"--printer", L"P", L"extra"},
        {L"remove", L"--what-if", L"--json"},
        {L"remove", L"--printer", L"P", L"--with-printers", L"--printer", L"Q"},
        {L"list", L"--with-printers"},
        {L"--version", L"--what-if"},
        {L"list", L"--version"},
    };
    for (const Args& arguments : refused) {
        std::wstring joined;
        for (const std::wstring& argument : arguments)
            joined += L"[" + argument + L"]";
        EXPECT_FALSE(ParseCliArguments(arguments).error.empty()) << Utf8(joined);
    }
}

TEST(CliRowChoice, NamesPickTheRowTheDialogWouldList) {
    auto row = [](bool isPrinter, const std::wstring& printer, const std::wstring& driver) {
        return DriverListEntry{nullptr, nullptr, printer, isPrinter, driver, {}};
    };
    const std::vector<DriverListEntry> rows = {
        row(true, L"Front Desk", L"Shared PCL6"), row(true, L"LaserJet 1020", L"LaserJet 1020"),
        row(true, L"Other Queue", L"Mono"), row(false, L"", L"Shared PCL6"),
        row(false, L"", L"Mono")};
    auto find = [&](bool byPrinter, const std::wstring& name) {
        return FindRowToRemove(rows, CliTarget{byPrinter, name});
    };
    EXPECT_EQ(find(true, L"Front Desk"), 0);
    EXPECT_EQ(find(false, L"Shared PCL6"), 3);
    // A driver listed only through its own printer of the same name.
    EXPECT_EQ(find(false, L"LaserJet 1020"), 1);
    EXPECT_EQ(find(false, L"Other Queue"), -1) << "a printer of another driver is no driver";
    EXPECT_EQ(find(true, L"Shared PCL6"), -1);
    EXPECT_EQ(find(true, L"front desk"), -1) << "names compare ordinally";
}

class CliOnFakeSpooler : public ::testing::Test {
  protected:
    void SetUp() override { fake_spooler::Install(); }
    static void Keep(const std::string& text) { written += text; }
    static std::string written;
    ScopedWin32Fakes fakes;
};
std::string CliOnFakeSpooler::written;

TEST_F(CliOnFakeSpooler, ListJsonGivesEachRowItsDriverWithEnvironmentVersionFilesAndPrinters) {
    spooler.printers = {{L"财务部打印机", L"Shared"}, {L"Front", L"Shared"}};
    spooler.drivers = {L"Shared", L"Lone"};
    const nlohmann::json list = InventoryJson(TakeDriverInventory(nullptr));
    ASSERT_EQ(list["rows"].size(), 4u) << list.dump(2);
    EXPECT_EQ(list["command"], "list");
    EXPECT_EQ(list["rows"][0]["kind"], "printer");
    EXPECT_EQ(list["rows"][0]["name"], "财务部打印机");
    const nlohmann::json& shared = list["rows"][2];
    EXPECT_EQ(shared["kind"], "driver");
    EXPECT_EQ(shared["driver"]["name"], "Shared");
    EXPECT_EQ(shared["driver"]["environment"], "Windows NT x86");
    EXPECT_TRUE(shared["driver"]["version"].is_number());
    EXPECT_TRUE(shared["driver"]["files"].is_array());
    EXPECT_EQ(shared["driver"]["printers"], nlohmann::json({"财务部打印机", "Front"}));
    EXPECT_EQ(list["rows"][3]["driver"]["printers"], nlohmann::json::array());
}

TEST_F(CliOnFakeSpooler, VersionIsPrintedAloneAndCarriedByEveryJsonAnswer) {
    spooler.printers = {{L"P", L"D"}};
    const Args jsonCommands[] = {
        {L"--version", L"--json"},
        {L"list", L"--json"},
        {L"remove", L"--printer", L"P", L"--what-if", L"--json"},
        {L"remove", L"--printer", L"nobody", L"--what-if", L"--json"},
    };
    for (const Args& arguments : jsonCommands) {
        written.clear();
        RunCli(arguments, Keep);
        EXPECT_EQ(nlohmann::json::parse(written)["version"], PROJECT_VERSION_TEXT)
            << Utf8(arguments[0]) << " " << written;
    }
    written.clear();
    EXPECT_EQ(RunCli({L"--version"}, Keep), EXIT_OK);
    EXPECT_EQ(written, PROJECT_VERSION_TEXT "\n");
}

// Where no spooler answers (its calls fail with 1722), the list is its
// registry's, by the same rules: the printers, then Windows' own
// environment's drivers, then the others', each with its files' full paths.
TEST_F(CliOnFakeSpooler, ListWithoutASpoolerComesFromItsRegistryByTheSameRules) {
    FakeNativeMachine(IMAGE_FILE_MACHINE_AMD64, false);
    spooler.enumPrintersError = RPC_S_SERVER_UNAVAILABLE;
    spooler.enumDriversFirstError = RPC_S_SERVER_UNAVAILABLE;
    FakePrintRegistry registry;
    registry.AddDriver(L"Windows NT x86", L"KAVRO PCL6", {L"kv.dll"}, {});
    registry.AddDriver(L"Windows NT x86", L"Client Only", {L"co.dll"}, {});
    registry.AddDriver(L"Windows x64", L"KAVRO PCL6", {L"kv.dll", L"kvui.dll", L"kv.gpd"},
                       {L"kvres.dll", L"UNIDRV.DLL"});
    registry.AddDriver(L"Windows x64", L"Lone", {L"lone.dll"}, {});
    registry.AddPrinter(L"Alpha Desk", L"KAVRO PCL6");
    registry.AddPrinter(L"Zeta 财务部", L"KAVRO PCL6");
    written.clear();
    ASSERT_EQ(RunCli({L"list", L"--json"}, Keep), EXIT_OK);

    const nlohmann::json list = nlohmann::json::parse(written);
    EXPECT_EQ(list["spoolerRegistry"], true);
    std::vector<std::string> rows;
    for (const nlohmann::json& row : list["rows"])
        rows.push_back(row["kind"].get<std::string>() + ":" + row["name"].get<std::string>());
    EXPECT_EQ(rows,
              (std::vector<std::string>{"printer:Alpha Desk", "printer:Zeta 财务部",
                                        "driver:KAVRO PCL6", "driver:Lone", "driver:Client Only"}));
    // Shown as Windows spells its system folder.
    const std::string system = Utf8(ShownPath(NativeSystem32()));
    const std::string x64 = system + "\\spool\\DRIVERS\\x64\\3\\";
    const nlohmann::json& driver = list["rows"][0]["driver"];
    EXPECT_EQ(driver["environment"], "Windows x64");
    EXPECT_EQ(driver["version"], 3);
    EXPECT_EQ(driver["files"], nlohmann::json({x64 + "kv.dll", x64 + "kvui.dll", x64 + "kv.gpd",
                                               x64 + "kvres.dll", x64 + "UNIDRV.DLL"}));
    EXPECT_EQ(driver["printers"], nlohmann::json({"Alpha Desk", "Zeta 财务部"}));
    EXPECT_EQ(list["rows"][4]["driver"]["environment"], "Windows NT x86");
    EXPECT_EQ(list["rows"][4]["driver"]["files"][0],
              system + "\\spool\\DRIVERS\\W32X86\\3\\co.dll");

    spooler.enumDriversFirstError = 0;
    spooler.drivers = {L"Spooler's Own"};
    EXPECT_FALSE(TakeDriverInventory(nullptr).fromRegistry) << "a spooler that answers is asked";
}

// Nothing runs: the answer names the printers, and exit code 1 tells a
// deployment tool that the driver is still there.
TEST_F(CliOnFakeSpooler, DriverThatPrintersUseExitsWith1NamingThemAndRunsNoStep) {
    spooler.printers = {{L"Front", L"Shared"}, {L"财务部", L"Shared"}};
    spooler.drivers = {L"Shared"};
    for (const Args& arguments :
         {Args{L"remove", L"--driver", L"Shared", L"--json"},
          Args{L"remove", L"--what-if", L"--driver", L"Shared", L"--json"}}) {
        written.clear();
        EXPECT_EQ(RunCli(arguments, Keep), EXIT_STEP_FAILED);
        const nlohmann::json answer = nlohmann::json::parse(written);
        EXPECT_EQ(answer["exitCode"], EXIT_STEP_FAILED);
        EXPECT_EQ(answer["printersUsingDriver"], nlohmann::json({"Front", "财务部"}));
        EXPECT_EQ(answer.count("steps") + answer.count("preview"), 0u) << written;
    }
    EXPECT_TRUE(spooler.openedNames ==
                (std::vector<std::wstring>{L"Front", L"财务部", L"Front", L"财务部"}))
        << "only the inventory opened printers";
}

// The spooler's deletion of a driver record, which succeeds: the names of
// the drivers deleted, in order.
std::vector<std::wstring> deletedDrivers;
BOOL WINAPI AcceptDriverDeletion(LPWSTR, LPWSTR, LPWSTR name, DWORD, DWORD) {
    deletedDrivers.push_back(name);
    return TRUE;
}

// A set answers per name; a name of which nothing exists fails no other, a
// refused driver makes the exit code 1 while the others go, and 3 is only
// for a set of which nothing exists at all.
TEST_F(CliOnFakeSpooler, SetAnswersEachNameAndItsExitCodeTellsTheWorst) {
    spooler.printers = {{L"Front", L"Shared"}};
    spooler.drivers = {L"Shared", L"Lone", L"Third"};
    win32.DeletePrinterDriverExW = AcceptDriverDeletion;
    deletedDrivers.clear();
    fake_services::Install();
    fake_services::scm.services[L"Spooler"].state = SERVICE_RUNNING;
    struct Case {
        Args arguments;
        int exitCode;
        std::vector<std::string> statuses;
    };
    const Case cases[] = {
        {{L"--what-if", L"--driver", L"Shared", L"--driver", L"Lone", L"--driver", L"Never"},
         EXIT_STEP_FAILED,
         {"refused", "previewed", "absent"}},
        {{L"--what-if", L"--driver", L"Never", L"--printer", L"Nobody"},
         EXIT_NO_SUCH_NAME,
         {"absent", "absent"}},
        {{L"--what-if", L"--printer", L"Front", L"--driver", L"Shared"},
         EXIT_OK,
         {"previewed", "previewed"}},  // its only printer is in the set
        {{L"--driver", L"Lone", L"--driver", L"Never", L"--driver", L"Third"},
         EXIT_RESTART_RECOMMENDED,
         {"removed", "absent", "removed"}},
        {{L"--driver", L"Shared", L"--driver", L"Lone"}, EXIT_STEP_FAILED, {"refused", "removed"}},
    };
    for (const Case& c : cases) {
        Args arguments = {L"remove", L"--json"};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        written.clear();
        EXPECT_EQ(RunCli(arguments, Keep), c.exitCode) << written;
        const nlohmann::json answer = nlohmann::json::parse(written);
        EXPECT_EQ(answer["exitCode"], c.exitCode);
        std::vector<std::string> statuses;
        for (const nlohmann::json& name : answer["names"])
            statuses.push_back(name["status"]);
        EXPECT_EQ(statuses, c.statuses) << written;
        EXPECT_EQ(answer.count("steps"),
                  std::count(statuses.begin(), statuses.end(), "removed") > 0 ? 1u : 0u)
            << written;
    }
    EXPECT_EQ(deletedDrivers, (std::vector<std::wstring>{L"Lone", L"Third", L"Lone"}))
        << "Lone and Third in one run, then Lone beside the refused Shared";
    EXPECT_EQ(fake_services::scm.services[L"Spooler"].starts, 4) << "two runs, one cycle each";
}

// A driver whose record is gone while its oem INF and package stay: their
// removal is a success that asks for a restart; a name of which nothing is
// left anywhere is 3, as before.
TEST_F(CliOnFakeSpooler, LeftoversOfADriverWithoutRecordAreRemovedWithTheirOwnExitCodes) {
    ScratchFolder windows;
    InstallFakeMachine(windows.path());
    const std::string inf = "[Version]\r\nClass=Printer\r\n[Strings]\r\nM=\"Gone PCL6\"\r\n";
    WriteBytes(windows.path() + L"inf\\oem9.inf", inf);
    const std::wstring package =
        windows.path() + L"System32\\DriverStore\\FileRepository\\gone.inf_amd64_1\\";
    WriteBytes(package + L"gone.inf", inf);
    struct Case {
        Args arguments;
        int exitCode;
    };
    const Case cases[] = {
        {{L"remove", L"--what-if", L"--driver", L"Gone PCL6", L"--json"}, EXIT_OK},
        {{L"remove", L"--driver", L"Never There", L"--json"}, EXIT_NO_SUCH_NAME},
        {{L"remove", L"--driver", L"Gone PCL6", L"--json"}, EXIT_RESTART_RECOMMENDED},
    };
    for (const Case& c : cases) {
        written.clear();
        EXPECT_EQ(RunCli(c.arguments, Keep), c.exitCode) << written;
        const nlohmann::json answer = nlohmann::json::parse(written);
        EXPECT_EQ(answer["exitCode"], c.exitCode);
        if (c.exitCode == EXIT_NO_SUCH_NAME)
            continue;
        EXPECT_EQ(answer["leftovers"], true);
        EXPECT_EQ(answer["target"], nlohmann::json({{"kind", "driver"}, {"name", "Gone PCL6"}}));
        if (c.exitCode == EXIT_OK) {
            EXPECT_EQ(answer["preview"]["oemInfs"].size(), 1u) << written;
            EXPECT_EQ(answer["preview"]["packages"].size(), 1u) << written;
            EXPECT_TRUE(FolderExists(package)) << "the preview changed nothing";
        } else {
            EXPECT_EQ(CallsNamed({"ControlService", "StartService"}), std::vector<std::string>{})
                << "no file to delete: the spooler is not touched";
            EXPECT_EQ(CallsNamed({"SetupUninstallOEMInf"}),
                      std::vector<std::string>{"SetupUninstallOEMInf(oem9.inf,1)"});
            EXPECT_FALSE(FolderExists(package));
        }
    }
}

// Every removal says what remains of the driver, from a new inventory:
// nothing only when nothing of it is found any longer; else each item, kept
// with the plan's reason, waiting for the restart, or failed.
TEST_F(CliOnFakeSpooler, RemovalSaysWhatRemainsAndNothingOnlyWhenNothingIsFound) {
    ScratchFolder windows;
    FakeMachineState& machine = InstallFakeMachine(windows.path());
    const std::wstring store = windows.path() + L"System32\\DriverStore\\FileRepository\\";
    auto seed = [&](const std::string& model, const std::string& provider, const wchar_t* oem,
                    const std::wstring& folder) {
        const std::string inf = "[Version]\r\nClass=Printer\r\nProvider=" + provider +
                                "\r\n[Strings]\r\nM=\"" + model + "\"\r\n";
        WriteBytes(windows.path() + L"inf\\" + oem, inf);
        if (!folder.empty())
            WriteBytes(store + folder + L"\\x.inf", inf);
    };
    const std::wstring held = store + L"held.inf_amd64_1\\";
    machine.filesInUse = {{held + L"x.inf", ERROR_SHARING_VIOLATION}};
    // A device whose removal is refused (a 32-bit process on 64-bit Windows)
    // ends its run before its package goes.
    machine.devices = {{L"USBPRINT\\KDEV\\1", L"Printer", L"Device PCL6", L"oem12.inf"}};
    FailCalls("SetupDiCallClassInstaller", 1, ERROR_IN_WOW64);
    struct Case {
        const wchar_t* driver;
        int exitCode;
        nlohmann::json remains;
        nlohmann::json scheduled;
        std::string text;  // a line of the text answer
    };
    const Case cases[] = {
        {L"Gone PCL6", EXIT_RESTART_RECOMMENDED, nlohmann::json::array(), nlohmann::json::array(),
         "Nothing of Gone PCL6 remains."},
        {L"Inbox Only",
         EXIT_OK,
         {{{"kind", "oemInf"},
           {"path", Utf8(windows.path()) + "inf\\oem10.inf"},
           {"state", "kept"},
           {"reason", "Windows' own package"}}},
         nlohmann::json::array(),
         "  oemInf  " + Utf8(windows.path()) + "inf\\oem10.inf  (kept: Windows' own package)"},
        {L"Held PCL6",
         EXIT_RESTART_RECOMMENDED,
         {{{"kind", "package"}, {"path", Utf8(held)}, {"state", "atRestart"}}},
         {Utf8(held) + "x.inf", Utf8(held)},
         "In use, deleted at the next restart:"},
        {L"Device PCL6",
         EXIT_STEP_FAILED,
         {{{"kind", "device"}, {"name", "USBPRINT\\KDEV\\1"}, {"state", "failed"}},
          {{"kind", "oemInf"},
           {"path", Utf8(windows.path()) + "inf\\oem12.inf"},
           {"state", "failed"}}},
         nlohmann::json::array(),
         "  device  USBPRINT\\KDEV\\1  (failed)"},
    };
    for (const bool json : {true, false}) {
        seed("Gone PCL6", "KAVRO", L"oem9.inf", L"gone.inf_amd64_1");
        seed("Inbox Only", "Microsoft", L"oem10.inf", L"");
        seed("Held PCL6", "KAVRO", L"oem11.inf", L"held.inf_amd64_1");
        seed("Device PCL6", "KAVRO", L"oem12.inf", L"");
        for (const Case& c : cases) {
            written.clear();
            Args arguments = {L"remove", L"--driver", c.driver};
            if (json)
                arguments.push_back(L"--json");
            EXPECT_EQ(RunCli(arguments, Keep), c.exitCode) << written;
            if (!json) {
                EXPECT_NE(written.find(c.text + "\n"), std::string::npos) << written;
                continue;
            }
            const nlohmann::json answer = nlohmann::json::parse(written);
            EXPECT_EQ(answer["remains"], c.remains) << written;
            EXPECT_EQ(answer["nothingRemains"], c.remains.empty()) << written;
            EXPECT_EQ(answer["scheduledAtRestart"], c.scheduled) << written;
        }
    }
}

HANDLE const kToken = reinterpret_cast<HANDLE>(0x7070);
BOOL WINAPI FakeOpenToken(HANDLE, DWORD, PHANDLE token) {
    *token = kToken;
    return TRUE;
}
BOOL WINAPI NotElevated(HANDLE, TOKEN_INFORMATION_CLASS type, LPVOID info, DWORD, PDWORD) {
    if (type != TokenElevation)
        return FALSE;
    static_cast<TOKEN_ELEVATION*>(info)->TokenIsElevated = 0;
    return TRUE;
}
BOOL WINAPI CloseFakeToken(HANDLE) {
    return TRUE;
}

TEST_F(CliOnFakeSpooler, RemovalWithoutAdministratorRightsExitsWith5AndTouchesNothing) {
    spooler.printers = {{L"P", L"D"}};
    win32.OpenProcessToken = FakeOpenToken;
    win32.GetTokenInformation = NotElevated;
    win32.CloseHandle = CloseFakeToken;
    written.clear();
    EXPECT_EQ(RunCli({L"remove", L"--printer", L"P", L"--json"}, Keep), EXIT_NOT_ADMINISTRATOR);
    EXPECT_EQ(nlohmann::json::parse(written)["exitCode"], EXIT_NOT_ADMINISTRATOR);
    EXPECT_TRUE(spooler.openedNames.empty()) << "the spooler was asked";
    // The preview needs no rights.
    written.clear();
    EXPECT_EQ(RunCli({L"remove", L"--printer", L"P", L"--what-if"}, Keep), EXIT_OK);
    EXPECT_NE(written.find("P"), std::string::npos);
}

UINT rebootFlags = 0;
DWORD rebootReason = 0;
BOOL WINAPI RecordReboot(UINT flags, DWORD reason) {
    rebootFlags = flags;
    rebootReason = reason;
    return TRUE;
}

BOOL WINAPI KeepPrivileges(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD) {
    return TRUE;
}

TEST(CliRestart, RebootGivesAPlannedMaintenanceReason) {
    ScopedWin32Fakes fakes;
    win32.ExitWindowsEx = RecordReboot;
    win32.OpenProcessToken = FakeOpenToken;
    win32.AdjustTokenPrivileges = KeepPrivileges;
    win32.CloseHandle = CloseFakeToken;
    EXPECT_TRUE(RestartForMaintenance());
    EXPECT_EQ(rebootFlags, UINT{EWX_REBOOT});
    EXPECT_EQ(rebootReason, DWORD{SHTDN_REASON_MAJOR_OTHER | SHTDN_REASON_MINOR_MAINTENANCE |
                                  SHTDN_REASON_FLAG_PLANNED});
}

}  // namespace
