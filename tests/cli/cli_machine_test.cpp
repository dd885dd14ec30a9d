// UninstallCli.exe under Wine on the private prefix, seeded with real
// printers, x64 drivers, driver files, oem INFs and driver-store packages:
// its JSON, its preview and its exit codes, as a deployment script sees them.
// Wine refuses DeletePrinterDriverExW with the delete-files flag (error 87),
// so a driver's removal ends in a failed step here; Windows removes it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include <windows.h>
#include <winspool.h>

#include <nlohmann/json.hpp>

#include "engine/service_control.h"
#include "support/pc_seed.h"
#include "support/seeded_printers.h"
#include "support/spooler_seed.h"
#include "support/test_service.h"
#include "support/test_support.h"
#include "support/uninstall_process.h"

namespace {

using nlohmann::json;

// A removal waits for Wine's spooler hint twice (about 20 s).
constexpr DWORD kRemovalLimitMs = 180000;

std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

class CliOnWine : public ::testing::Test {
  protected:
    void SetUp() override { ResetOperationLog(); }
    void TearDown() override { ResetOperationLog(); }

    DWORD Cli(const std::wstring& arguments,
              std::string& output,
              const std::wstring& program = ExecutableFolder() + L"UninstallCli.exe") {
        return RunProgram(program, arguments, kRemovalLimitMs, &output);
    }

    // The JSON the program printed; a test failure when it is none.
    static json Parsed(const std::string& output) {
        json parsed = json::parse(output, nullptr, false);
        EXPECT_FALSE(parsed.is_discarded()) << output;
        return parsed;
    }

    static const json* RowNamed(const json& list, const std::wstring& name) {
        for (const json& row : list["rows"]) {
            if (row["name"] == Utf8(name))
                return &row;
        }
        return nullptr;
    }

