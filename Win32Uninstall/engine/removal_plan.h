// What the removal of one row takes and what it keeps, decided once from one
// inventory of the spooler, before any service is touched: the removal
// (RunRemovalPlans) acts on exactly this, and the preview shows exactly this.
//
// The rule: a removal takes everything of the selected driver, in every
// environment, and nothing that another driver, another device or Windows
// itself still uses:
//  - its record in every environment, each with its own environment;
//  - the files under the spooler's driver folders whose names contain one of
//    its file names, except those that an installed driver of another name
//    names (full path, case-insensitive);
//  - its oem INFs and driver-store packages, except those that another
//    installed driver, another model, another device class or Windows itself
//    still uses (see driver_packages.h);
//  - the device nodes bound to those oem INFs (device_nodes.h): every node
//    whose driver key's InfPath is the bare name of an oem INF the removal
//    takes, a-z and A-Z taken alike; the nodes of a kept package and every
//    other node stay;
//  - the language monitors and print processors that it registered itself
//    (see PlanRegisteredComponents), except those that another driver, a
//    printer, a package that stays or Windows itself still uses.
// A driver that printers still use is not removed unless those printers are
// removed with it.
#pragma once

#include <string>
#include <vector>

#include "engine/driver_files.h"
#include "engine/driver_inventory.h"
#include "engine/driver_packages.h"

// A language monitor or print processor that the removed driver registered.
struct RegisteredComponent {
    std::wstring name;
    // A print processor's environment; empty for a monitor, which serves
    // every environment.
    std::wstring environment;
    // Its DLL's full path (System32\<dll>, or spool\prtprocs\<folder>\<dll>)
    // when that file exists; empty when there is no file to delete.
    std::wstring dll;
    // Why it stays; empty when it goes.
    std::wstring keptBecause;
    // Why its DLL stays while it goes (one of Windows' own files, or the DLL
    // of another one that stays); empty when the DLL goes with it.
    std::wstring dllKeptBecause;
};

struct RemovalPlan {
    // The printers deleted, in order, before the driver.
    std::vector<std::wstring> printers;
    // The driver removed; empty when it stays (a printer-only removal).
    std::wstring driver;
    // Its record in every environment the spooler has it in.
    DriverRecords driverRecords;
    // Not empty when the removal is refused because these printers still use
    // the driver: nothing is to be changed.
    std::vector<std::wstring> printersUsingDriver;
    std::vector<DriverFileMatch> driverFiles;  // kept ones included, with their reason
    PackageScan packages;                      // kept ones included, with their reason
    // The files the spooler deletes with the driver's records
    // (FindSpoolerDeletedFiles), which a removal without the spooler deletes
    // itself; kept ones included, with their reason.
    std::vector<DriverFileMatch> spoolerFiles;
    // What remains of a driver that no record has any longer (see
    // PlanLeftoverRemoval): no spooler record and no printer is removed.
    bool leftovers = false;
    // The language monitors and print processors the driver registered
    // (PlanRegisteredComponents); kept ones included, with their reason.
    std::vector<RegisteredComponent> monitors;
    std::vector<RegisteredComponent> printProcessors;
    // The device nodes removed before the packages, in the inventory's order.
    std::vector<DeviceNode> devices;
};

// The reasons why one of Windows' own monitors or print processors, or its
// DLL, stays.
constexpr wchar_t WINDOWS_OWN_MONITOR[] = L"Windows' own monitor";
constexpr wchar_t WINDOWS_OWN_PRINT_PROCESSOR[] = L"Windows' own print processor";
constexpr wchar_t WINDOWS_OWN_FILE[] = L"Windows' own file";

// Whether `name` is one of the monitors or print processors that Windows
// itself registers (a new system's, and those that Windows' own INFs such as
// ntprint.inf register for the drivers that need them: "Local Port",
// "Standard TCP/IP Port", "USB Monitor", "WSD Port", "PJL Language Monitor",
// "winprint", ...), or `dll` one of their DLLs; case-insensitive.
bool IsWindowsMonitor(const std::wstring& name);
bool IsWindowsPrintProcessor(const std::wstring& name);
bool IsWindowsComponentDll(const std::wstring& dll);

