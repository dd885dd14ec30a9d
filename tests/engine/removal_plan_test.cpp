// What a removal takes and keeps, decided on a small PC shaped like a
// Windows 10 x64 one: Windows' own drivers and packages beside a vendor
// package with two models, the same device's scanner package, two PostScript
// drivers sharing core files, and an x86 twin. The driver records are fakes;
// the files are real files in a scratch Windows folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "engine/inf_sections.h"
#include "engine/removal_2_plan.h"
#include "engine/removal_plan.h"
#include "fakes/driver_block.h"
#include "fakes/fake_machine.h"
#include "fakes/fake_print_registry.h"
#include "support/test_support.h"

namespace {

// --- The INF texts' own rules ----------------------------------------------

struct ReasonCase {
    const char* what;
    std::string inf;
    std::wstring expected;
};

TEST(PackageKeepRule, RemainingModelsOtherClassesAndWholeValues) {
    const std::vector<std::wstring> remaining = {L"KAVRO MF6000 PCL6", L"Generic / Text Only"};
    const std::vector<ReasonCase> cases = {
        {"a quoted model of the package",
         "[Models]\r\n\"kavro mf6000 pcl6\" = GDI, USBPRINT\\K1\r\n",
         L"used by driver KAVRO MF6000 PCL6"},
        {"a whole unquoted [Strings] value", "[Strings]\r\nGdi = KAVRO MF6000 PCL6 ; model\r\n",
         L"used by driver KAVRO MF6000 PCL6"},
        {"a name contained in a longer one", "[Strings]\r\nPs=\"KAVRO MF6000 PCL6 PS\"\r\n", L""},
        {"a name in a comment only", "; replaces KAVRO MF6000 PCL6\r\n", L""},
        {"a scanner",
         "[Version]\r\nClass=Image ; scanner\r\n[Strings]\r\nM=\"KAVRO MF6000 PCL6\"\r\n",
         L"another device class (Image)"},
        {"another class GUID",
         "[version]\r\nClassGUID = {6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\r\n",
         L"another device class ({6BDD1FC6-810F-11D0-BEC7-08002BE2092F})"},
        {"printers by name and GUID",
         "[Version]\r\nClass=\"Printer\"\r\nClassGuid={4d36e979-e325-11ce-bfc1-08002be10318}\r\n",
         L""},
        {"a class-less INF", "[Version]\r\nSignature=\"$Windows NT$\"\r\n", L""},
        {"Class outside [Version]", "[Other]\r\nClass=Image\r\n", L""},
    };
    for (const ReasonCase& c : cases) {
        const std::wstring text(c.inf.begin(), c.inf.end());
        EXPECT_EQ(ReasonToKeepPackage(text, remaining), c.expected) << c.what;
    }
}

TEST(PackageKeepRule, AnotherModelsPackageDeclaresModelsNoneOfWhichIsTheDriver) {
    const std::wstring models = L"[Manufacturer]\r\n%K%=K,NTamd64\r\n[K.NTamd64]\r\n";
    const std::vector<std::pair<std::wstring, std::wstring>> cases = {
        {models + L"\"KAVRO X 2\" = X2\r\n\"KAVRO Y\" = Y\r\n",
         L"another model's package (KAVRO X 2)"},
        {models + L"\"KAVRO Y\" = Y\r\n[Strings]\r\nDesc=\"replaces KAVRO X\"\r\n",
         L"another model's package (KAVRO Y)"},
        {models + L"\"KAVRO X 2\" = X2\r\n\"kavro x\" = X\r\n", L""},
        // Declared in one language only: the Chinese Windows' driver name.
        {models + L"%X% = X\r\n[Strings]\r\nX=\"KAVRO X English\"\r\n[Strings.0804]\r\n"
                  L"X=\"KAVRO X\"\r\n",
         L""},
        {L"[Strings]\r\nModel=\"KAVRO X 2\"\r\n", L""},  // no models: matched as by name
    };
    for (const auto& [inf, expected] : cases)
        EXPECT_EQ(OtherModelsPackage(inf, L"KAVRO X"), expected) << Utf8(inf);
}

TEST(InfSections, ModelsInEveryLanguageAndTheFilesInstalledForOne) {
    const std::wstring text =
        L"[Manufacturer]\r\n%Mfg% = KV, NTamd64\r\n"
        L"[KV.NTamd64]\r\n%Gdi% = GDI, USBPRINT\\K1 ; the GDI model\r\n"
        L"\"%Mfg% MF6000 PCL6 PS\" = PS, USBPRINT\\K2\r\n"
        L"[KV]\r\n%Gdi% = GDI\r\n"
        L"[GDI]\r\nCopyFiles = @kvgdi.gpd, GDI_FILES, MISSING_SECTION\r\nDataFile = kvgdi.gpd\r\n"
        L"DriverFile = \"KVGDI.DLL\"\r\nInclude = ntprint.inf\r\nNeeds = UNIDRV.OEM\r\n"
        L"[GDI_FILES]\r\nKVCOMMON.DLL,,,0x20 ; shared with PS\r\nkvres.dll\r\n"
        L"[PS]\r\nCopyFiles = @KVPS.PPD\r\n"
        L"[Strings]\r\nMfg = \"KAVRO\"\r\nGdi = \"KAVRO MF6000 PCL6\"\r\n"
        L"[Strings.0804]\r\nMfg = \"\u5C9A\u62D3\"\r\nGdi = \"\u5C9A\u62D3 MF6000 PCL6\"\r\n"
        L"[Strings.0409]\r\nMfg = \"KAVRO\"\r\n";
    EXPECT_EQ(ModelNames(text),
              (std::vector<std::wstring>{L"KAVRO MF6000 PCL6", L"\u5C9A\u62D3 MF6000 PCL6",
                                         L"KAVRO MF6000 PCL6 PS", L"\u5C9A\u62D3 MF6000 PCL6 PS"}));
    const std::vector<std::wstring> gdiFiles = {L"KVGDI.GPD", L"KVCOMMON.DLL", L"KVRES.DLL",
                                                L"KVGDI.DLL"};
    EXPECT_EQ(FilesInstalledFor(text, L"kavro mf6000 pcl6"), gdiFiles);
    EXPECT_EQ(FilesInstalledFor(text, L"\u5C9A\u62D3 MF6000 PCL6"), gdiFiles);
    EXPECT_EQ(FilesInstalledFor(text, L"\u5C9A\u62D3 MF6000 PCL6 PS"),
              std::vector<std::wstring>{L"KVPS.PPD"});
    EXPECT_TRUE(FilesInstalledFor(text, L"KAVRO MF6000").empty());
    EXPECT_TRUE(ModelNames(L"[Version]\r\nClass=Printer\r\n").empty());
    // "%%" is a percent sign; a token defined nowhere stays as it is.
    EXPECT_EQ(ModelNames(L"[Manufacturer]\r\nK\r\n[K]\r\n\"100%% %None%\" = X\r\n"),
              std::vector<std::wstring>{L"100% %None%"});
}

// --- The PC ----------------------------------------------------------------

const wchar_t kX64[] = L"Windows x64";
const wchar_t kX86[] = L"Windows NT x86";
std::string VendorInf() {
    return "[Version]\r\nClass=Printer\r\n[Manufacturer]\r\nKAVRO=Models\r\n[Models]\r\n"
           "\"KAVRO MF6000 PCL6\" = GDI\r\n\"KAVRO MF6000 PCL6 PS\" = PS\r\n";
}

// The PC's device nodes: two printers of the second vendor's package (USB
// and WSD, its InfPath spelled in capitals), the vendor's multifunction
// printer and its scanner, a printer of Windows' own package, one of a
// package no driver names, and a node without a driver.
const std::vector<DeviceNode> kDevices = {
    {L"USBPRINT\\SECONDVENDORPS\\7&1A2B3C&0&USB001", L"Printer", L"Second Vendor PS", L"oem7.inf",
     L""},
    {L"WSDPRINT\\SECONDVENDORPS\\UUID:5E1D", L"Printer", L"Second Vendor PS (WSD)", L"OEM7.INF",
     L""},
    {L"USBPRINT\\KAVROMF6000A1B2\\7&2B3C&0&USB002", L"Printer", L"KAVRO MF6000", L"oem5.inf", L""},
    {L"USB\\VID_2B1D&PID_6000&MI_01\\7&2B3C&0&0001", L"Image", L"KAVRO MF6000 Scanner", L"oem6.inf",
     L""},
    {L"SWD\\PRINTENUM\\{0A1B}", L"PrintQueue", L"Generic / Text Only", L"ntprint.inf", L""},
    {L"USBPRINT\\SECONDVENDORPS2\\7&9&0&USB003", L"Printer", L"Second Vendor PS 2", L"oem8.inf",
     L""},
    {L"ROOT\\LEGACY_BEEP\\0000", L"LegacyDriver", L"Beep", L"", L""},
};

class RemovalPlanOnAPc : public ::testing::Test {
  protected:
    void SetUp() override {
        machine_ = &InstallFakeMachine(scratch_.path());
        const std::wstring x64 = Drivers() + L"x64\\3\\";
        const std::wstring x86 = Drivers() + L"W32X86\\3\\";
        Add(L"Generic / Text Only", kX64, x64, {L"UNIDRV.DLL", L"UNIDRVUI.DLL", L"TTY.GPD"},
            {L"TTYRES.DLL", L"UNIRES.DLL", L"STDNAMES.GPD"});
        Add(L"Microsoft Print To PDF", kX64, x64, {L"", L"", L"MPDW-PDC.xml"},
            {L"MPDW-manifest.ini", L"ntprint|StdNames.gpd"});
        Add(L"Microsoft PS Class Driver", kX64, x64,
            {L"PSCRIPT5.DLL", L"PS5UI.DLL", L"MSPSCLS.PPD", L"PSCRIPT.HLP"},
            {L"PSCRIPT.NTF", L"PS_SCHM.GDL"});
        Add(L"KAVRO MF6000 PCL6", kX64, x64, {L"KVGDI.DLL", L"KVGDIUI.DLL", L"KVGDI.GPD"},
            {L"KVCOMMON.DLL", L"KVCOLOR.ICM", L"KVGDIRES.DLL"});
        Add(L"KAVRO MF6000 PCL6 PS", kX64, x64, {L"PSCRIPT5.DLL", L"PS5UI.DLL", L"KVPS.PPD"},
            {L"KVCOMMON.DLL", L"KVCOLOR.ICM", L"PSCRIPT.NTF", L"PS_SCHM.GDL"});
        for (const auto& [environment, folder] :
             std::vector<std::pair<const wchar_t*, std::wstring>>{{kX64, x64}, {kX86, x86}}) {
            Add(L"Second Vendor PS", environment, folder,
                {L"PSCRIPT5.DLL", L"PS5UI.DLL", L"SVPS.PPD", L"PSCRIPT.HLP"},
                {L"PSCRIPT.NTF", L"PS_SCHM.GDL", L"SVPSRES.DLL"});
        }
        // Windows' own packages, published under their own names.
        Package(L"ntprint.inf", L"ntprint.inf_amd64_4a1f", L"\"Generic / Text Only\" = TTY\r\n");
        Package(L"prnms009.inf", L"prnms009.inf_amd64_5812",
                L"\"Microsoft Print To PDF\" = PDF\r\n");
        // Third-party packages, published as oemN.inf.
        Package(L"oem5.inf", L"kvmf.inf_amd64_77aa", VendorInf());
        Package(L"oem6.inf", L"kvscan.inf_amd64_88bb",
                "[Version]\r\nClass=Image\r\n[Models]\r\n\"KAVRO MF6000 PCL6 Scanner\" = S\r\n");
        Package(L"oem7.inf", L"svps.inf_amd64_99cc",
                "[Version]\r\nClassGUID={4D36E979-E325-11CE-BFC1-08002BE10318}\r\n"
                "[Strings]\r\nModel=\"Second Vendor PS\"\r\n");
        // The package of a model not installed whose name holds the second
        // vendor's driver's.
        Package(L"oem8.inf", L"svps2.inf_amd64_aa11",
                "[Version]\r\nClass=Printer\r\n[Manufacturer]\r\n%SV%=SV,NTamd64\r\n"
                "[SV.NTamd64]\r\n%Model% = SVPS2\r\n[Strings]\r\nSV=\"Second Vendor\"\r\n"
                "Model=\"Second Vendor PS 2\"\r\n");
    }