    const std::wstring tag = UniqueTag();
    SavedSpoolerState spoolerState;
    SeededSpooler seeds;
};

TEST_F(CliOnWine, ListJsonHoldsTheSeededPrintersAndDriversWithTheirUsers) {
    const std::wstring driver = L"CLI 共享驱动 " + tag;
    const std::wstring printer = L"CLI 财务部 " + tag;
    ASSERT_TRUE(seeds.AddDriver(driver));
    ASSERT_TRUE(seeds.AddPrinterUsing(printer, driver));
    std::string output;
    ASSERT_EQ(Cli(L"list --json", output), 0u) << output;
    const json list = Parsed(output);
    EXPECT_EQ(list["command"], "list");
    const json* printerRow = RowNamed(list, printer);
    const json* driverRow = RowNamed(list, driver);
    ASSERT_NE(printerRow, nullptr) << output;
    ASSERT_NE(driverRow, nullptr) << output;
    EXPECT_EQ((*printerRow)["kind"], "printer");
    EXPECT_EQ((*driverRow)["kind"], "driver");
    EXPECT_EQ((*driverRow)["driver"]["environment"], "Windows x64");
    EXPECT_EQ((*driverRow)["driver"]["version"], 3);
    EXPECT_EQ((*driverRow)["driver"]["printers"], json({Utf8(printer)}));
    const std::string dataFile = Utf8(SeedFileStem(driver) + L".ppd");
    const json& files = (*driverRow)["driver"]["files"];
    EXPECT_TRUE(std::any_of(files.begin(), files.end(), [&](const json& file) {
        return file.get<std::string>().find(dataFile) != std::string::npos;
    })) << files.dump();
}

TEST_F(CliOnWine, WhatIfNamesFilesInfsAndPackagesFlagsTheCollateralFileAndChangesNothing) {
    const std::wstring driver = L"CLI Preview PCL6 " + tag;
    ASSERT_TRUE(seeds.AddDriver(driver));
    ASSERT_TRUE(AddSeedPackage(driver));
    const std::wstring stem = SeedFileStem(driver);
    wchar_t windows[MAX_PATH] = {};
    ::SHGetSpecialFolderPathW(nullptr, windows, CSIDL_WINDOWS, FALSE);
    const std::wstring inf = std::wstring(windows) + L"\\inf\\oem" + tag + L".inf";
    WriteBytes(inf, "[Strings]\r\nDriverName=\"" + Ansi(driver) + "\"\r\n");
    // Another driver's file whose name contains the data file's name.
    const std::wstring collateral =
        NativeSystem32() + L"\\spool\\drivers\\x64\\3\\X" + stem + L".ppd";
    WriteBytes(collateral, "another driver's data");
    const DWORD spoolerBefore = spoolerState.State();

    std::string output;
    const DWORD exitCode = Cli(L"remove --what-if --json --driver " + Quoted(driver), output);
    const bool infExisted = FileExists(inf);
    ::DeleteFileW(inf.c_str());
    const bool collateralExisted = FileExists(collateral);
    ::DeleteFileW(collateral.c_str());
    const bool packageExisted = FolderExists(SeedPackageFolder(driver));
    RemoveSeedPackage(driver);
    ASSERT_EQ(exitCode, 0u) << output;

    const json answer = Parsed(output);
    const json& preview = answer["preview"];
    EXPECT_EQ(answer["whatIf"], true);
    EXPECT_EQ(preview["printer"], nullptr);
    EXPECT_EQ(preview["driver"], Utf8(driver));
    int own = 0;
    int flagged = 0;
    for (const json& file : preview["driverFiles"]) {
        const std::string path = file["path"];
        if (path.find(Utf8(L"\\X" + stem + L".ppd")) != std::string::npos) {
            flagged += file["collateral"] == true;
        } else if (path.find(Utf8(stem + L".ppd")) != std::string::npos) {
            own += file["collateral"] == false;
        }
    }
    EXPECT_GE(own, 1) << preview.dump(2);
    EXPECT_EQ(flagged, 1) << preview.dump(2);
    EXPECT_EQ(preview["oemInfs"], json({Utf8(inf)}));
    ASSERT_EQ(preview["packages"].size(), 1u) << preview.dump(2);
    // Named as a person finds it, not through Sysnative.
    EXPECT_EQ(preview["packages"][0]["folder"], Utf8(ShownPath(SeedPackageFolder(driver))));
    EXPECT_EQ(preview["packages"][0]["line"], Utf8(L"DriverName=\"" + driver + L"\""));

    // Nothing was removed, and the spooler was left as it was.
    EXPECT_TRUE(infExisted);
    EXPECT_TRUE(collateralExisted);
    EXPECT_TRUE(packageExisted);
    EXPECT_EQ(spoolerState.State(), spoolerBefore);
    std::string list;
    ASSERT_EQ(Cli(L"list --json", list), 0u);
    EXPECT_NE(RowNamed(Parsed(list), driver), nullptr) << "the driver is gone";
}

TEST_F(CliOnWine, BadUsageAndUnknownNamesExitWith2And3) {
    std::string output;
    EXPECT_EQ(Cli(L"remove --printer", output), 2u) << output;
    EXPECT_NE(output.find("Usage:"), std::string::npos);
    EXPECT_EQ(Cli(L"frobnicate", output), 2u) << output;
    EXPECT_EQ(Cli(L"remove --driver " + Quoted(L"No Such Driver " + tag) + L" --json", output), 3u);
    EXPECT_EQ(Parsed(output)["exitCode"], 3);
    EXPECT_EQ(Cli(L"/?", output), 0u);
    EXPECT_NE(output.find("3010"), std::string::npos) << "the usage names the exit codes";
}

// Two printers on one driver: only the printer goes, and the run succeeds.
TEST_F(CliOnWine, RemovingAPrinterOfASharedDriverSucceedsWithExitCode0) {
    const std::wstring driver = L"CLI Shared " + tag;
    const std::wstring removed = L"CLI Removed " + tag;
    const std::wstring kept = L"CLI Kept " + tag;
    ASSERT_TRUE(seeds.AddDriver(driver));
    ASSERT_TRUE(seeds.AddPrinterUsing(removed, driver));
    ASSERT_TRUE(seeds.AddPrinterUsing(kept, driver));
    std::string output;
    EXPECT_EQ(Cli(L"remove --printer " + Quoted(removed), output), 0u) << output;
    EXPECT_FALSE(PrinterExists(removed));
    EXPECT_TRUE(PrinterExists(kept));
    EXPECT_NE(output.find("Removed."), std::string::npos) << output;
}

// Steps of `name` in a report.
size_t StepsNamed(const json& answer, const char* name) {
    return static_cast<size_t>(
        std::count_if(answer["steps"].begin(), answer["steps"].end(),
                      [&](const json& step) { return step["step"] == name; }));
}

// Two printers in one run: one restart, one stop and one start of the
// spooler for both, counted by the stand-in spooler itself (two starts, as
// for one name); the printer that shares their driver and the driver stay.
TEST_F(CliOnWine, TwoPrintersInOneRunStopTheSpoolerOnce) {
    const std::wstring driver = L"CLI Set " + tag;
    const std::vector<std::wstring> printers = {L"CLI Set A " + tag, L"CLI Set B " + tag};
    const std::wstring kept = L"CLI Set Kept " + tag;
    ASSERT_TRUE(seeds.AddDriver(driver));
    for (const std::wstring& printer : printers)
        ASSERT_TRUE(seeds.AddPrinterUsing(printer, driver));
    ASSERT_TRUE(seeds.AddPrinterUsing(kept, driver));
    std::string output;
    DWORD starts = 0;
    {
        StandInSpooler standIn(L"SOFTWARE\\KAVRO Tests\\No broken driver " + tag);
        ASSERT_TRUE(standIn.installed());
        EXPECT_EQ(Cli(L"remove --json --printer " + Quoted(printers[0]) + L" --printer " +
                          Quoted(printers[1]) + L" --printer " + Quoted(printers[0]),
                      output),
                  0u)
            << output;
        starts = standIn.Starts();
    }
    EXPECT_EQ(starts, 2u) << "the restart's start and the one after the files";
    const json answer = Parsed(output);
    EXPECT_EQ(StepsNamed(answer, "RestartSpooler"), 1u) << output;
    EXPECT_EQ(StepsNamed(answer, "StopSpooler"), 1u) << output;
    EXPECT_EQ(StepsNamed(answer, "DeletePrinter"), 2u) << output;
    EXPECT_EQ(answer["result"], "succeeded");
    ASSERT_EQ(answer["names"].size(), 2u) << "a name given twice counts once";
    for (size_t i = 0; i < printers.size(); ++i) {
        EXPECT_EQ(answer["names"][i]["target"]["name"], Utf8(printers[i]));
        EXPECT_EQ(answer["names"][i]["status"], "removed");
        EXPECT_EQ(answer["names"][i]["remains"][0]["reason"], "used by printers " + Utf8(kept))
            << output;
        EXPECT_FALSE(PrinterExists(printers[i]));
    }
    EXPECT_TRUE(PrinterExists(kept));
}

// A driver row: every file step runs; Wine then refuses the spooler's
// deletion, and the report names the failed call and its error.
TEST_F(CliOnWine, FailedStepExitsWith1AndNamesTheFailedCallAndItsError) {
    const std::wstring driver = L"CLI Alone " + tag;
    ASSERT_TRUE(seeds.AddDriver(driver));
    std::string output;
    EXPECT_EQ(Cli(L"remove --json --driver " + Quoted(driver), output), 1u) << output;
    const json answer = Parsed(output);
    EXPECT_EQ(answer["succeeded"], false);
    EXPECT_EQ(answer["exitCode"], 1);
    ASSERT_FALSE(answer["steps"].empty());
    const json& last = answer["steps"].back();
    EXPECT_EQ(last["step"], "DeleteDriver");
    EXPECT_EQ(last["succeeded"], false);
    EXPECT_EQ(last["failedCall"], "DeletePrinterDriverEx");
    EXPECT_EQ(last["error"], 87);
    EXPECT_FALSE(last["errorText"].get<std::string>().empty());
    EXPECT_TRUE(answer["steps"][0]["succeeded"]) << "the spooler restart";
    EXPECT_EQ(CountOf(OperationLogText(), "DeletePrinterDriverEx failed with error 87"), 1)
        << "the operation log gets the same record as from the dialog";
}

// A 64-bit PC as users have it (pc_seed.h), seeded by the 64-bit seeder,
// and taken out again whatever the test did.
class CliOnAPc : public CliOnWine {
  protected:
    void SetUp() override {
        CliOnWine::SetUp();
        seeded_ = RunProgram(Native64Program(L"demo_machine.exe"), L"seed-pc") == 0;
    }
    void TearDown() override {
        RunProgram(Native64Program(L"demo_machine.exe"), L"remove-pc");
        CliOnWine::TearDown();
    }
    bool seeded_ = false;

