#include "support/pc_seed.h"

#include <windows.h>
#include <winspool.h>

#include "support/test_support.h"

namespace {

constexpr wchar_t kX64[] = L"Windows x64";
constexpr wchar_t kX86[] = L"Windows NT x86";

std::wstring StagingFolder(const wchar_t* environment) {
    wchar_t folder[MAX_PATH] = {};
    DWORD needed = 0;
    if (!::GetPrinterDriverDirectoryW(nullptr, const_cast<wchar_t*>(environment), 1,
                                      reinterpret_cast<BYTE*>(folder), sizeof folder, &needed)) {
        return {};
    }
    return std::wstring(folder) + L"\\";
}

std::vector<std::wstring> FilesOf(const PcDriver& driver) {
    std::vector<std::wstring> files;
    for (const wchar_t* file : driver.main) {
        if (*file != 0)
            files.push_back(file);
    }
    for (const wchar_t* file : driver.dependents)
        files.push_back(file);
    return files;
}

// Stages the files in the environment's driver folder and adds the record;
// the spooler copies them into its version folder.
bool AddPcDriver(const PcDriver& driver) {
    const std::wstring staging = StagingFolder(driver.environment);
    if (staging.empty())
        return false;
    std::vector<std::wstring> paths;
    for (const std::wstring& file : FilesOf(driver)) {
        WriteBytes(staging + file, "stand-in driver file");
        paths.push_back(staging + file);
    }
    std::wstring main[4];
    for (size_t i = 0; i < 4 && i < driver.main.size(); ++i)
        main[i] = *driver.main[i] ? staging + driver.main[i] : L"";
    std::wstring dependents;
    for (const wchar_t* file : driver.dependents)
        dependents += staging + file + L'\0';
    dependents += L'\0';
    DRIVER_INFO_3W info{};
    info.cVersion = 3;
    info.pName = const_cast<wchar_t*>(driver.name);
    info.pEnvironment = const_cast<wchar_t*>(driver.environment);
    info.pDriverPath = main[0].data();
    info.pConfigFile = main[1].data();
    info.pDataFile = main[2].data();
    info.pHelpFile = main[3].empty() ? nullptr : main[3].data();
    info.pDependentFiles = dependents.data();
    if (!::AddPrinterDriverExW(nullptr, 3, reinterpret_cast<BYTE*>(&info), APD_COPY_NEW_FILES) &&
        ::GetLastError() != ERROR_PRINTER_DRIVER_ALREADY_INSTALLED) {
        return false;
    }
    for (const std::wstring& file : FilesOf(driver)) {
        if (!FileExists(PcDriverFolder(driver.environment) + file))
            return false;
    }
    return true;
}

}  // namespace

const wchar_t* const PC_SECOND_VENDOR_PS = L"Lumen PS3 Universal";
const wchar_t* const PC_VENDOR_GDI = L"KAVRO MF6000 PCL6";
const wchar_t* const PC_GENERIC_TEXT = L"Generic / Text Only";

// Windows 10 1709 x64's inbox printing, as its print registry shows it, and
// what users add.
const std::vector<PcDriver> PC_DRIVERS = {
    {L"Microsoft enhanced Point and Print compatibility driver",
     kX64,
     {L"mxdwdrv.dll", L"PrintConfig.dll", L"unishare.gpd", L""},
     {L"unishare-pipelineconfig.xml"}},
    {L"Microsoft Shared Fax Driver",
     kX64,
     {L"FXSDRV.DLL", L"FXSUI.DLL", L"FXSUI.DLL", L""},
     {L"FXSWZRD.DLL", L"FXSTIFF.DLL", L"FXSRES.DLL", L"FXSAPI.DLL"}},
    {L"Remote Desktop Easy Print",
     kX64,
     {L"mxdwdrv.dll", L"tsprint.dll", L"tsprint-datafile.dat", L""},
     {L"tsprint-PipelineConfig.xml"}},
    {PC_GENERIC_TEXT,
     kX64,
     {L"UNIDRV.DLL", L"UNIDRVUI.DLL", L"TTY.GPD", L"UNIDRV.HLP"},
     {L"TTYRES.DLL", L"TTY.INI", L"TTY.DLL", L"TTYUI.DLL", L"TTYUI.HLP", L"UNIRES.DLL",
      L"STDNAMES.GPD"}},
    {L"Microsoft PS Class Driver",
     kX64,
     {L"PSCRIPT5.DLL", L"PS5UI.DLL", L"MSPSCLS.PPD", L"PSCRIPT.HLP"},
     {L"PSCRIPT.NTF", L"PS_SCHM.GDL"}},
    {PC_VENDOR_GDI,
     kX64,
     {L"KVMFGDI.DLL", L"KVMFUI.DLL", L"KVMF6000.GPD", L""},
     {L"KVMFCOM.DLL", L"KVMF6000.ICM", L"KVMFRES.DLL"}},
    {L"KAVRO MF6000 PCL6 PS",
     kX64,
     {L"PSCRIPT5.DLL", L"PS5UI.DLL", L"KVMF6000.PPD", L"PSCRIPT.HLP"},
     {L"KVMFCOM.DLL", L"KVMF6000.ICM", L"PSCRIPT.NTF", L"PS_SCHM.GDL"}},
    {PC_SECOND_VENDOR_PS,
     kX64,
     {L"PSCRIPT5.DLL", L"PS5UI.DLL", L"LUMPS3.PPD", L"PSCRIPT.HLP"},
     {L"PSCRIPT.NTF", L"PS_SCHM.GDL", L"LUMPS3.INI"}},
    {PC_SECOND_VENDOR_PS,
     kX86,
     {L"PSCRIPT5.DLL", L"PS5UI.DLL", L"LUMPS3.PPD", L"PSCRIPT.HLP"},
     {L"PSCRIPT.NTF", L"PS_SCHM.GDL", L"LUMPS3.INI"}},
};

