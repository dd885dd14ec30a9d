// A 64-bit PC as users have it, put into the private prefix's real spooler,
// inf folder and driver store: Windows' own drivers with their packages
// (published in the inf folder under their own names, UTF-16 as Windows'
// often are), a newer ntprint.inf that Windows Update brought (published as
// an oem INF), the receipt printers' "Generic / Text Only", the Microsoft PS
// Class Driver, a vendor package with two models that share files (published
// as an oem INF), the same device's scanner package, a second vendor's
// PostScript driver for x64 and, for 32-bit clients, for "Windows NT x86",
// and a Chinese vendor driver. The vendor packages are UTF-16 with localized
// [Strings.0804], as vendors write them. Its device nodes: the second
// vendor's printer by USB and by WSD, the multifunction printer and its
// scanner, and a printer of Windows Update's ntprint.inf. Seeding needs a
// 64-bit process (the 64-bit demo_machine does it for 32-bit tests).
#pragma once

#include <string>
#include <vector>

struct PcDriver {
    const wchar_t* name;
    const wchar_t* environment;        // "Windows x64" or "Windows NT x86"
    std::vector<const wchar_t*> main;  // driver, config, data, help (bare names)
    std::vector<const wchar_t*> dependents;
    const wchar_t* monitor = nullptr;  // the language monitor its record names
};

struct PcPackage {
    const wchar_t* published;  // its name in the inf folder
    const wchar_t* folder;     // its folder in the driver store
    const wchar_t* inf;        // its INF's text
    // Saved as UTF-16 LE, as Windows' own INFs often are and as every INF
    // with non-ASCII text must be; else as ANSI (these are ASCII).
    bool utf16;
};

// A Plug and Play device node bound, by its driver key's InfPath, to a
// package of the inf folder, as Windows leaves a printer it installed.
struct PcDevice {
    const wchar_t* instanceId;
    bool printer;  // of the Printer class, else of the Image class
    const wchar_t* description;
    const wchar_t* infPath;  // a bare name in the inf folder
    const wchar_t* model;    // the model installed from it (DriverDesc)
};

extern const std::vector<PcDriver> PC_DRIVERS;
extern const std::vector<PcPackage> PC_PACKAGES;
extern const std::vector<PcDevice> PC_DEVICES;

// The three drivers users removed, one after the other.
extern const wchar_t* const PC_SECOND_VENDOR_PS;
extern const wchar_t* const PC_VENDOR_GDI;
extern const wchar_t* const PC_GENERIC_TEXT;
// A vendor driver with a Chinese name, installed from a UTF-16 INF that names
// it through a token of [Strings.0804].
extern const wchar_t* const PC_CHINESE_VENDOR;

// The language monitors and the print processor of the PC: the vendors' own
// (a copy of the fixture monitor DLL in System32, registered with
// AddMonitorW; a print processor DLL in spool\prtprocs\x64\ registered with
// AddPrintProcessorW), and Windows' "PJL Language Monitor", which Windows'
// ntprint.inf registers for the drivers that need it.
extern const wchar_t* const PC_LUMEN_MONITOR;    // Lumen's, lumenlm.dll
extern const wchar_t* const PC_KAVRO_MONITOR;    // KAVRO's, kvlangmon.dll, named by two drivers
extern const wchar_t* const PC_LUMEN_PROCESSOR;  // Lumen's, lumenpp.dll, "Windows x64"
extern const wchar_t* const PC_PJL_MONITOR;

// Whether the spooler's registry has the monitor, or the print processor of
// "Windows x64".
bool PcMonitorRegistered(const wchar_t* name);
bool PcPrintProcessorRegistered(const wchar_t* name);

// Seeds the whole PC; true when every driver's files are where its record
// says (Wine accepts records of files it did not copy).
bool SeedPc();
// Takes the PC out again: records, files and packages.
void RemovePc();

// The version-3 folder of an environment ("x64\3\" or "W32X86\3\") below
// the native System32\spool\drivers\, and a package folder of the native
// driver store; both with a trailing backslash.
std::wstring PcDriverFolder(const wchar_t* environment);
std::wstring PcStoreFolder(const wchar_t* folder);
std::wstring PcInfFolder();

// Creates the device node with Wine's real setup API, as Windows binds it
// (replacing one of that id); true when it exists then with its InfPath.
bool AddDeviceNode(const PcDevice& device);
// Removes the node, if any.
void RemoveDeviceNode(const wchar_t* instanceId);
bool DeviceNodeExists(const wchar_t* instanceId);

// The demo machine's USB printer of "KAVRO LaserJet 1020", bound to that
// driver's package published as DEMO_OEM_INF.
extern const PcDevice DEMO_USB_PRINTER;
extern const wchar_t* const DEMO_OEM_INF;