    // Whether the preview of the driver's removal keeps the oem INF for `reason`.
    ::testing::AssertionResult PreviewKeeps(const wchar_t* driver,
                                            const wchar_t* oemInf,
                                            const std::string& reason) {
        std::string output;
        if (Cli(L"remove --what-if --json --driver " + Quoted(driver), output) != 0)
            return ::testing::AssertionFailure() << output;
        const json kept = Parsed(output)["preview"]["kept"];
        const json entry = {{"path", Utf8(PcInfFolder() + oemInf)}, {"reason", reason}};
        if (std::find(kept.begin(), kept.end(), entry) == kept.end())
            return ::testing::AssertionFailure() << output;
        return ::testing::AssertionSuccess();
    }
};

// Whether each file of `files` is in the folder of `environment`, by name.
std::vector<std::string> Missing(const wchar_t* environment, std::vector<const wchar_t*> files) {
    std::vector<std::string> missing;
    for (const wchar_t* file : files) {
        if (!FileExists(PcDriverFolder(environment) + file))
            missing.push_back(Utf8(file));
    }
    return missing;
}

std::vector<std::string> Present(const wchar_t* environment, std::vector<const wchar_t*> files) {
    std::vector<std::string> present;
    for (const wchar_t* file : files) {
        if (FileExists(PcDriverFolder(environment) + file))
            present.push_back(Utf8(file));
    }
    return present;
}

// The instance ids of a report's devices, with their oem INFs.
std::vector<std::string> DevicesIn(const json& devices) {
    std::vector<std::string> ids;
    for (const json& device : devices)
        ids.push_back(device["instanceId"].get<std::string>() + " " +
                      device["oemInf"].get<std::string>());
    return ids;
}

std::string DeviceOf(size_t index) {
    return Utf8(PC_DEVICES[index].instanceId) + " " + Utf8(PC_DEVICES[index].infPath);
}

// The instance ids of PC_DEVICES that no longer exist.
std::vector<std::string> DevicesGone() {
    std::vector<std::string> gone;
    for (const PcDevice& device : PC_DEVICES) {
        if (!DeviceNodeExists(device.instanceId))
            gone.push_back(Utf8(device.instanceId));
    }
    return gone;
}

// The four drivers users removed one after the other. Each takes its own
// files, oem INF and package, also from UTF-16 INFs; nothing that another
// driver, the scanner or Windows uses goes, also not Windows Update's
// ntprint.inf published as oem9.inf. Wine then refuses the spooler's deletion
// of the record (error 87), so each run ends with exit code 1 at DeleteDriver.
TEST_F(CliOnAPc, RemovalsInARowTakeTheirOwnAndLeaveWhatOthersUse) {
    ASSERT_TRUE(seeded_);
    const wchar_t* x64 = L"Windows x64";
    const wchar_t* x86 = L"Windows NT x86";
    std::string output;

    // Each driver row lists the devices installed as that model.
    ASSERT_EQ(Cli(L"list --json", output), 0u) << output;
    const json list = Parsed(output);
    const std::vector<std::pair<const wchar_t*, std::vector<std::string>>> listed = {
        {PC_SECOND_VENDOR_PS, {DeviceOf(0), DeviceOf(1)}},
        {PC_VENDOR_GDI, {DeviceOf(2)}},
        {L"KAVRO MF6000 PCL6 PS", {}},
        {PC_GENERIC_TEXT, {DeviceOf(4)}},
        {PC_CHINESE_VENDOR, {}}};
    for (const auto& [driver, devices] : listed) {
        const json* row = RowNamed(list, driver);
        ASSERT_NE(row, nullptr) << Utf8(driver);
        EXPECT_EQ(DevicesIn((*row)["driver"]["devices"]), devices) << Utf8(driver);
    }

    // The preview says beforehand what goes and what stays, and changes nothing.
    ASSERT_EQ(Cli(L"remove --what-if --json --driver " + Quoted(PC_SECOND_VENDOR_PS), output), 0u)
        << output;
    const json preview = Parsed(output)["preview"];
    EXPECT_EQ(DevicesIn(preview["devices"]), (std::vector<std::string>{DeviceOf(0), DeviceOf(1)}));
    EXPECT_EQ(preview["devices"][1]["description"], "Lumen PS3 Universal (WSD)");
    EXPECT_EQ(DevicesGone(), std::vector<std::string>{});
    EXPECT_EQ(preview["environments"], json({"Windows x64", "Windows NT x86"})) << output;
    EXPECT_EQ(preview["oemInfs"], json({Utf8(PcInfFolder() + L"oem14.inf")})) << output;
    // PostScript's core files in x64\3\ stay: other PostScript drivers use them.
    int keptCore = 0;
    for (const json& kept : preview["kept"]) {
        const std::string path = kept["path"];
        keptCore += kept["reason"].get<std::string>().rfind("used by driver ", 0) == 0 &&
                    (path.find("\\x64\\3\\PSCRIPT.NTF") != std::string::npos ||
                     path.find("\\x64\\3\\PS_SCHM.GDL") != std::string::npos);
    }
    EXPECT_EQ(keptCore, 2) << preview["kept"].dump(2);
    EXPECT_GE(preview["windowsPackagesKept"], 4);
    EXPECT_TRUE(Missing(x64, {L"LUMPS3.PPD", L"LUMPS3.INI"}).empty());

    EXPECT_EQ(Cli(L"remove --json --driver " + Quoted(PC_SECOND_VENDOR_PS), output), 1u) << output;
    EXPECT_EQ(Parsed(output)["steps"].back()["error"], 87) << output;
    EXPECT_EQ(Present(x64, {L"LUMPS3.PPD", L"LUMPS3.INI"}), std::vector<std::string>{});
    EXPECT_EQ(Present(x86, {L"LUMPS3.PPD", L"LUMPS3.INI", L"PSCRIPT.NTF", L"PS_SCHM.GDL"}),
              std::vector<std::string>{});
    EXPECT_EQ(Missing(x64, {L"PSCRIPT.NTF", L"PS_SCHM.GDL"}), std::vector<std::string>{});
    EXPECT_FALSE(FileExists(PcInfFolder() + L"oem14.inf"));
    EXPECT_FALSE(FolderExists(PcStoreFolder(L"lumps3.inf_amd64_0f1e2d3c4b5a6978")));
    // Both printers of the package, before it, and no other device.
    const std::vector<std::string> lumenDevices = {Utf8(PC_DEVICES[0].instanceId),
                                                   Utf8(PC_DEVICES[1].instanceId)};
    EXPECT_EQ(DevicesGone(), lumenDevices);

    EXPECT_TRUE(PreviewKeeps(PC_VENDOR_GDI, L"oem12.inf", "used by driver KAVRO MF6000 PCL6 PS"));
    EXPECT_EQ(Cli(L"remove --driver " + Quoted(PC_VENDOR_GDI), output), 1u) << output;
    EXPECT_EQ(Present(x64, {L"KVMF6000.GPD", L"KVMFRES.DLL"}), std::vector<std::string>{});
    EXPECT_EQ(Missing(x64, {L"KVMFCOM.DLL", L"KVMF6000.ICM", L"KVMF6000.PPD"}),
              std::vector<std::string>{});
    for (const wchar_t* inf : {L"oem12.inf", L"oem13.inf"})
        EXPECT_TRUE(FileExists(PcInfFolder() + inf)) << Utf8(inf);
    EXPECT_TRUE(FolderExists(PcStoreFolder(L"kvmf6000.inf_amd64_3c1d9e0f4a2b7c65")));
    EXPECT_TRUE(FolderExists(PcStoreFolder(L"kvmfscan.inf_amd64_8e2f7a9b1c3d5e60")));

    EXPECT_TRUE(PreviewKeeps(PC_GENERIC_TEXT, L"oem9.inf", "Windows' own package"));
    EXPECT_EQ(Cli(L"remove --driver " + Quoted(PC_GENERIC_TEXT), output), 1u) << output;
    EXPECT_EQ(Present(x64, {L"TTY.GPD", L"TTYRES.DLL", L"TTY.INI", L"TTYUI.DLL"}),
              std::vector<std::string>{});

    // A Chinese name, found in the UTF-16 INF's [Strings.0804] only.
    EXPECT_EQ(Cli(L"remove --driver " + Quoted(PC_CHINESE_VENDOR), output), 1u) << output;
    EXPECT_EQ(Present(x64, {L"KV2100.GPD", L"KV2100RES.DLL"}), std::vector<std::string>{});
    EXPECT_FALSE(FileExists(PcInfFolder() + L"oem15.inf"));
    EXPECT_FALSE(FolderExists(PcStoreFolder(L"kv2100.inf_amd64_6d0e4f2a8b1c3957")));

    // Every other driver's files and every package but the one removed.
    for (const PcDriver& driver : PC_DRIVERS) {
        const std::wstring name = driver.name;
        if (name == PC_SECOND_VENDOR_PS || name == PC_VENDOR_GDI || name == PC_GENERIC_TEXT ||
            name == PC_CHINESE_VENDOR)
            continue;
        std::vector<const wchar_t*> files = driver.dependents;
        for (const wchar_t* file : driver.main) {
            if (*file != 0)
                files.push_back(file);
        }
        EXPECT_EQ(Missing(driver.environment, files), std::vector<std::string>{}) << Utf8(name);
    }
    for (const PcPackage& package : PC_PACKAGES) {
        const std::wstring published = package.published;
        if (published != L"oem14.inf" && published != L"oem15.inf") {
            EXPECT_TRUE(FolderExists(PcStoreFolder(package.folder))) << Utf8(package.folder);
            EXPECT_TRUE(FileExists(PcInfFolder() + package.published)) << Utf8(package.published);
        }
    }
    // The other model's, the scanner's and Windows' package's devices stay.
    EXPECT_EQ(DevicesGone(), lumenDevices);
}

// Deletes a driver's spooler records as "Remove device" or printui /dd
// leave it: files, oem INF and package stay.
bool DeleteRecordOnly(const wchar_t* environment, const wchar_t* name) {
    return ::DeletePrinterDriverExW(nullptr, const_cast<wchar_t*>(environment),
                                    const_cast<wchar_t*>(name), 0, 0) != FALSE;
}

// A driver whose records are gone while its package stays: the list shows the
// package as unused, the preview names what remains and changes nothing, and
// the removal takes it (exit code 3010) but for what other drivers use. A
// package of which another model stays installed is kept (exit code 0).
TEST_F(CliOnAPc, LeftoversOfADeletedDriverArePreviewedAndRemovedButWhatOthersUseStays) {
    ASSERT_TRUE(seeded_);
    const wchar_t* x64 = L"Windows x64";
    const wchar_t* x86 = L"Windows NT x86";
    ASSERT_TRUE(DeleteRecordOnly(x64, PC_SECOND_VENDOR_PS));
    ASSERT_TRUE(DeleteRecordOnly(x86, PC_SECOND_VENDOR_PS));
    const std::wstring package = PcStoreFolder(L"lumps3.inf_amd64_0f1e2d3c4b5a6978");
    std::string output;

    ASSERT_EQ(Cli(L"list --json", output), 0u) << output;
    const json list = Parsed(output);
    const json* gdi = RowNamed(list, PC_VENDOR_GDI);
    ASSERT_NE(gdi, nullptr) << output;
    EXPECT_EQ((*gdi)["driver"]["monitor"], Utf8(PC_KAVRO_MONITOR));
    const json unused = list["unusedPackages"];
    ASSERT_EQ(unused.size(), 1u) << unused.dump(2);
    EXPECT_EQ(unused[0]["folder"], Utf8(ShownPath(package)));
    EXPECT_EQ(unused[0]["models"], json({Utf8(PC_SECOND_VENDOR_PS), "Lumen PS3 通用"}));

    ASSERT_EQ(Cli(L"remove --what-if --json --driver " + Quoted(PC_SECOND_VENDOR_PS), output), 0u)
        << output;
    const json preview = Parsed(output);
    EXPECT_EQ(preview["leftovers"], true);
    EXPECT_EQ(preview["preview"]["oemInfs"], json({Utf8(PcInfFolder() + L"oem14.inf")}));
    EXPECT_EQ(preview["preview"]["packages"].size(), 1u) << output;
    EXPECT_EQ(preview["preview"]["monitors"][0]["dll"],
              Utf8(ShownPath(NativeSystem32() + L"\\lumenlm.dll")))
        << output;
    EXPECT_EQ(preview["preview"]["printProcessors"][0]["name"], Utf8(PC_LUMEN_PROCESSOR)) << output;
    EXPECT_TRUE(FolderExists(package));

    EXPECT_EQ(DevicesIn(preview["preview"]["devices"]),
              (std::vector<std::string>{DeviceOf(0), DeviceOf(1)}));

    EXPECT_EQ(Cli(L"remove --json --driver " + Quoted(PC_SECOND_VENDOR_PS), output), 3010u)
        << output;
    EXPECT_EQ(Parsed(output)["steps"][0]["step"], "RemoveDevices") << output;
    EXPECT_EQ(DevicesGone(), (std::vector<std::string>{Utf8(PC_DEVICES[0].instanceId),
                                                       Utf8(PC_DEVICES[1].instanceId)}));
    EXPECT_FALSE(FolderExists(package));
    EXPECT_FALSE(FileExists(PcInfFolder() + L"oem14.inf"));
    EXPECT_EQ(Present(x64, {L"LUMPS3.PPD", L"LUMPS3.INI"}), std::vector<std::string>{});
    EXPECT_EQ(Present(x86, {L"LUMPS3.PPD", L"PSCRIPT5.DLL", L"PSCRIPT.NTF"}),
              std::vector<std::string>{});
    EXPECT_EQ(Missing(x64, {L"PSCRIPT5.DLL", L"PS5UI.DLL", L"PSCRIPT.NTF", L"PS_SCHM.GDL"}),
              std::vector<std::string>{});
    EXPECT_EQ(spoolerState.State(), DWORD{SERVICE_RUNNING}) << "the spooler was started again";
    // Lumen's own language monitor and print processor went with it, DLLs too.
    const std::wstring processorDll = NativeSystem32() + L"\\spool\\prtprocs\\x64\\lumenpp.dll";
    EXPECT_FALSE(PcMonitorRegistered(PC_LUMEN_MONITOR));
    EXPECT_FALSE(FileExists(NativeSystem32() + L"\\lumenlm.dll"));
    EXPECT_FALSE(PcPrintProcessorRegistered(PC_LUMEN_PROCESSOR));
    EXPECT_FALSE(FileExists(processorDll));
    for (const json& item : Parsed(output)["remains"])
        EXPECT_NE(item["kind"], "monitor") << output;

    // KAVRO's monitor, which the installed MF6000 PCL6 names, stays with its
    // DLL; so does "PJL Language Monitor", which the package has only
    // through Needs=UNIDRV_BIDI.OEM of Windows' ntprint.inf.
    ASSERT_TRUE(DeleteRecordOnly(x64, PC_CHINESE_VENDOR));
    EXPECT_EQ(Cli(L"remove --json --driver " + Quoted(PC_CHINESE_VENDOR), output), 3010u) << output;
    EXPECT_EQ(Parsed(output)["monitors"], json({{{"name", Utf8(PC_KAVRO_MONITOR)},
                                                 {"environment", nullptr},
                                                 {"dll", nullptr},
                                                 {"goes", false},
                                                 {"reason", "used by driver KAVRO MF6000 PCL6"},
                                                 {"dllKeptBecause", nullptr}}}))
        << output;
    const json remains = Parsed(output)["remains"];
    const json keptMonitor = {{"kind", "monitor"},
                              {"name", Utf8(PC_KAVRO_MONITOR)},
                              {"state", "kept"},
                              {"reason", "used by driver KAVRO MF6000 PCL6"}};
    EXPECT_NE(std::find(remains.begin(), remains.end(), keptMonitor), remains.end()) << output;
    EXPECT_TRUE(PcMonitorRegistered(PC_KAVRO_MONITOR));
    EXPECT_TRUE(FileExists(NativeSystem32() + L"\\kvlangmon.dll"));
    EXPECT_TRUE(PcMonitorRegistered(PC_PJL_MONITOR));

    ASSERT_TRUE(DeleteRecordOnly(x64, PC_VENDOR_GDI));

    EXPECT_EQ(Cli(L"remove --json --driver " + Quoted(PC_VENDOR_GDI), output), 0u) << output;
    EXPECT_EQ(Parsed(output)["leftovers"], true);
    EXPECT_TRUE(FileExists(PcInfFolder() + L"oem12.inf"));
    EXPECT_TRUE(FolderExists(PcStoreFolder(L"kvmf6000.inf_amd64_3c1d9e0f4a2b7c65")));
    EXPECT_TRUE(DeviceNodeExists(PC_DEVICES[2].instanceId));
    EXPECT_EQ(Cli(L"remove --driver " + Quoted(PC_SECOND_VENDOR_PS), output), 3u) << output;
}

// The restart's list of files to delete (REG_MULTI_SZ), as it was when the
// object was made; put back on destruction, whatever the test scheduled.
class SavedPendingRenames {
  public:
    SavedPendingRenames() { had_ = Read(saved_); }
    ~SavedPendingRenames() {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
            return;
        if (had_) {
            ::RegSetValueExW(key, kValue, 0, REG_MULTI_SZ,
                             reinterpret_cast<const BYTE*>(saved_.data()),
                             static_cast<DWORD>(saved_.size() * sizeof(wchar_t)));
        } else {
            ::RegDeleteValueW(key, kValue);
        }
        ::RegCloseKey(key);
    }
    SavedPendingRenames(const SavedPendingRenames&) = delete;
    SavedPendingRenames& operator=(const SavedPendingRenames&) = delete;

