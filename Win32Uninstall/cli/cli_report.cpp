#include "cli/cli_report.h"

#include <algorithm>

#include "platform/native_windows.h"
#include "platform/win32_api.h"

using nlohmann::json;

namespace {

// A path as the report shows it: the folder a person finds in Explorer.
std::string PathText(const std::wstring& path) {
    return Utf8Of(PathShownToPeople(path));
}

json Paths(const std::vector<std::wstring>& paths) {
    json list = json::array();
    for (const std::wstring& path : paths)
        list.push_back(PathText(path));
    return list;
}

// The driver's module, configuration, data and help files and its dependent
// files, each once, in that order.
std::vector<std::wstring> FilesOf(const DRIVER_INFO_6W& info) {
    std::vector<std::wstring> files;
    auto add = [&](const std::wstring& file) {
        if (!file.empty() && std::find(files.begin(), files.end(), file) == files.end())
            files.push_back(file);
    };
    for (const wchar_t* file : {info.pDriverPath, info.pConfigFile, info.pDataFile, info.pHelpFile})
        add(TextOf(file));
    for (const wchar_t* entry = info.pDependentFiles; entry != nullptr && *entry != 0;
         entry += wcslen(entry) + 1) {
        add(entry);
    }
    return files;
}

// Device nodes as the reports show them.
json DevicesJson(const std::vector<DeviceNode>& devices) {
    json list = json::array();
    for (const DeviceNode& device : devices) {
        list.push_back({{"instanceId", Utf8Of(device.instanceId)},
                        {"description", Utf8Of(device.description)},
                        {"class", Utf8Of(device.deviceClass)},
                        {"oemInf", Utf8Of(device.infPath)}});
    }
    return list;
}

std::string DeviceText(const DeviceNode& device) {
    return Utf8Of(device.instanceId) +
           (device.description.empty() ? "" : "  \"" + Utf8Of(device.description) + "\"") + "  (" +
           Utf8Of(device.infPath) + ")";
}

json DriverJson(const DriverInventory& inventory, const DriverListEntry& row) {
    json driver = {{"name", Utf8Of(row.driverName)},
                   {"printers", Strings(PrintersUsing(inventory, row.driverName))},
                   {"devices", DevicesJson(DevicesOfModel(inventory.devices, row.driverName))}};
    if (row.driverInfo) {
        driver["environment"] = Utf8Of(TextOf(row.driverInfo->pEnvironment));
        driver["version"] = row.driverInfo->cVersion;
        driver["files"] = Paths(FilesOf(*row.driverInfo));
        const std::wstring monitor = TextOf(row.driverInfo->pMonitorName);
        driver["monitor"] = monitor.empty() ? json(nullptr) : json(Utf8Of(monitor));
    } else {
        driver["environment"] = nullptr;
        driver["version"] = nullptr;
        driver["files"] = json::array();
        driver["monitor"] = nullptr;
    }
    return driver;
}

// The environments of the driver's records, in the plan's order.
std::vector<std::wstring> EnvironmentsOf(const RemovalPlan& plan) {
    std::vector<std::wstring> environments;
    for (const auto& record : plan.driverRecords)
        environments.push_back(TextOf(record->pEnvironment));
    return environments;
}

void Line(std::string& text, const std::string& line) {
    text += line;
    text += '\n';
}

json TextOrNull(const std::wstring& text) {
    return text.empty() ? json(nullptr) : json(Utf8Of(text));
}

// The preview's `kept` entries of components that stay, and of the DLLs that
// stay while their component goes.
void AddKeptComponents(json& kept,
                       const std::vector<RegisteredComponent>& components,
                       const char* kind) {
    for (const RegisteredComponent& component : components) {
        if (!component.keptBecause.empty()) {
            json entry = {{kind, Utf8Of(component.name)},
                          {"reason", Utf8Of(component.keptBecause)}};
            if (!component.environment.empty())
                entry["environment"] = Utf8Of(component.environment);
            kept.push_back(entry);
        } else if (!component.dllKeptBecause.empty()) {
            kept.push_back(
                {{"path", PathText(component.dll)}, {"reason", Utf8Of(component.dllKeptBecause)}});
        }
    }
}

void AddComponentLines(std::string& text,
                       const std::vector<RegisteredComponent>& components,
                       const char* kind) {
    for (const RegisteredComponent& component : components) {
        std::string line = std::string(kind) + " " + Utf8Of(component.name);
        if (!component.environment.empty())
            line += " [" + Utf8Of(component.environment) + "]";
        if (!component.keptBecause.empty()) {
            line += ": stays (" + Utf8Of(component.keptBecause) + ")";
        } else {
            line += ": goes";
            if (!component.dll.empty()) {
                line += " with " + PathText(component.dll);
                if (!component.dllKeptBecause.empty())
                    line += " kept (" + Utf8Of(component.dllKeptBecause) + ")";
            }
        }
        Line(text, "  " + line);
    }
}

}  // namespace

