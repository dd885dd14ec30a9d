#include "support/pc_seed.h"

#include <windows.h>
#include <winspool.h>
// The class GUIDs, defined here.
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

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
    info.pMonitorName = const_cast<wchar_t*>(driver.monitor);
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
const wchar_t* const PC_CHINESE_VENDOR =
    L"\u5C9A\u62D3 KV-2100 PCL6 \u6253\u5370\u673A\u9A71\u52A8";
const wchar_t* const PC_LUMEN_MONITOR = L"Lumen Language Monitor";
const wchar_t* const PC_KAVRO_MONITOR = L"KAVRO Language Monitor";
const wchar_t* const PC_LUMEN_PROCESSOR = L"Lumen Print Processor";
const wchar_t* const PC_PJL_MONITOR = L"PJL Language Monitor";

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
     {L"KVMFCOM.DLL", L"KVMF6000.ICM", L"KVMFRES.DLL"},
     PC_KAVRO_MONITOR},
    {L"KAVRO MF6000 PCL6 PS",
     kX64,
     {L"PSCRIPT5.DLL", L"PS5UI.DLL", L"KVMF6000.PPD", L"PSCRIPT.HLP"},
     {L"KVMFCOM.DLL", L"KVMF6000.ICM", L"PSCRIPT.NTF", L"PS_SCHM.GDL"}},
    {PC_SECOND_VENDOR_PS,
     kX64,
     {L"PSCRIPT5.DLL", L"PS5UI.DLL", L"LUMPS3.PPD", L"PSCRIPT.HLP"},
     {L"PSCRIPT.NTF", L"PS_SCHM.GDL", L"LUMPS3.INI"},
     PC_LUMEN_MONITOR},
    {PC_SECOND_VENDOR_PS,
     kX86,
     {L"PSCRIPT5.DLL", L"PS5UI.DLL", L"LUMPS3.PPD", L"PSCRIPT.HLP"},
     {L"PSCRIPT.NTF", L"PS_SCHM.GDL", L"LUMPS3.INI"},
     PC_LUMEN_MONITOR},
    {PC_CHINESE_VENDOR,
     kX64,
     {L"KV2100.DLL", L"KV2100UI.DLL", L"KV2100.GPD", L""},
     {L"KV2100RES.DLL", L"UNIRES.DLL", L"STDNAMES.GPD"},
     PC_KAVRO_MONITOR},
};

// Windows' own ntprint.inf, as Windows Update also publishes a newer version
// of it.
#define NTPRINT_INF                                                                   \
    L"[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Printer\r\n"                   \
    L"ClassGUID={4D36E979-E325-11CE-BFC1-08002BE10318}\r\nProvider=%MSFT%\r\n"        \
    L"[Manufacturer]\r\n%GENERIC%=GENERIC, NTamd64\r\n[GENERIC.NTamd64]\r\n"          \
    L"\"Generic / Text Only\" = TTY, Generic_Text_Only\r\n"                           \
    L"\"Microsoft PS Class Driver\" = PS, MS_PS\r\n\"KAVRO MF6000 PCL6\" = INBOX\r\n" \
    L"[Strings]\r\nMSFT=\"Microsoft\"\r\nGENERIC=\"Generic\"\r\n"                     \
    L"[Strings.0804]\r\nGENERIC=\"\u901A\u7528\"\r\n"