    // Whether `path` is listed for deletion (an empty target after it).
    static bool Lists(const std::wstring& path) {
        std::wstring entries;
        Read(entries);
        const std::wstring wanted = UpperOf(L"\\??\\" + path);
        for (size_t at = 0; at < entries.size() && entries[at] != 0;) {
            const std::wstring source = entries.c_str() + at;
            at += source.size() + 1;
            const std::wstring target = at < entries.size() ? entries.c_str() + at : L"";
            at += target.size() + 1;
            if (UpperOf(source) == wanted && target.empty())
                return true;
        }
        return false;
    }

  private:
    static constexpr const wchar_t* kKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    static constexpr const wchar_t* kValue = L"PendingFileRenameOperations";
    static std::wstring UpperOf(std::wstring text) {
        for (wchar_t& c : text)
            c = static_cast<wchar_t>(::towupper(c));
        return text;
    }
    static bool Read(std::wstring& entries) {
        DWORD size = 0;
        if (::RegGetValueW(HKEY_LOCAL_MACHINE, kKey, kValue, RRF_RT_REG_MULTI_SZ, nullptr, nullptr,
                           &size) != ERROR_SUCCESS)
            return false;
        entries.assign(size / sizeof(wchar_t) + 1, L'\0');
        return ::RegGetValueW(HKEY_LOCAL_MACHINE, kKey, kValue, RRF_RT_REG_MULTI_SZ, nullptr,
                              entries.data(), &size) == ERROR_SUCCESS;
    }
    std::wstring saved_;
    bool had_ = false;
};

// Another program holding a file open without delete sharing (the 64-bit
// seeder's "hold"), until the object is released or destroyed.
class HeldFile {
  public:
    explicit HeldFile(const std::wstring& path) {
        const std::wstring event = L"ktest-hold-" + std::to_wstring(::GetCurrentProcessId());
        held_ = ::CreateEventW(nullptr, TRUE, FALSE, (event + L"-held").c_str());
        release_ = ::CreateEventW(nullptr, TRUE, FALSE, (event + L"-release").c_str());
        const std::wstring program = Native64Program(L"demo_machine.exe");
        std::wstring commandLine = L"\"" + program + L"\" hold \"" + path + L"\" " + event;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started{};
        if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                              nullptr, nullptr, &startup, &started))
            return;
        ::CloseHandle(started.hThread);
        process_ = started.hProcess;
        holding_ = ::WaitForSingleObject(held_, 30000) == WAIT_OBJECT_0;
    }
    ~HeldFile() {
        Release();
        ::CloseHandle(held_);
        ::CloseHandle(release_);
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;
    bool Holding() const { return holding_; }
    void Release() {
        if (process_ == nullptr)
            return;
        ::SetEvent(release_);
        if (::WaitForSingleObject(process_, 30000) != WAIT_OBJECT_0)
            ::TerminateProcess(process_, 1);
        ::CloseHandle(process_);
        process_ = nullptr;
    }

  private:
    HANDLE held_ = nullptr;
    HANDLE release_ = nullptr;
    HANDLE process_ = nullptr;
    bool holding_ = false;
};