json Strings(const std::vector<std::wstring>& texts) {
    json list = json::array();
    for (const std::wstring& text : texts)
        list.push_back(Utf8Of(text));
    return list;
}

std::string Utf8Of(const std::wstring& text) {
    const int size = win32.WideCharToMultiByte(
        CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) {
        win32.WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                  bytes.data(), size, nullptr, nullptr);
    }
    return bytes;
}

std::wstring ErrorText(DWORD error) {
    wchar_t* buffer = nullptr;
    const DWORD length = win32.FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length > 0 && buffer != nullptr ? std::wstring(buffer, length) : L"";
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' '))
        text.pop_back();
    return text;
}

json InventoryJson(const DriverInventory& inventory) {
    json rows = json::array();
    for (const DriverListEntry& row : inventory.rows) {
        rows.push_back({{"kind", row.isPrinter ? "printer" : "driver"},
                        {"name", Utf8Of(row.isPrinter ? row.printerName : row.driverName)},
                        {"driver", DriverJson(inventory, row)}});
    }
    return {{"command", "list"}, {"rows", rows}};
}

std::string InventoryText(const DriverInventory& inventory) {
    std::string text;
    for (const DriverListEntry& row : inventory.rows) {
        if (row.isPrinter) {
            Line(text, "printer  " + Utf8Of(row.printerName) +
                           "  (driver: " + Utf8Of(row.driverName) + ")");
            continue;
        }
        const std::vector<std::wstring> printers = PrintersUsing(inventory, row.driverName);
        std::string users;
        for (const std::wstring& printer : printers)
            users += (users.empty() ? "" : ", ") + Utf8Of(printer);
        Line(text, "driver   " + Utf8Of(row.driverName) + "  [" +
                       Utf8Of(TextOf(row.driverInfo->pEnvironment)) + ", version " +
                       std::to_string(row.driverInfo->cVersion) + "]" +
                       (users.empty() ? "" : "  used by: " + users));
        for (const std::wstring& file : FilesOf(*row.driverInfo))
            Line(text, "           " + PathText(file));
        for (const DeviceNode& device : DevicesOfModel(inventory.devices, row.driverName))
            Line(text, "           device " + DeviceText(device));
    }
    if (inventory.rows.empty())
        Line(text, "No printers and no printer drivers.");
    return text;
}

json UnusedPackagesJson(const std::vector<UnusedPackage>& packages) {
    json list = json::array();
    for (const UnusedPackage& package : packages) {
        list.push_back({{"folder", PathText(package.folder)},
                        {"inf", PathText(package.inf)},
                        {"models", Strings(package.models)}});
    }
    return list;
}

std::string UnusedPackagesText(const std::vector<UnusedPackage>& packages) {
    if (packages.empty())
        return {};
    std::string text;
    Line(text, "driver-store packages that no installed driver uses:");
    for (const UnusedPackage& package : packages) {
        std::string models;
        for (const std::wstring& model : package.models)
            models += (models.empty() ? "" : ", ") + Utf8Of(model);
        Line(text, "  " + PathText(package.folder) + "  (" + models + ")");
    }
    return text;
}

json ComponentsJson(const std::vector<RegisteredComponent>& components) {
    json list = json::array();
    for (const RegisteredComponent& component : components) {
        list.push_back(
            {{"name", Utf8Of(component.name)},
             {"environment", TextOrNull(component.environment)},
             {"dll", component.dll.empty() ? json(nullptr) : json(PathText(component.dll))},
             {"goes", component.keptBecause.empty()},
             {"reason", TextOrNull(component.keptBecause)},
             {"dllKeptBecause", TextOrNull(component.dllKeptBecause)}});
    }
    return list;
}

std::string ComponentsText(const RemovalPlan& plan) {
    if (plan.monitors.empty() && plan.printProcessors.empty())
        return {};
    std::string text;
    Line(text, "language monitors and print processors it registered:");
    AddComponentLines(text, plan.monitors, "language monitor");
    AddComponentLines(text, plan.printProcessors, "print processor");
    return text;
}