const std::vector<PcPackage> PC_PACKAGES = {
    {L"ntprint.inf", L"ntprint.inf_amd64_5b2e6a1d77e3e6d8", NTPRINT_INF, true},
    {L"oem9.inf", L"ntprint.inf_amd64_9f3c0b7e12d4a6c1", NTPRINT_INF, true},
    {L"prnms001.inf", L"prnms001.inf_amd64_db986f156726d3d7",
     L"[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Printer\r\nProvider=%MSFT%\r\n[Models]\r\n"
     L"\"Microsoft XPS Document Writer v4\" = XPS\r\n[Strings]\r\nMSFT=\"Microsoft\"\r\n",
     true},
    {L"prnms003.inf", L"prnms003.inf_amd64_d953309ec763fcc7",
     L"[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Printer\r\n[Models]\r\n"
     L"\"Microsoft enhanced Point and Print compatibility driver\" = PNP\r\n",
     false},
    {L"tsprint.inf", L"tsprint.inf_amd64_af7e87be969e4e2c",
     L"[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Printer\r\n[Models]\r\n"
     L"\"Remote Desktop Easy Print\" = TS\r\n",
     false},
    {L"oem12.inf", L"kvmf6000.inf_amd64_3c1d9e0f4a2b7c65",
     L"[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Printer\r\n"
     L"ClassGUID={4D36E979-E325-11CE-BFC1-08002BE10318}\r\nProvider=%KAVRO%\r\n"
     L"[Manufacturer]\r\n%KAVRO% = KAVRO, NTamd64\r\n[KAVRO.NTamd64]\r\n"
     L"%GDI% = GDI, USBPRINT\\KAVROMF6000A1B2\r\n%PS% = PS, USBPRINT\\KAVROMF6000C3D4\r\n"
     L"[Strings]\r\nKAVRO=\"KAVRO\"\r\nGDI=\"KAVRO MF6000 PCL6\"\r\nPS=\"KAVRO MF6000 PCL6 PS\"\r\n"
     L"[Strings.0804]\r\nKAVRO=\"\u5C9A\u62D3\"\r\n",
     true},
    {L"oem13.inf", L"kvmfscan.inf_amd64_8e2f7a9b1c3d5e60",
     L"[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Image\r\n"
     L"ClassGUID={6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\r\n[KAVRO.NTamd64]\r\n"
     L"\"KAVRO MF6000 PCL6 Scanner\" = SCAN, USB\\VID_2B1D&PID_6000&MI_01\r\n",
     true},
    {L"oem14.inf", L"lumps3.inf_amd64_0f1e2d3c4b5a6978",
     L"[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Printer\r\n"
     L"[Manufacturer]\r\n%Lumen% = Lumen, NTamd64, NTx86\r\n"
     L"[Lumen.NTamd64]\r\n%Model% = LUMPS3, LumenLUMPS3A1\r\n"
     L"[Lumen.NTx86]\r\n%Model% = LUMPS3, LumenLUMPS3A1\r\n"
     L"[LUMPS3]\r\nCopyFiles = @LUMPS3.PPD, @LUMPS3.INI, PSCRIPT_FILES\r\n"
     L"DataFile = LUMPS3.PPD\r\nInclude = ntprint.inf\r\nNeeds = PSCRIPT.OEM\r\n"
     L"LanguageMonitor = %LumenMonitor%\r\nPrintProcessor = \"Lumen Print "
     L"Processor,lumenpp.dll\"\r\n"
     L"[PSCRIPT_FILES]\r\nPSCRIPT5.DLL\r\nPS5UI.DLL\r\nPSCRIPT.NTF\r\nPS_SCHM.GDL\r\n"
     L"[Strings]\r\nLumen = \"Lumen\"\r\nModel = \"Lumen PS3 Universal\"\r\n"
     L"LumenMonitor = \"Lumen Language Monitor,lumenlm.dll\"\r\n"
     L"[Strings.0804]\r\nModel = \"Lumen PS3 \u901A\u7528\"\r\n",
     true},
    {L"oem15.inf", L"kv2100.inf_amd64_6d0e4f2a8b1c3957",
     L"[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Printer\r\nProvider=%KAVRO%\r\n"
     L"[Manufacturer]\r\n%KAVRO% = KAVRO, NTamd64\r\n[KAVRO.NTamd64]\r\n"
     L"%KV2100% = KV2100, USBPRINT\\KAVROKV2100E5F6\r\n"
     L"[KV2100]\r\nCopyFiles = @KV2100.DLL, @KV2100UI.DLL, @KV2100.GPD, @KV2100RES.DLL\r\n"
     L"DriverFile = KV2100.DLL\r\nConfigFile = KV2100UI.DLL\r\nDataFile = KV2100.GPD\r\n"
     L"LanguageMonitor = \"KAVRO Language Monitor,kvlangmon.dll\"\r\n"
     L"Include = ntprint.inf\r\nNeeds = UNIDRV_BIDI.OEM\r\n"
     L"[Strings]\r\nKAVRO=\"KAVRO\"\r\nKV2100=\"KAVRO KV-2100 PCL6 Printer Driver\"\r\n"
     L"[Strings.0804]\r\nKAVRO=\"\u5C9A\u62D3\"\r\n"
     L"KV2100=\"\u5C9A\u62D3 KV-2100 PCL6 \u6253\u5370\u673A\u9A71\u52A8\"\r\n",
     true},
};