// A driver whose interface DLL an application holds open: everything else
// goes at once, the DLL at the restart (Windows' list of pending deletions),
// exit code 3010 with the file named, and the restart deletes it.
TEST_F(CliOnAPc, HeldInterfaceDllGoesAtTheRestartAndEverythingElseAtOnce) {
    ASSERT_TRUE(seeded_);
    SavedPendingRenames pendingRenames;
    const wchar_t* x64 = L"Windows x64";
    ASSERT_TRUE(DeleteRecordOnly(x64, PC_CHINESE_VENDOR));
    const std::wstring config = PcDriverFolder(x64) + L"KV2100UI.DLL";
    const std::wstring shown = ShownPath(config);
    HeldFile held(shown);
    ASSERT_TRUE(held.Holding());

    std::string output;
    EXPECT_EQ(Cli(L"remove --json --driver " + Quoted(PC_CHINESE_VENDOR), output), 3010u) << output;
    const json answer = Parsed(output);
    EXPECT_EQ(answer["succeeded"], true);
    EXPECT_EQ(answer["scheduledAtRestart"], json({Utf8(shown)})) << output;
    // The held file, and the language monitor that another driver shares.
    EXPECT_EQ(answer["remains"],
              json({{{"kind", "file"}, {"path", Utf8(shown)}, {"state", "atRestart"}},
                    {{"kind", "monitor"},
                     {"name", Utf8(PC_KAVRO_MONITOR)},
                     {"state", "kept"},
                     {"reason", "used by driver KAVRO MF6000 PCL6"}}}))
        << output;
    EXPECT_EQ(Present(x64, {L"KV2100.DLL", L"KV2100.GPD", L"KV2100RES.DLL"}),
              std::vector<std::string>{});
    EXPECT_FALSE(FileExists(PcInfFolder() + L"oem15.inf"));
    EXPECT_FALSE(FolderExists(PcStoreFolder(L"kv2100.inf_amd64_6d0e4f2a8b1c3957")));
    EXPECT_TRUE(SavedPendingRenames::Lists(shown));
    EXPECT_EQ(spoolerState.State(), DWORD{SERVICE_RUNNING});
    EXPECT_EQ(CountOf(OperationLogText(), Ansi(L"文件正在使用，将在重启后删除：" + shown)), 1);

    held.Release();
    ASSERT_TRUE(FileExists(config));
    EXPECT_EQ(RunProgram(NativeSystem32() + L"\\wineboot.exe", L"-r", 120000), 0u);
    EXPECT_FALSE(FileExists(config)) << "deleted at the restart";
    EXPECT_FALSE(SavedPendingRenames::Lists(shown));
}