json PreviewJson(const RemovalPlan& plan, const std::vector<std::wstring>& spoolFiles) {
    json files = json::array();
    json kept = json::array();
    for (const DriverFileMatch& file : plan.driverFiles) {
        if (!file.keptBecause.empty()) {
            kept.push_back({{"path", PathText(file.path)}, {"reason", Utf8Of(file.keptBecause)}});
            continue;
        }
        files.push_back({{"path", PathText(file.path)},
                         {"matched", Utf8Of(file.matchedName)},
                         {"collateral", file.collateral}});
    }
    json oemInfs = json::array();
    for (const PackageMatch& inf : plan.packages.oemInfs) {
        if (inf.keptBecause.empty())
            oemInfs.push_back(PathText(inf.inf));
        else
            kept.push_back({{"path", PathText(inf.inf)}, {"reason", Utf8Of(inf.keptBecause)}});
    }
    json packages = json::array();
    for (const PackageMatch& package : plan.packages.packages) {
        if (!package.keptBecause.empty()) {
            kept.push_back(
                {{"path", PathText(package.folder)}, {"reason", Utf8Of(package.keptBecause)}});
            continue;
        }
        packages.push_back({{"folder", PathText(package.folder)},
                            {"inf", PathText(package.inf)},
                            {"line", Utf8Of(package.matchedLine)}});
    }
    AddKeptComponents(kept, plan.monitors, "monitor");
    AddKeptComponents(kept, plan.printProcessors, "printProcessor");
    json printer = plan.printers.empty() ? json(nullptr) : json(Utf8Of(plan.printers.front()));
    return {{"printer", printer},
            {"printers", Strings(plan.printers)},
            {"driver", plan.driver.empty() ? json(nullptr) : json(Utf8Of(plan.driver))},
            {"environments", Strings(EnvironmentsOf(plan))},
            {"spoolFiles", Paths(spoolFiles)},
            {"driverFiles", files},
            {"oemInfs", oemInfs},
            {"packages", packages},
            {"monitors", ComponentsJson(plan.monitors)},
            {"printProcessors", ComponentsJson(plan.printProcessors)},
            {"devices", DevicesJson(plan.devices)},
            {"kept", kept},
            {"windowsPackagesKept", plan.packages.windowsPackages}};
}

std::string PreviewText(const RemovalPlan& plan, const std::vector<std::wstring>& spoolFiles) {
    std::string text;
    std::string printers;
    for (const std::wstring& printer : plan.printers)
        printers += (printers.empty() ? "" : ", ") + Utf8Of(printer);
    Line(text, "printers: " + (printers.empty() ? "(none)" : printers));
    std::string environments;
    for (const std::wstring& environment : EnvironmentsOf(plan))
        environments += (environments.empty() ? "" : ", ") + Utf8Of(environment);
    Line(text,
         "driver:   " +
             (plan.driver.empty() ? "(kept)" : Utf8Of(plan.driver) + "  [" + environments + "]"));
    Line(text, "spool files: " + std::to_string(spoolFiles.size()));
    for (const std::wstring& file : spoolFiles)
        Line(text, "  " + PathText(file));
    std::vector<std::string> kept;
    std::string files;
    size_t fileCount = 0;
    for (const DriverFileMatch& file : plan.driverFiles) {
        if (!file.keptBecause.empty()) {
            kept.push_back(PathText(file.path) + "  (" + Utf8Of(file.keptBecause) + ")");
            continue;
        }
        ++fileCount;
        files += "  " + PathText(file.path) + "  (matches " + Utf8Of(file.matchedName) + ")" +
                 (file.collateral ? "  COLLATERAL: another file whose name contains it" : "") +
                 "\n";
    }
    Line(text, "driver files: " + std::to_string(fileCount));
    text += files;
    std::string infs;
    size_t infCount = 0;
    for (const PackageMatch& inf : plan.packages.oemInfs) {
        if (!inf.keptBecause.empty()) {
            kept.push_back(PathText(inf.inf) + "  (" + Utf8Of(inf.keptBecause) + ")");
            continue;
        }
        ++infCount;
        infs += "  " + PathText(inf.inf) + "\n";
    }
    Line(text, "oem INFs: " + std::to_string(infCount));
    text += infs;
    std::string packages;
    size_t packageCount = 0;
    for (const PackageMatch& package : plan.packages.packages) {
        if (!package.keptBecause.empty()) {
            kept.push_back(PathText(package.folder) + "  (" + Utf8Of(package.keptBecause) + ")");
            continue;
        }
        ++packageCount;
        packages += "  " + PathText(package.folder) + "\n    " + PathText(package.inf) + ": " +
                    Utf8Of(package.matchedLine) + "\n";
    }
    Line(text, "driver-store packages: " + std::to_string(packageCount));
    text += packages;
    text += ComponentsText(plan);
    Line(text, "devices: " + std::to_string(plan.devices.size()));
    for (const DeviceNode& device : plan.devices)
        Line(text, "  " + DeviceText(device));
    Line(text, "kept: " + std::to_string(kept.size()));
    for (const std::string& item : kept)
        Line(text, "  " + item);
    if (plan.packages.windowsPackages > 0) {
        Line(text, "Windows' own driver-store packages, never removed: " +
                       std::to_string(plan.packages.windowsPackages));
    }
    return text;
}