#undef NTPRINT_INF

const std::vector<PcDevice> PC_DEVICES = {
    {L"USBPRINT\\LUMENLUMPS3A1\\7&1A2B3C&0&USB001", true, L"Lumen PS3 Universal", L"oem14.inf",
     PC_SECOND_VENDOR_PS},
    {L"WSDPRINT\\LUMENLUMPS3A1\\UUID:5E1D0001", true, L"Lumen PS3 Universal (WSD)", L"OEM14.INF",
     PC_SECOND_VENDOR_PS},
    {L"USBPRINT\\KAVROMF6000A1B2\\7&2B3C4D&0&USB002", true, L"KAVRO MF6000 PCL6", L"oem12.inf",
     PC_VENDOR_GDI},
    {L"USB\\VID_2B1D&PID_6000&MI_01\\7&2B3C4D&0&0001", false, L"KAVRO MF6000 PCL6 Scanner",
     L"oem13.inf", L"KAVRO MF6000 PCL6 Scanner"},
    {L"USBPRINT\\GENERICTEXTONLY\\7&3D4E&0&USB003", true, L"Generic / Text Only", L"oem9.inf",
     PC_GENERIC_TEXT},
};

const PcDevice DEMO_USB_PRINTER = {L"USBPRINT\\KAVROLASERJET1020\\7&4E5F6A&0&USB001", true,
                                   L"KAVRO LaserJet 1020", L"oem50.inf", L"KAVRO LaserJet 1020"};
const wchar_t* const DEMO_OEM_INF = L"oem50.inf";