// A driver that a printer uses: nothing changes and the printer is named;
// with --with-printers the printer goes first, then the driver.
TEST_F(CliOnWine, DriverThatAPrinterUsesIsRefusedUnlessItsPrintersGoToo) {
    const std::wstring driver = L"CLI In Use " + tag;
    const std::wstring printer = L"CLI 前台 " + tag;
    ASSERT_TRUE(seeds.AddDriver(driver));
    ASSERT_TRUE(seeds.AddPrinterUsing(printer, driver));
    const DWORD spoolerBefore = spoolerState.State();
    std::string output;
    EXPECT_EQ(Cli(L"remove --json --driver " + Quoted(driver), output), 1u) << output;
    const json refused = Parsed(output);
    EXPECT_EQ(refused["printersUsingDriver"], json({Utf8(printer)})) << output;
    EXPECT_EQ(refused.count("steps"), 0u) << "nothing ran";
    EXPECT_TRUE(PrinterExists(printer));
    EXPECT_EQ(spoolerState.State(), spoolerBefore);

    EXPECT_EQ(Cli(L"remove --what-if --json --with-printers --driver " + Quoted(driver), output),
              0u);
    EXPECT_EQ(Parsed(output)["preview"]["printers"], json({Utf8(printer)})) << output;
    EXPECT_EQ(Cli(L"remove --json --with-printers --driver " + Quoted(driver), output), 1u);
    const json removed = Parsed(output);
    EXPECT_FALSE(PrinterExists(printer));
    EXPECT_EQ(removed["steps"].back()["step"], "DeleteDriver") << "Wine's 87, after the printer";
}