json OutcomesJson(const std::vector<StepOutcome>& outcomes) {
    json steps = json::array();
    for (const StepOutcome& outcome : outcomes) {
        json step = {{"step", Utf8Of(StepName(outcome.step))},
                     {"subject", Utf8Of(outcome.subject)},
                     {"succeeded", outcome.succeeded}};
        if (outcome.restartNeeded)
            step["restartNeeded"] = true;
        if (!outcome.succeeded) {
            step["failedCall"] = Utf8Of(outcome.failedCall);
            step["error"] = outcome.error;
            step["errorText"] = Utf8Of(outcome.error != 0 ? ErrorText(outcome.error) : L"");
        }
        steps.push_back(step);
    }
    return steps;
}

std::string OutcomesText(const std::vector<StepOutcome>& outcomes) {
    std::string text;
    for (const StepOutcome& outcome : outcomes) {
        std::string line = outcome.succeeded ? "ok      " : "FAILED  ";
        line += Utf8Of(StepName(outcome.step));
        if (!outcome.subject.empty())
            line.append(" ").append(Utf8Of(outcome.subject));
        if (outcome.restartNeeded)
            line += "  (Windows must restart to finish)";
        if (!outcome.succeeded) {
            line += ": " + Utf8Of(outcome.failedCall);
            if (outcome.error != 0) {
                line += " failed with error " + std::to_string(outcome.error) + ": " +
                        Utf8Of(ErrorText(outcome.error));
            }
        }
        Line(text, line);
    }
    return text;
}

namespace {

const char* KindName(RemainingKind kind) {
    switch (kind) {
        case RemainingKind::Driver:
            return "driver";
        case RemainingKind::Printer:
            return "printer";
        case RemainingKind::File:
            return "file";
        case RemainingKind::OemInf:
            return "oemInf";
        case RemainingKind::Package:
            return "package";
        case RemainingKind::Monitor:
            return "monitor";
        case RemainingKind::PrintProcessor:
            return "printProcessor";
        case RemainingKind::Device:
            return "device";
    }
    return "";
}

const char* StateName(RemainingState state) {
    switch (state) {
        case RemainingState::Kept:
            return "kept";
        case RemainingState::AtRestart:
            return "atRestart";
        case RemainingState::Failed:
            return "failed";
    }
    return "";
}

bool IsNamed(RemainingKind kind) {
    return kind == RemainingKind::Driver || kind == RemainingKind::Printer ||
           kind == RemainingKind::Monitor || kind == RemainingKind::PrintProcessor ||
           kind == RemainingKind::Device;
}

}  // namespace

json RemainsJson(const std::vector<RemainingItem>& items) {
    json list = json::array();
    for (const RemainingItem& item : items) {
        json entry = {{"kind", KindName(item.kind)}};
        entry[IsNamed(item.kind) ? "name" : "path"] =
            IsNamed(item.kind) ? Utf8Of(item.name) : PathText(item.name);
        entry["state"] = StateName(item.state);
        if (item.state == RemainingState::Kept)
            entry["reason"] = Utf8Of(item.reason);
        list.push_back(entry);
    }
    return list;
}

std::string RemainsText(const std::wstring& name, const std::vector<RemainingItem>& items) {
    if (items.empty())
        return "Nothing of " + Utf8Of(name) + " remains.\n";
    std::string text;
    Line(text, "What remains of " + Utf8Of(name) + ":");
    for (const RemainingItem& item : items) {
        std::string why = item.state == RemainingState::Kept        ? "kept: " + Utf8Of(item.reason)
                          : item.state == RemainingState::AtRestart ? "deleted at the restart"
                                                                    : "failed";
        Line(text, std::string("  ") + KindName(item.kind) + "  " +
                       (IsNamed(item.kind) ? Utf8Of(item.name) : PathText(item.name)) + "  (" +
                       why + ")");
    }
    return text;
}

json ScheduledJson(const ScheduledPaths& scheduled) {
    return Paths(scheduled);
}

std::string ScheduledText(const ScheduledPaths& scheduled) {
    if (scheduled.empty())
        return {};
    std::string text;
    Line(text, "In use, deleted at the next restart:");
    for (const std::wstring& path : scheduled)
        Line(text, "  " + PathText(path));
    return text;
}