    std::wstring Drivers() const { return scratch_.path() + L"System32\\spool\\drivers\\"; }

    void Add(const std::wstring& name,
             const wchar_t* environment,
             const std::wstring& folder,
             const std::vector<std::wstring>& mainFiles,
             const std::vector<std::wstring>& dependents,
             const std::wstring& monitor = {}) {
        records_.push_back(
            MakeDriverRecord(name, environment, folder, mainFiles, dependents, monitor));
        machine_->drivers.push_back(records_.back().get());
        for (const std::wstring& file : mainFiles) {
            if (!file.empty())
                WriteBytes(folder + file, "MZ");
        }
        for (const std::wstring& file : dependents) {
            if (file.find(L'|') == std::wstring::npos)
                WriteBytes(folder + file, "MZ");
        }
    }

    void Package(const std::wstring& published, const std::wstring& folder, std::string text) {
        const std::wstring infName = folder.substr(0, folder.find(L".inf") + 4);
        WriteBytes(scratch_.path() + L"inf\\" + published, text);
        WriteBytes(
            scratch_.path() + L"System32\\DriverStore\\FileRepository\\" + folder + L"\\" + infName,
            text);
    }
    void Package(const std::wstring& published, const std::wstring& folder, const wchar_t* text) {
        const std::wstring wide = text;
        Package(published, folder, std::string(wide.begin(), wide.end()));
    }