// A driver that keeps the spooler from running: a stand-in spooler stops at
// once, with 1067, at every start while the driver's key exists. The removal
// goes on through the spooler's registry: the driver's key, its printer, its
// files and its package go, the other driver and its printer stay, and the
// spooler runs again. (Wine's spooler calls work without the service, so the
// printers and records are seen through them here.)
TEST_F(CliOnWine, DriverThatKeepsTheSpoolerFromRunningIsRemovedThroughItsRegistry) {
    const std::wstring driver = L"CLI Crashing " + tag;
    const std::wstring printer = L"CLI Crash Queue " + tag;
    const std::wstring other = L"CLI Other " + tag;
    const std::wstring otherPrinter = L"CLI Other Queue " + tag;
    ASSERT_TRUE(seeds.AddDriver(driver));
    ASSERT_TRUE(seeds.AddPrinterUsing(printer, driver));
    ASSERT_TRUE(seeds.AddDriver(other));
    ASSERT_TRUE(seeds.AddPrinterUsing(otherPrinter, other));
    ASSERT_TRUE(AddSeedPackage(driver));
    const std::wstring folder = NativeSystem32() + L"\\spool\\drivers\\x64\\3\\";
    auto filesOf = [&](const std::wstring& name) {
        const std::wstring stem = SeedFileStem(name);
        return std::vector<std::wstring>{folder + stem + L"drv.dll", folder + stem + L"ui.dll",
                                         folder + stem + L".ppd"};
    };
    for (const std::wstring& file : filesOf(driver))
        ASSERT_TRUE(FileExists(file)) << Utf8(file);
    std::string output;
    {
        StandInSpooler standIn(X64DriverKey(driver));
        ASSERT_TRUE(standIn.installed());
        EXPECT_EQ(Cli(L"remove --json --with-printers --driver " + Quoted(driver), output), 3010u)
            << output;
        EXPECT_EQ(spoolerState.State(), DWORD{SERVICE_RUNNING}) << "the spooler runs again";
    }
    const bool packageLeft = FolderExists(SeedPackageFolder(driver));
    RemoveSeedPackage(driver);

    const json answer = Parsed(output);
    EXPECT_EQ(answer["succeeded"], true);
    EXPECT_EQ(answer["spoolerRegistry"], true);
    EXPECT_EQ(answer["spoolerRunsAgain"], true);
    ASSERT_FALSE(answer["steps"].empty());
    EXPECT_EQ(answer["steps"][0]["step"], "RestartSpooler");
    EXPECT_EQ(answer["steps"][0]["error"], 1067);
    EXPECT_FALSE(MachineKeyExists(X64DriverKey(driver)));
    EXPECT_FALSE(PrinterExists(printer));
    for (const std::wstring& file : filesOf(driver))
        EXPECT_FALSE(FileExists(file)) << Utf8(file);
    EXPECT_FALSE(packageLeft);
    EXPECT_TRUE(MachineKeyExists(X64DriverKey(other)));
    EXPECT_TRUE(PrinterExists(otherPrinter));
    for (const std::wstring& file : filesOf(other))
        EXPECT_TRUE(FileExists(file)) << Utf8(file);
    EXPECT_EQ(CountOf(OperationLogText(), Ansi(L"服务启动后随即停止 failed with error 1067")),
              SPOOLER_START_ATTEMPTS);
}