bool AddDeviceNode(const PcDevice& device) {
    RemoveDeviceNode(device.instanceId);
    const GUID& guid = device.printer ? GUID_DEVCLASS_PRINTER : GUID_DEVCLASS_IMAGE;
    const HDEVINFO set = ::SetupDiCreateDeviceInfoList(&guid, nullptr);
    if (set == INVALID_HANDLE_VALUE)
        return false;
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    const std::wstring id = device.instanceId;
    // The hardware id is the instance id's first two parts.
    const std::wstring hardwareId = id.substr(0, id.rfind(L'\\')) + L'\0' + L'\0';
    bool added = ::SetupDiCreateDeviceInfoW(set, device.instanceId, &guid, device.description,
                                            nullptr, 0, &data) &&
                 ::SetupDiSetDeviceRegistryPropertyW(
                     set, &data, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(hardwareId.data()),
                     static_cast<DWORD>(hardwareId.size() * sizeof(wchar_t))) &&
                 ::SetupDiRegisterDeviceInfo(set, &data, 0, nullptr, nullptr, nullptr);
    if (added) {
        const HKEY key =
            ::SetupDiCreateDevRegKeyW(set, &data, DICS_FLAG_GLOBAL, 0, DIREG_DRV, nullptr, nullptr);
        auto setText = [&](const wchar_t* name, const std::wstring& text) {
            return ::RegSetValueExW(
                       key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
        };
        added = key != INVALID_HANDLE_VALUE && setText(L"InfPath", device.infPath) &&
                setText(L"DriverDesc", device.model);
        if (key != INVALID_HANDLE_VALUE)
            ::RegCloseKey(key);
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return added && DeviceNodeExists(device.instanceId);
}

void RemoveDeviceNode(const wchar_t* instanceId) {
    const HDEVINFO set = ::SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    if (::SetupDiOpenDeviceInfoW(set, instanceId, nullptr, 0, &data))
        ::SetupDiCallClassInstaller(DIF_REMOVE, set, &data);
    ::SetupDiDestroyDeviceInfoList(set);
}

bool DeviceNodeExists(const wchar_t* instanceId) {
    const HDEVINFO set = ::SetupDiCreateDeviceInfoList(nullptr, nullptr);
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    const bool exists = ::SetupDiOpenDeviceInfoW(set, instanceId, nullptr, 0, &data) != FALSE;
    ::SetupDiDestroyDeviceInfoList(set);
    return exists;
}

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

namespace {

constexpr wchar_t kMonitorsKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\";
constexpr wchar_t kProcessorsKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows x64\\Print Processors\\";

std::wstring ProcessorFolder() {
    return NativeSystem32() + L"\\spool\\prtprocs\\x64\\";
}

// The fixture monitor, copied into System32 under the vendor's DLL name and
// registered as the vendor's INF has the spooler register it.
bool AddPcMonitor(const wchar_t* name, const wchar_t* dll) {
    if (!::CopyFileW((ExecutableFolder() + L"print_monitor.dll").c_str(),
                     (NativeSystem32() + L"\\" + dll).c_str(), FALSE)) {
        return false;
    }
    MONITOR_INFO_2W info{const_cast<wchar_t*>(name), nullptr, const_cast<wchar_t*>(dll)};
    return ::AddMonitorW(nullptr, 2, reinterpret_cast<BYTE*>(&info)) ||
           ::GetLastError() == ERROR_PRINT_MONITOR_ALREADY_INSTALLED;
}

bool KeyExists(const std::wstring& path) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

bool SeedPcComponents() {
    // Windows' own, as an install from ntprint.inf leaves it (its DLL is
    // Windows', not the tests').
    const wchar_t pjl[] = L"pjlmon.dll";
    const bool pjlSeeded =
        ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, (std::wstring(kMonitorsKey) + PC_PJL_MONITOR).c_str(),
                          L"Driver", REG_SZ, pjl, sizeof pjl) == ERROR_SUCCESS;
    ::CreateDirectoryW(ProcessorFolder().c_str(), nullptr);
    WriteBytes(ProcessorFolder() + L"lumenpp.dll", "MZ");
    return pjlSeeded && AddPcMonitor(PC_LUMEN_MONITOR, L"lumenlm.dll") &&
           AddPcMonitor(PC_KAVRO_MONITOR, L"kvlangmon.dll") &&
           ::AddPrintProcessorW(nullptr, const_cast<wchar_t*>(kX64),
                                const_cast<wchar_t*>(L"lumenpp.dll"),
                                const_cast<wchar_t*>(PC_LUMEN_PROCESSOR));
}

void RemovePcComponents() {
    for (const wchar_t* monitor : {PC_LUMEN_MONITOR, PC_KAVRO_MONITOR, PC_PJL_MONITOR})
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(kMonitorsKey) + monitor).c_str());
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                     (std::wstring(kProcessorsKey) + PC_LUMEN_PROCESSOR).c_str());
    for (const wchar_t* dll : {L"lumenlm.dll", L"kvlangmon.dll"})
        ::DeleteFileW((NativeSystem32() + L"\\" + dll).c_str());
    ::DeleteFileW((ProcessorFolder() + L"lumenpp.dll").c_str());
}

}  // namespace

bool PcMonitorRegistered(const wchar_t* name) {
    return KeyExists(std::wstring(kMonitorsKey) + name);
}

bool PcPrintProcessorRegistered(const wchar_t* name) {
    return KeyExists(std::wstring(kProcessorsKey) + name);
}

bool SeedPc() {
    bool seeded = SeedPcComponents();
    for (const PcDriver& driver : PC_DRIVERS)
        seeded = AddPcDriver(driver) && seeded;
    for (const PcPackage& package : PC_PACKAGES) {
        const std::wstring folder = PcStoreFolder(package.folder);
        const std::wstring infName =
            std::wstring(package.folder).substr(0, std::wstring(package.folder).find(L".inf") + 4);
        const std::wstring text = package.inf;
        const std::string bytes =
            package.utf16 ? Utf16LeFile(text) : std::string(text.begin(), text.end());
        WriteBytes(folder + infName, bytes);
        WriteBytes(folder + L"amd64\\payload.dll", "MZ");
        WriteBytes(PcInfFolder() + package.published, bytes);
        seeded = FileExists(folder + infName) && seeded;
    }
    for (const PcDevice& device : PC_DEVICES)
        seeded = AddDeviceNode(device) && seeded;
    return seeded;
}

void RemovePc() {
    RemovePcComponents();
    for (const PcDevice& device : PC_DEVICES)
        RemoveDeviceNode(device.instanceId);
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