// The language monitors and print processors that go with a plan's driver
// (none for a plan without one), decided against the inventory and the
// spooler's registry (ReadRegistryMonitors, ReadRegistryPrintProcessors):
// only what is registered there is planned. The driver's own are
//  - the monitor its removed records name, in every environment;
//  - the LanguageMonitor and PrintProcessor lines of its model's own install
//    sections in the INFs of the packages the plan removes (RegisteredFor:
//    not what comes through Include/Needs);
// print processors in each environment of the removed records (Windows' own
// environment for leftovers). One stays, with its reason, when
//  - it is Windows' own ("Windows' own monitor", "Windows' own print processor");
//  - a record of another driver, in any environment, names the monitor
//    ("used by driver <name>");
//  - a printer that stays uses the print processor ("used by printer <name>");
//  - a package that stays registers it in its own sections, for any model
//    ("registered by <inf> that stays");
//  - the monitor is named by a removed record only, while the plan removes
//    packages of the driver and none of them registers it itself: it came
//    through Include/Needs of Windows' own INFs ("not registered by the
//    driver's own package"). Without a removed package, the record alone
//    tells.
// A DLL stays with a component that goes when it is one of Windows' own files
// or another registered monitor (print processor of the same environment)
// that stays loads it.
// Plans the removal of the listed `row` (a row of `inventory`), as a set of
// one (removal_2_plan.h):
//  - a printer row loses its printer; its driver goes with it unless another
//    row names the same driver (RowForRemoval) or its information could not
//    be read;
//  - a driver row loses its driver; when printers use it, the plan is
//    refused (printersUsingDriver), or, with `withPrinters`, those printers
//    are deleted first.
// Walks the driver folders and reads the package candidates; changes nothing
// and logs only what the walks log.
RemovalPlan PlanRemoval(const DriverListEntry& row,
                        const DriverInventory& inventory,
                        bool withPrinters = false);

// Plans a row as it is given, without the use-count rules: its printer when
// it is a printer row, and the driver of its driverInfo when it has one, with
// every record of that name in `everyDriver` (the row's own when there is
// none there) and the nodes of `devices` bound to the oem INFs it takes; no
// language monitor or print processor.
RemovalPlan PlanRowRemoval(const DriverListEntry& row,
                           const DriverRecords& everyDriver,
                           const std::vector<DeviceNode>& devices = {});

// The nodes of `devices` whose InfPath is the bare file name of an oem INF
// of `oemInfs` that goes (not kept), a-z and A-Z taken alike.
std::vector<DeviceNode> DevicesBoundTo(const std::vector<DeviceNode>& devices,
                                       const std::vector<PackageMatch>& oemInfs);

// Plans the removal of what remains of `driverName` when no driver record of
// that name is left in any environment (a driver deleted without its
// package, a removal that failed half-way), by the same rules as a removal:
//  - the oem INFs and store packages whose INF names it, but those that
//    another installed driver, another device class or Windows uses;
//  - the files under the spooler's driver folders whose names are the files
//    that those packages' INFs install for it (FilesInstalledFor; the file
//    names are told from the INF only), but those that an installed driver
//    names;
//  - the device nodes of `inventory` bound to the oem INFs it takes.
// The plan has `leftovers` set; it may hold nothing at all. A set of one.
RemovalPlan PlanLeftoverRemoval(const std::wstring& driverName, const DriverInventory& inventory);

// Whether the plan found anything of its driver, kept or not: a file, an oem
// INF or a package.
bool FoundAnything(const RemovalPlan& plan);

// Whether carrying out the plan removes an oem INF or a driver-store package.
bool RemovesAPackage(const RemovalPlan& plan);

// The spool and shadow files the removal would delete (shadow files first),
// as PurgeSpoolFiles finds them; empty when the folder cannot be told.
std::vector<std::wstring> ListSpoolFiles();

// The Chinese log record of a refused plan: the driver is in use by the
// printers named.
std::wstring DriverInUseText(const RemovalPlan& plan);