    // The inventory the dialog and the console program would take: one row
    // per driver name, every record.
    DriverInventory Inventory(const std::vector<std::wstring>& without) const {
        DriverInventory inventory;
        for (const auto& record : records_) {
            const std::wstring name = record->pName;
            if (std::count(without.begin(), without.end(), name))
                continue;
            inventory.everyDriver.push_back(record);
            if (inventory.useCounts.count(name) == 0)
                inventory.rows.push_back({nullptr, record, L"", false, name, {}});
            inventory.useCounts[name] = 1;
        }
        inventory.devices = kDevices;
        return inventory;
    }

    // "go <path>" and "keep <path>: <reason>" for every file, oem INF and
    // package the plan names, paths below the scratch Windows folder, sorted.
    std::vector<std::string> Decisions(const RemovalPlan& plan) const {
        std::vector<std::string> decisions;
        auto add = [&](const std::wstring& path, const std::wstring& reason) {
            const std::wstring below = path.substr(scratch_.path().size());
            decisions.push_back(reason.empty() ? "go " + Utf8(below)
                                               : "keep " + Utf8(below) + ": " + Utf8(reason));
        };
        for (const DriverFileMatch& file : plan.driverFiles)
            add(file.path, file.keptBecause);
        for (const PackageMatch& inf : plan.packages.oemInfs)
            add(inf.inf, inf.keptBecause);
        for (const PackageMatch& package : plan.packages.packages)
            add(package.folder, package.keptBecause);
        std::sort(decisions.begin(), decisions.end());
        return decisions;
    }