const std::vector<PcPackage> PC_PACKAGES = {
    {L"ntprint.inf", L"ntprint.inf_amd64_5b2e6a1d77e3e6d8",
     "[Version]\r\nClass=Printer\r\n[Models]\r\n\"Generic / Text Only\" = TTY\r\n"
     "\"Microsoft PS Class Driver\" = PS\r\n\"KAVRO MF6000 PCL6\" = INBOX\r\n"},
    {L"prnms001.inf", L"prnms001.inf_amd64_db986f156726d3d7",
     "[Version]\r\nClass=Printer\r\n[Models]\r\n\"Microsoft XPS Document Writer v4\" = XPS\r\n"},
    {L"prnms003.inf", L"prnms003.inf_amd64_d953309ec763fcc7",
     "[Version]\r\nClass=Printer\r\n[Models]\r\n"
     "\"Microsoft enhanced Point and Print compatibility driver\" = PNP\r\n"},
    {L"tsprint.inf", L"tsprint.inf_amd64_af7e87be969e4e2c",
     "[Version]\r\nClass=Printer\r\n[Models]\r\n\"Remote Desktop Easy Print\" = TS\r\n"},
    {L"oem12.inf", L"kvmf6000.inf_amd64_3c1d9e0f4a2b7c65",
     "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Printer\r\n"
     "ClassGUID={4D36E979-E325-11CE-BFC1-08002BE10318}\r\n[KAVRO.NTamd64]\r\n"
     "\"KAVRO MF6000 PCL6\" = GDI, USBPRINT\\KAVROMF6000A1B2\r\n"
     "\"KAVRO MF6000 PCL6 PS\" = PS, USBPRINT\\KAVROMF6000C3D4\r\n"},
    {L"oem13.inf", L"kvmfscan.inf_amd64_8e2f7a9b1c3d5e60",
     "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Image\r\n"
     "ClassGUID={6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\r\n[KAVRO.NTamd64]\r\n"
     "\"KAVRO MF6000 PCL6 Scanner\" = SCAN, USB\\VID_2B1D&PID_6000&MI_01\r\n"},
    {L"oem14.inf", L"lumps3.inf_amd64_0f1e2d3c4b5a6978",
     "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Printer\r\n"
     "[Manufacturer]\r\n%Lumen% = Lumen, NTamd64, NTx86\r\n"
     "[Lumen.NTamd64]\r\n%Model% = LUMPS3, LumenLUMPS3A1\r\n"
     "[Lumen.NTx86]\r\n%Model% = LUMPS3, LumenLUMPS3A1\r\n"
     "[LUMPS3]\r\nCopyFiles = @LUMPS3.PPD, @LUMPS3.INI, PSCRIPT_FILES\r\n"
     "DataFile = LUMPS3.PPD\r\nInclude = ntprint.inf\r\nNeeds = PSCRIPT.OEM\r\n"
     "[PSCRIPT_FILES]\r\nPSCRIPT5.DLL\r\nPS5UI.DLL\r\nPSCRIPT.NTF\r\nPS_SCHM.GDL\r\n"
     "[Strings]\r\nLumen = \"Lumen\"\r\nModel = \"Lumen PS3 Universal\"\r\n"},
};

std::wstring PcDriverFolder(const wchar_t* environment) {
    return NativeSystem32() + L"\\spool\\drivers\\" +
           (std::wstring(environment) == kX86 ? L"W32X86\\3\\" : L"x64\\3\\");
}

std::wstring PcStoreFolder(const wchar_t* folder) {
    return NativeSystem32() + L"\\DriverStore\\FileRepository\\" + folder + L"\\";
}

std::wstring PcInfFolder() {
    wchar_t windows[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows) + L"\\inf\\";
}

bool SeedPc() {
    bool seeded = true;
    for (const PcDriver& driver : PC_DRIVERS)
        seeded = AddPcDriver(driver) && seeded;
    for (const PcPackage& package : PC_PACKAGES) {
        const std::wstring folder = PcStoreFolder(package.folder);
        const std::wstring infName =
            std::wstring(package.folder).substr(0, std::wstring(package.folder).find(L".inf") + 4);
        WriteBytes(folder + infName, package.inf);
        WriteBytes(folder + L"amd64\\payload.dll", "MZ");
        WriteBytes(PcInfFolder() + package.published, package.inf);
        seeded = FileExists(folder + infName) && seeded;
    }
    return seeded;
}

void RemovePc() {
    for (const PcDriver& driver : PC_DRIVERS) {
        ::DeletePrinterDriverExW(nullptr, const_cast<wchar_t*>(driver.environment),
                                 const_cast<wchar_t*>(driver.name), 0, 0);
        for (const std::wstring& file : FilesOf(driver)) {
            ::DeleteFileW((PcDriverFolder(driver.environment) + file).c_str());
            ::DeleteFileW((StagingFolder(driver.environment) + file).c_str());
        }
    }
    for (const PcPackage& package : PC_PACKAGES) {
        RemoveTree(PcStoreFolder(package.folder));
        ::DeleteFileW((PcInfFolder() + package.published).c_str());
    }
}