// Every model of one package, both records deleted: their leftovers go in
// one run, and with them the package that either alone keeps for the other
// (see above), its oem INF and its printer's device; the scanner's stays.
TEST_F(CliOnAPc, LeftoversOfBothModelsOfAPackageGoInOneRunWithThePackage) {
    ASSERT_TRUE(seeded_);
    const wchar_t* ps = L"KAVRO MF6000 PCL6 PS";
    ASSERT_TRUE(DeleteRecordOnly(L"Windows x64", PC_VENDOR_GDI));
    ASSERT_TRUE(DeleteRecordOnly(L"Windows x64", ps));
    const std::wstring package = PcStoreFolder(L"kvmf6000.inf_amd64_3c1d9e0f4a2b7c65");
    std::string output;
    EXPECT_EQ(Cli(L"remove --json --driver " + Quoted(PC_VENDOR_GDI) + L" --driver " + Quoted(ps),
                  output),
              3010u)
        << output;
    const json answer = Parsed(output);
    EXPECT_LE(StepsNamed(answer, "StopSpooler"), 1u) << output;
    EXPECT_EQ(StepsNamed(answer, "StartSpooler"), StepsNamed(answer, "StopSpooler")) << output;
    EXPECT_EQ(StepsNamed(answer, "RemoveDevices"), 1u) << output;
    ASSERT_EQ(answer["names"].size(), 2u) << output;
    for (const json& name : answer["names"]) {
        EXPECT_EQ(name["leftovers"], true) << output;
        for (const json& item :
             name["remains"])  // Windows Update's ntprint.inf names the GDI model
            EXPECT_EQ(item["state"], "kept") << output;
    }
    EXPECT_FALSE(FolderExists(package));
    EXPECT_FALSE(FileExists(PcInfFolder() + L"oem12.inf"));
    EXPECT_EQ(DevicesGone(), std::vector<std::string>{Utf8(PC_DEVICES[2].instanceId)});
    EXPECT_TRUE(FileExists(PcInfFolder() + L"oem13.inf")) << "the scanner's package";
}

#if !defined(_WIN64)
// The 32-bit program of the package runs the command in x64\UninstallCli.exe
// and ends with its exit code; the output reaches the caller all the same.
TEST_F(CliOnWine, Packaged32BitProgramRunsTheCommandInThe64BitCopy) {
    ScratchFolder package;
    const std::wstring program = LayOutPackage(package.path(), L"UninstallCli.exe");
    ASSERT_FALSE(program.empty());
    std::string output;
    EXPECT_EQ(
        Cli(L"remove --driver " + Quoted(L"No Such Driver " + tag) + L" --json", output, program),
        3u);
    EXPECT_EQ(Parsed(output)["exitCode"], 3);

    // The answer is the copy's: a stand-in copy answers with its own usage.
    ASSERT_TRUE(::CopyFileW(Native64Program(L"demo_machine.exe").c_str(),
                            (package.path() + L"x64\\UninstallCli.exe").c_str(), FALSE));
    EXPECT_EQ(Cli(L"list", output, program), 2u);
    EXPECT_NE(output.find("usage: demo_machine"), std::string::npos) << output;
}
#endif

}  // namespace