    ScratchFolder scratch_;
    ScopedWin32Fakes fakes_;
    FakeMachineState* machine_ = nullptr;
    std::vector<std::shared_ptr<const DRIVER_INFO_6W>> records_;
};

struct PlanCase {
    const char* what;
    std::wstring driver;
    std::vector<std::wstring> alreadyRemoved;
    std::vector<std::string> decisions;
    std::vector<std::wstring> environments;
};

TEST_F(RemovalPlanOnAPc, EachDriverTakesItsOwnAndLeavesWhatOthersUse) {
    const std::string x64 = "System32\\spool\\drivers\\x64\\3\\";
    const std::string x86 = "System32\\spool\\drivers\\W32X86\\3\\";
    const std::string store = "System32\\DriverStore\\FileRepository\\";
    const std::vector<PlanCase> cases = {
        {"PostScript driver with an x86 twin: shared core files stay",
         L"Second Vendor PS",
         {},
         {"go " + store + "svps.inf_amd64_99cc\\", "go " + x64 + "SVPS.PPD",
          "go " + x64 + "SVPSRES.DLL", "go " + x86 + "PSCRIPT.NTF", "go " + x86 + "PS_SCHM.GDL",
          "go " + x86 + "SVPS.PPD", "go " + x86 + "SVPSRES.DLL", "go inf\\oem7.inf",
          "keep " + store + "svps2.inf_amd64_aa11\\: another model's package (Second Vendor PS 2)",
          "keep inf\\oem8.inf: another model's package (Second Vendor PS 2)",
          "keep " + x64 + "PSCRIPT.NTF: used by driver Microsoft PS Class Driver",
          "keep " + x64 + "PS_SCHM.GDL: used by driver Microsoft PS Class Driver"},
         {kX64, kX86}},
        {"GDI model of a two-model package: the other model's files and package stay; the "
         "scanner's INF (Image) is read no further than its class, so names no driver",
         L"KAVRO MF6000 PCL6",
         {},
         {"go " + x64 + "KVGDI.GPD", "go " + x64 + "KVGDIRES.DLL",
          "keep " + store + "kvmf.inf_amd64_77aa\\: used by driver KAVRO MF6000 PCL6 PS",
          "keep " + x64 + "KVCOLOR.ICM: used by driver KAVRO MF6000 PCL6 PS",
          "keep " + x64 + "KVCOMMON.DLL: used by driver KAVRO MF6000 PCL6 PS",
          "keep inf\\oem5.inf: used by driver KAVRO MF6000 PCL6 PS"},
         {kX64}},
        {"the last model of the package takes it; its name contains the removed one's",
         L"KAVRO MF6000 PCL6 PS",
         {L"KAVRO MF6000 PCL6"},
         {"go " + store + "kvmf.inf_amd64_77aa\\", "go " + x64 + "KVCOLOR.ICM",
          "go " + x64 + "KVCOMMON.DLL", "go " + x64 + "KVPS.PPD", "go inf\\oem5.inf",
          "keep " + x86 + "PSCRIPT.NTF: used by driver Second Vendor PS",
          "keep " + x86 + "PS_SCHM.GDL: used by driver Second Vendor PS",
          "keep " + x64 + "PSCRIPT.NTF: used by driver Microsoft PS Class Driver",
          "keep " + x64 + "PS_SCHM.GDL: used by driver Microsoft PS Class Driver"},
         {kX64}},
        {"Windows' own driver: its package is Windows' and stays unread",
         L"Generic / Text Only",
         {},
         {"go " + x64 + "TTY.GPD", "go " + x64 + "TTYRES.DLL"},
         {kX64}},
    };
    for (const PlanCase& c : cases) {
        const DriverInventory inventory = Inventory(c.alreadyRemoved);
        const auto row =
            std::find_if(inventory.rows.begin(), inventory.rows.end(),
                         [&](const DriverListEntry& r) { return r.driverName == c.driver; });
        ASSERT_NE(row, inventory.rows.end()) << c.what;
        const RemovalPlan plan = PlanRemoval(*row, inventory);
        std::vector<std::string> expected = c.decisions;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(Decisions(plan), expected) << c.what;
        std::vector<std::wstring> environments;
        for (const auto& record : plan.driverRecords)
            environments.push_back(record->pEnvironment);
        EXPECT_EQ(environments, c.environments) << c.what;
        EXPECT_EQ(plan.packages.windowsPackages, 2u) << c.what;
    }
}

// The instance ids of the plan's devices.
std::vector<std::wstring> DeviceIds(const RemovalPlan& plan) {
    std::vector<std::wstring> ids;
    for (const DeviceNode& device : plan.devices)
        ids.push_back(device.instanceId);
    return ids;
}

// The plans of a set of rows of `inventory`, as the console program makes them.
std::vector<RemovalPlan> SetPlans(const std::vector<SetMember>& members,
                                  const DriverInventory& inventory,
                                  bool withPrinters = false) {
    return PlanRemovalSet(members,
                          DetectRemoval(inventory, DriverNamesOf(members, inventory, withPrinters)),
                          withPrinters);
}

struct SetCase {
    const char* what;
    std::vector<std::wstring> set;       // driver rows
    std::vector<std::string> decisions;  // of the set's first name
};

// A set is judged against what stays after it: a package and files that only
// drivers of the set name go with it; what a driver outside the set names
// stays, as for one name. Each name's plan is the one it would get alone
// once the others are gone.
TEST_F(RemovalPlanOnAPc, SetTakesWhatOnlyItsDriversUseAndKeepsWhatOthersUse) {
    const std::string x64 = "System32\\spool\\drivers\\x64\\3\\";
    const std::string store = "System32\\DriverStore\\FileRepository\\";
    const std::vector<SetCase> cases = {
        {"both models of a package: the package, its device and their common files go",
         {L"KAVRO MF6000 PCL6", L"KAVRO MF6000 PCL6 PS"},
         {"go " + store + "kvmf.inf_amd64_77aa\\", "go " + x64 + "KVCOLOR.ICM",
          "go " + x64 + "KVCOMMON.DLL", "go " + x64 + "KVGDI.GPD", "go " + x64 + "KVGDIRES.DLL",
          "go inf\\oem5.inf"}},
        {"a model whose package another model outside the set shares keeps it",
         {L"KAVRO MF6000 PCL6", L"Second Vendor PS"},
         {"go " + x64 + "KVGDI.GPD", "go " + x64 + "KVGDIRES.DLL",
          "keep " + store + "kvmf.inf_amd64_77aa\\: used by driver KAVRO MF6000 PCL6 PS",
          "keep " + x64 + "KVCOLOR.ICM: used by driver KAVRO MF6000 PCL6 PS",
          "keep " + x64 + "KVCOMMON.DLL: used by driver KAVRO MF6000 PCL6 PS",
          "keep inf\\oem5.inf: used by driver KAVRO MF6000 PCL6 PS"}},
    };
    const DriverInventory inventory = Inventory({});
    for (const SetCase& c : cases) {
        std::vector<SetMember> members;
        for (const std::wstring& driver : c.set) {
            const auto row =
                std::find_if(inventory.rows.begin(), inventory.rows.end(),
                             [&](const DriverListEntry& r) { return r.driverName == driver; });
            ASSERT_NE(row, inventory.rows.end()) << c.what;
            members.push_back({*row, false});
        }
        const std::vector<RemovalPlan> plans = SetPlans(members, inventory);
        ASSERT_EQ(plans.size(), c.set.size()) << c.what;
        std::vector<std::string> expected = c.decisions;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(Decisions(plans[0]), expected) << c.what;
        // Every other name's plan: as alone on the PC without the names before it.
        for (size_t i = 1; i < c.set.size(); ++i) {
            std::vector<std::wstring> before(c.set.begin(), c.set.begin() + i);
            const DriverInventory without = Inventory(before);
            const auto alone =
                std::find_if(without.rows.begin(), without.rows.end(),
                             [&](const auto& r) { return r.driverName == c.set[i]; });
            EXPECT_EQ(Decisions(plans[i]), Decisions(PlanRemoval(*alone, without))) << c.what;
        }
    }
    // The package's device goes with the set that takes the package.
    std::vector<SetMember> bothModels;
    for (const DriverListEntry& row : inventory.rows) {
        if (row.driverName.rfind(L"KAVRO MF6000", 0) == 0)
            bothModels.push_back({row, false});
    }
    EXPECT_EQ(DeviceIds(SetPlans(bothModels, inventory)[0]),
              std::vector<std::wstring>{kDevices[2].instanceId});
}

// Printers of a set: their shared driver goes with the set when no row
// outside it names it (here it is listed through its own printer, named
// like it); a driver whose printers are all in the set is not refused; one
// that a printer outside the set uses is, and keeps what it uses.
TEST_F(RemovalPlanOnAPc, PrintersOfASetTakeTheirDriverOnlyWhenNoRowOfItStays) {
    DriverInventory inventory = Inventory({});
    const DriverListEntry gdi = inventory.rows[3];  // KAVRO MF6000 PCL6
    const DriverListEntry ps = inventory.rows[4];   // KAVRO MF6000 PCL6 PS
    inventory.rows.erase(inventory.rows.begin() + 3);
    inventory.useCounts[gdi.driverName] = 0;
    for (const auto& [printer, driver] : std::vector<std::pair<std::wstring, DriverListEntry>>{
             {gdi.driverName, gdi}, {L"财务部", gdi}, {L"Lobby", ps}, {L"Office", ps}}) {
        inventory.rows.push_back(
            {nullptr, driver.driverInfo, printer, true, driver.driverName, {}});
        ++inventory.useCounts[driver.driverName];
    }
    const auto printer = [&](const std::wstring& name) {
        return SetMember{*std::find_if(inventory.rows.begin(), inventory.rows.end(),
                                       [&](const auto& r) { return r.printerName == name; }),
                         false};
    };

    const std::vector<RemovalPlan> printers =
        SetPlans({printer(gdi.driverName), printer(L"财务部"), printer(L"Lobby")}, inventory);
    EXPECT_EQ(printers[0].driver, gdi.driverName) << "no printer of it stays";
    EXPECT_EQ(printers[1].driver, gdi.driverName);
    EXPECT_TRUE(printers[2].driver.empty()) << "Office and its own row still name the PS model";
    ASSERT_FALSE(printers[0].packages.oemInfs.empty());
    EXPECT_EQ(printers[0].packages.oemInfs[0].keptBecause, L"used by driver KAVRO MF6000 PCL6 PS");

    const std::vector<RemovalPlan> mixed = SetPlans(
        {printer(gdi.driverName), printer(L"财务部"), {gdi, false}, {ps, false}}, inventory);
    EXPECT_TRUE(mixed[2].printersUsingDriver.empty()) << "its printers are in the set";
    EXPECT_EQ(mixed[2].printers, (std::vector<std::wstring>{gdi.driverName, L"财务部"}));
    EXPECT_EQ(mixed[3].printersUsingDriver, (std::vector<std::wstring>{L"Lobby", L"Office"}));
    ASSERT_FALSE(mixed[2].packages.oemInfs.empty());
    EXPECT_EQ(mixed[2].packages.oemInfs[0].keptBecause, L"used by driver KAVRO MF6000 PCL6 PS")
        << "a refused driver stays, and keeps what it uses";
}

struct DeviceCase {
    const char* what;
    std::wstring driver;
    std::vector<std::wstring> alreadyRemoved;
    std::vector<std::wstring> devices;
};

TEST_F(RemovalPlanOnAPc, DevicesGoWithTheOemInfsThatGoAndNoOthers) {
    const std::vector<DeviceCase> cases = {
        {"both printers of the package, whatever the InfPath's case",
         L"Second Vendor PS",
         {},
         {kDevices[0].instanceId, kDevices[1].instanceId}},
        {"a package that another model keeps keeps its device; the scanner's stays",
         L"KAVRO MF6000 PCL6",
         {},
         {}},
        {"the last model of the package takes its device",
         L"KAVRO MF6000 PCL6 PS",
         {L"KAVRO MF6000 PCL6"},
         {kDevices[2].instanceId}},
        {"Windows' own package keeps its devices", L"Generic / Text Only", {}, {}},
    };
    for (const DeviceCase& c : cases) {
        const DriverInventory inventory = Inventory(c.alreadyRemoved);
        const auto row =
            std::find_if(inventory.rows.begin(), inventory.rows.end(),
                         [&](const DriverListEntry& r) { return r.driverName == c.driver; });
        ASSERT_NE(row, inventory.rows.end()) << c.what;
        EXPECT_EQ(DeviceIds(PlanRemoval(*row, inventory)), c.devices) << c.what;
    }
    // What remains of a driver whose records are gone takes its devices too.
    const RemovalPlan leftovers =
        PlanLeftoverRemoval(L"Second Vendor PS", Inventory({L"Second Vendor PS"}));
    EXPECT_EQ(DeviceIds(leftovers),
              (std::vector<std::wstring>{kDevices[0].instanceId, kDevices[1].instanceId}));
    // A printer whose driver another printer shares takes no device.
    DriverInventory shared = Inventory({});
    DriverListEntry printer =
        *std::find_if(shared.rows.begin(), shared.rows.end(),
                      [](const DriverListEntry& r) { return r.driverName == L"Second Vendor PS"; });
    printer.isPrinter = true;
    printer.printerName = L"Front Desk";
    shared.useCounts[printer.driverName] = 2;
    EXPECT_TRUE(PlanRemoval(printer, shared).devices.empty());
}

TEST_F(RemovalPlanOnAPc, DriverThatPrintersUseIsRefusedUnlessThePrintersGoToo) {
    DriverInventory inventory = Inventory({});
    const DriverListEntry driverRow = inventory.rows[3];  // KAVRO MF6000 PCL6
    for (const wchar_t* printer : {L"Front Desk", L"财务部"}) {
        inventory.rows.push_back(
            {nullptr, driverRow.driverInfo, printer, true, driverRow.driverName, {}});
        ++inventory.useCounts[driverRow.driverName];
    }

    const RemovalPlan refused = PlanRemoval(driverRow, inventory);
    EXPECT_EQ(refused.printersUsingDriver, (std::vector<std::wstring>{L"Front Desk", L"财务部"}));
    EXPECT_TRUE(refused.driverFiles.empty() && refused.packages.oemInfs.empty());
    EXPECT_EQ(DriverInUseText(refused),
              L"驱动KAVRO MF6000 PCL6正被打印机使用，未卸载：Front Desk、财务部");

    const RemovalPlan withPrinters = PlanRemoval(driverRow, inventory, true);
    EXPECT_TRUE(withPrinters.printersUsingDriver.empty());
    EXPECT_EQ(withPrinters.printers, (std::vector<std::wstring>{L"Front Desk", L"财务部"}));
    EXPECT_EQ(withPrinters.driver, L"KAVRO MF6000 PCL6");

    // One printer of two: the printer goes, the driver stays.
    const RemovalPlan printerOnly = PlanRemoval(inventory.rows.back(), inventory);
    EXPECT_EQ(printerOnly.printers, std::vector<std::wstring>{L"财务部"});
    EXPECT_TRUE(printerOnly.driver.empty() && printerOnly.driverFiles.empty());
}

// --- Language monitors and print processors --------------------------------

struct ComponentCase {
    const char* what;
    std::wstring driver;
    std::vector<std::wstring> alreadyRemoved;
    std::vector<std::pair<std::wstring, std::wstring>> printers;  // name, print processor
    std::vector<std::string> decisions;
};

// "go <kind> <name> <dll below the scratch folder>" or "keep <kind> <name>: <reason>".
std::vector<std::string> ComponentDecisions(const RemovalPlan& plan, const std::wstring& scratch) {
    std::vector<std::string> decisions;
    auto add = [&](const char* kind, const RegisteredComponent& component) {
        std::string reason = Utf8(component.keptBecause);
        const size_t at = reason.find(Utf8(scratch));
        if (at != std::string::npos)
            reason.erase(at, Utf8(scratch).size());
        decisions.push_back(
            component.keptBecause.empty()
                ? std::string("go ") + kind + " " + Utf8(component.name) + " " +
                      Utf8(component.dll.substr(component.dll.empty() ? 0 : scratch.size()))
                : std::string("keep ") + kind + " " + Utf8(component.name) + ": " + reason);
    };
    for (const RegisteredComponent& monitor : plan.monitors)
        add("monitor", monitor);
    for (const RegisteredComponent& processor : plan.printProcessors)
        add("processor", processor);
    return decisions;
}

// A vendor's own monitor and print processor go with its last driver; another
// driver's record (of another environment), a printer that stays, a package
// that stays or Windows keeps them. "PJL Language Monitor", which comes
// through Needs=UNIDRV_BIDI.OEM of ntprint.inf, is Windows'; so is a monitor
// that only the record names while the driver's package does not register it.
TEST_F(RemovalPlanOnAPc, RegisteredMonitorsAndProcessorsGoOnlyWhenNothingElseUsesThem) {
    FakePrintRegistry registry;
    registry.AddMonitor(L"KAVRO Language Monitor", L"kvlm.dll");
    registry.AddMonitor(L"PJL Language Monitor", L"pjlmon.dll");
    registry.AddMonitor(L"Inbox Vendor Monitor", L"inboxmon.dll");
    registry.AddPrintProcessor(kX64, L"KAVRO Print Processor", L"kvpp.dll");
    registry.AddPrintProcessor(kX64, L"winprint", L"winprint.dll");
    for (const wchar_t* dll : {L"System32\\kvlm.dll", L"System32\\pjlmon.dll",
                               L"System32\\spool\\prtprocs\\x64\\kvpp.dll"})
        WriteBytes(scratch_.path() + dll, "MZ");
    const std::wstring x64 = Drivers() + L"x64\\3\\";
    const std::wstring x86 = Drivers() + L"W32X86\\3\\";
    Add(L"KAVRO KV-9 PCL6", kX64, x64, {L"KV9.DLL", L"KV9UI.DLL", L"KV9.GPD"}, {},
        L"KAVRO Language Monitor");
    Add(L"KAVRO KV-9 PS", kX86, x86, {L"KV9PS.DLL", L"KV9PSUI.DLL", L"KV9.PPD"}, {},
        L"KAVRO Language Monitor");
    Add(L"KAVRO KV-5", kX64, x64, {L"KV5.DLL", L"KV5UI.DLL", L"KV5.GPD"}, {});
    Add(L"KAVRO KV-7", kX64, x64, {L"KV7.DLL", L"KV7UI.DLL", L"KV7.GPD"}, {},
        L"PJL Language Monitor");
    Add(L"KAVRO KV-8", kX64, x64, {L"KV8.DLL", L"KV8UI.DLL", L"KV8.GPD"}, {},
        L"Inbox Vendor Monitor");
    const std::string manufacturer = "[Manufacturer]\r\nKAVRO = KAVRO, NTamd64\r\n";
    Package(L"oem8.inf", L"kv9.inf_amd64_1234",
            manufacturer +
                "[KAVRO.NTamd64]\r\n\"KAVRO KV-9 PCL6\" = KV9\r\n"
                "[KV9]\r\nLanguageMonitor = %KLM%\r\nInclude = ntprint.inf\r\n"
                "Needs = UNIDRV_BIDI.OEM\r\n"
                "[KV9.NTamd64]\r\nPrintProcessor = \"KAVRO Print Processor,kvpp.dll\"\r\n"
                "[Strings]\r\nKLM = \"KAVRO Language Monitor,kvlm.dll\"\r\n");
    Package(L"oem10.inf", L"kv59.inf_amd64_5678",
            manufacturer +
                "[KAVRO.NTamd64]\r\n\"KAVRO KV-5\" = KV5\r\n\"KAVRO KV-9 PCL6\" = KV9\r\n"
                "[KV5]\r\nPrintProcessor = \"KAVRO Print Processor,kvpp.dll\"\r\n");
    Package(L"oem11.inf", L"kv78.inf_amd64_9abc",
            manufacturer +
                "[KAVRO.NTamd64]\r\n\"KAVRO KV-7\" = KV78\r\n\"KAVRO KV-8\" = KV78\r\n"
                "[KV78]\r\nInclude = ntprint.inf\r\nNeeds = UNIDRV_BIDI.OEM\r\n");
    const std::vector<ComponentCase> cases = {
        {"the last driver that registered them",
         L"KAVRO KV-9 PCL6",
         {L"KAVRO KV-9 PS", L"KAVRO KV-5"},
         {},
         {"go monitor KAVRO Language Monitor System32\\kvlm.dll",
          "go processor KAVRO Print Processor System32\\spool\\prtprocs\\x64\\kvpp.dll"}},
        {"an x86 record names the monitor, a printer that stays uses the print processor",
         L"KAVRO KV-9 PCL6",
         {L"KAVRO KV-5"},
         {{L"Front Desk", L"KAVRO Print Processor"}},
         {"keep monitor KAVRO Language Monitor: used by driver KAVRO KV-9 PS",
          "keep processor KAVRO Print Processor: used by printer Front Desk"}},
        {"a package that stays registers the print processor for its other model",
         L"KAVRO KV-9 PCL6",
         {L"KAVRO KV-9 PS"},
         {},
         {"go monitor KAVRO Language Monitor System32\\kvlm.dll",
          "keep processor KAVRO Print Processor: registered by "
          "System32\\DriverStore\\FileRepository\\kv59.inf_amd64_5678\\kv59.inf that stays"}},
        {"PJL through Needs",
         L"KAVRO KV-7",
         {L"KAVRO KV-8"},
         {},
         {"keep monitor PJL Language Monitor: Windows' own monitor"}},
        {"a monitor the record names and the package does not register",
         L"KAVRO KV-8",
         {L"KAVRO KV-7"},
         {},
         {"keep monitor Inbox Vendor Monitor: not registered by the driver's own package"}},
    };
    for (const ComponentCase& c : cases) {
        DriverInventory inventory = Inventory(c.alreadyRemoved);
        for (const auto& [printer, processor] : c.printers)
            inventory.rows.push_back({nullptr, nullptr, printer, true, L"Other", processor});
        const auto row =
            std::find_if(inventory.rows.begin(), inventory.rows.end(),
                         [&](const DriverListEntry& r) { return r.driverName == c.driver; });
        ASSERT_NE(row, inventory.rows.end()) << c.what;
        const RemovalPlan plan = PlanRemoval(*row, inventory);
        EXPECT_EQ(ComponentDecisions(plan, scratch_.path()), c.decisions) << c.what;
    }
}

}  // namespace
