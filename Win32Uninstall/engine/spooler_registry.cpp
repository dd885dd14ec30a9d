#include "engine/spooler_registry.h"

#include <algorithm>
#include <memory>

#include "log/operation_log.h"
#include "platform/native_windows.h"
#include "platform/unique_handles.h"
#include "platform/win32_api.h"

namespace {

// HKLM\SYSTEM is not redirected for 32-bit processes; the flag keeps it so
// should that ever change.
constexpr REGSAM READ_ACCESS = KEY_READ | KEY_WOW64_64KEY;
constexpr REGSAM DELETE_ACCESS = KEY_READ | DELETE | KEY_WOW64_64KEY;
constexpr DWORD KEY_NAME_LIMIT = 256;  // a key name has at most 255 characters

// Registry calls report through their result; the log takes it as the last
// error.
void LogRegistryFailure(const wchar_t* call, LONG status) {
    ::SetLastError(static_cast<DWORD>(status));
    WriteLog(call, true);
}

// Opens `path` below `parent`; null when it cannot. A missing key is not
// logged: most environments and versions simply lack what is looked for.
unique_hkey OpenKey(HKEY parent, const std::wstring& path, REGSAM access, LONG* status = nullptr) {
    HKEY opened = nullptr;
    const LONG result = win32.RegOpenKeyExW(parent, path.c_str(), 0, access, &opened);
    if (status != nullptr)
        *status = result;
    if (result != ERROR_SUCCESS) {
        if (result != ERROR_FILE_NOT_FOUND)
            LogRegistryFailure(L"RegOpenKeyEx", result);
        return unique_hkey();
    }
    return unique_hkey(opened);
}

unique_hkey OpenPrintKey(const std::wstring& below) {
    return OpenKey(HKEY_LOCAL_MACHINE, std::wstring(SPOOLER_PRINT_KEY) + below, READ_ACCESS);
}

// The names of the key's subkeys, in the registry's order.
std::vector<std::wstring> SubkeyNames(HKEY key) {
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[KEY_NAME_LIMIT] = {};
        DWORD length = KEY_NAME_LIMIT;
        if (win32.RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            return names;
        }
        names.emplace_back(name, length);
    }
}

// A text value (REG_SZ, REG_EXPAND_SZ or REG_MULTI_SZ) as it is stored, less
// the closing zeros; empty when it is absent or of another type.
std::wstring ReadText(HKEY key, const wchar_t* value) {
    DWORD type = 0;
    DWORD bytes = 0;
    if (win32.RegQueryValueExW(key, value, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ && type != REG_MULTI_SZ)) {
        return {};
    }
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    if (win32.RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                               &bytes) != ERROR_SUCCESS) {
        return {};
    }
    text.resize(bytes / sizeof(wchar_t));
    while (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text;
}

DWORD ReadNumber(HKEY key, const wchar_t* value) {
    DWORD number = 0;
    DWORD type = 0;
    DWORD bytes = sizeof number;
    if (win32.RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(&number),
                               &bytes) != ERROR_SUCCESS ||
        type != REG_DWORD) {
        return 0;
    }
    return number;
}

// One driver record and the texts it points into.
struct RegistryRecord {
    DRIVER_INFO_6W info{};
    std::wstring name, environment, driverPath, configFile, dataFile, helpFile, dependentFiles,
        monitor, dataType, previousNames;
};

wchar_t* TextOrNull(std::wstring& text) {
    return text.empty() ? nullptr : text.data();
}

// A multi-string's entries, each made a full path in `folder`.
std::wstring FullPaths(const std::wstring& multiString, const std::wstring& folder) {
    std::wstring paths;
    for (size_t begin = 0; begin < multiString.size();) {
        const size_t end = std::min(multiString.find(L'\0', begin), multiString.size());
        if (end > begin)
            paths += folder + multiString.substr(begin, end - begin) + L'\0';
        begin = end + 1;
    }
    return paths;
}

// A file value as the spooler gives it: a full path in `folder`.
std::wstring FullPath(HKEY key, const wchar_t* value, const std::wstring& folder) {
    const std::wstring file = ReadText(key, value);
    return file.empty() ? file : folder + file;
}

std::shared_ptr<const DRIVER_INFO_6W> ReadRecord(HKEY driverKey,
                                                 const std::wstring& name,
                                                 const std::wstring& environment,
                                                 const std::wstring& folder) {
    auto record = std::make_shared<RegistryRecord>();
    record->name = name;
    record->environment = environment;
    record->driverPath = FullPath(driverKey, L"Driver", folder);
    record->configFile = FullPath(driverKey, L"Configuration File", folder);
    record->dataFile = FullPath(driverKey, L"Data File", folder);
    record->helpFile = FullPath(driverKey, L"Help File", folder);
    record->dependentFiles = FullPaths(ReadText(driverKey, L"Dependent Files"), folder);
    if (!record->dependentFiles.empty())
        record->dependentFiles += L'\0';  // the list's closing empty entry
    record->monitor = ReadText(driverKey, L"Monitor");
    record->dataType = ReadText(driverKey, L"Datatype");
    record->previousNames = ReadText(driverKey, L"Previous Names");
    if (!record->previousNames.empty())
        record->previousNames += std::wstring(2, L'\0');

    DRIVER_INFO_6W& info = record->info;
    info.cVersion = ReadNumber(driverKey, L"Version");
    info.pName = record->name.data();
    info.pEnvironment = record->environment.data();
    info.pDriverPath = TextOrNull(record->driverPath);
    info.pConfigFile = TextOrNull(record->configFile);
    info.pDataFile = TextOrNull(record->dataFile);
    info.pHelpFile = TextOrNull(record->helpFile);
    info.pDependentFiles = TextOrNull(record->dependentFiles);
    info.pMonitorName = TextOrNull(record->monitor);
    info.pDefaultDataType = TextOrNull(record->dataType);
    info.pszzPreviousNames = TextOrNull(record->previousNames);
    return std::shared_ptr<const DRIVER_INFO_6W>(record, &record->info);
}

// The environment's folder below spool\DRIVERS\: its "Directory" value, or
// the name Windows gives the folders of the environments it knows.
std::wstring EnvironmentDirectory(HKEY environmentKey, const std::wstring& environment) {
    std::wstring directory = ReadText(environmentKey, L"Directory");
    if (!directory.empty())
        return directory;
    static const std::pair<const wchar_t*, const wchar_t*> known[] = {
        {L"Windows x64", L"x64"},   {L"Windows NT x86", L"W32X86"}, {L"Windows ARM64", L"ARM64"},
        {L"Windows IA64", L"IA64"}, {L"Windows 4.0", L"WIN40"},
    };
    for (const auto& [name, folder] : known) {
        if (_wcsicmp(name, environment.c_str()) == 0)
            return folder;
    }
    return environment;
}

// "Version-3" -> "3"; empty for a key of another name.
std::wstring VersionFolder(const std::wstring& versionKey) {
    constexpr wchar_t prefix[] = L"Version-";
    constexpr size_t length = sizeof prefix / sizeof prefix[0] - 1;
    return _wcsnicmp(versionKey.c_str(), prefix, length) == 0 ? versionKey.substr(length)
                                                              : std::wstring();
}

void ReadEnvironment(DriverRecords& records,
                     HKEY environments,
                     const std::wstring& environment,
                     const std::wstring& driversFolder) {
    const unique_hkey environmentKey = OpenKey(environments, environment, READ_ACCESS);
    const unique_hkey drivers =
        environmentKey ? OpenKey(environmentKey.get(), L"Drivers", READ_ACCESS) : unique_hkey();
    if (!drivers)
        return;
    const std::wstring directory = EnvironmentDirectory(environmentKey.get(), environment);
    for (const std::wstring& version : SubkeyNames(drivers.get())) {
        const std::wstring versionFolder = VersionFolder(version);
        const unique_hkey versionKey =
            versionFolder.empty() ? unique_hkey() : OpenKey(drivers.get(), version, READ_ACCESS);
        if (!versionKey)
            continue;
        const std::wstring folder = driversFolder + directory + L"\\" + versionFolder + L"\\";
        for (const std::wstring& name : SubkeyNames(versionKey.get())) {
            const unique_hkey driverKey = OpenKey(versionKey.get(), name, READ_ACCESS);
            if (driverKey)
                records.push_back(ReadRecord(driverKey.get(), name, environment, folder));
        }
    }
}

// Deletes `name` below `parent` with every key below it. True when it is gone
// (or never was); false after logging the failed call.
bool DeleteTree(HKEY parent, const std::wstring& name) {
    LONG status = ERROR_SUCCESS;
    {
        const unique_hkey key = OpenKey(parent, name, DELETE_ACCESS, &status);
        if (status == ERROR_FILE_NOT_FOUND)
            return true;
        if (!key)
            return false;
        for (const std::wstring& child : SubkeyNames(key.get())) {
            if (!DeleteTree(key.get(), child))
                return false;
        }
    }
    status = win32.RegDeleteKeyW(parent, name.c_str());
    if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND)
        return true;
    LogRegistryFailure(L"RegDeleteKey", status);
    return false;
}

}  // namespace

bool IsSpoolerUnreachable(DWORD error) {
    return error == RPC_S_SERVER_UNAVAILABLE || error == RPC_S_CALL_FAILED ||
           error == RPC_S_CALL_FAILED_DNE;
}

std::vector<RegistryPrinter> ReadRegistryPrinters() {
    std::vector<RegistryPrinter> printers;
    const unique_hkey key = OpenPrintKey(L"\\Printers");
    if (!key)
        return printers;
    for (const std::wstring& name : SubkeyNames(key.get())) {
        const unique_hkey printer = OpenKey(key.get(), name, READ_ACCESS);
        if (printer)
            printers.push_back({name, ReadText(printer.get(), L"Printer Driver"),
                                ReadText(printer.get(), L"Print Processor")});
    }
    return printers;
}

DriverRecords ReadRegistryDriverRecords() {
    DriverRecords records;
    std::wstring driversFolder;
    const unique_hkey environments = OpenPrintKey(L"\\Environments");
    // The spooler names System32, also to a 32-bit process on 64-bit Windows.
    if (!environments || !WindowsFolder(driversFolder, L"\\System32\\spool\\DRIVERS\\"))
        return records;
    for (const std::wstring& environment : SubkeyNames(environments.get()))
        ReadEnvironment(records, environments.get(), environment, driversFolder);
    return records;
}

bool DeletePrinterKey(const std::wstring& printerName) {
    HKEY root = HKEY_LOCAL_MACHINE;
    std::wstring parent = std::wstring(SPOOLER_PRINT_KEY) + L"\\Printers";
    std::wstring key = printerName;
    if (printerName.compare(0, 2, L"\\\\") == 0) {
        // A connection's key is its name with commas for backslashes.
        root = HKEY_CURRENT_USER;
        parent = L"Printers\\Connections";
        std::replace(key.begin(), key.end(), L'\\', L',');
    }
    LONG status = ERROR_SUCCESS;
    const unique_hkey printers = OpenKey(root, parent, DELETE_ACCESS, &status);
    if (!printers)
        return status == ERROR_FILE_NOT_FOUND;
    return DeleteTree(printers.get(), key);
}

bool DeleteDriverKeys(const std::wstring& driverName) {
    LONG status = ERROR_SUCCESS;
    const unique_hkey environments =
        OpenKey(HKEY_LOCAL_MACHINE, std::wstring(SPOOLER_PRINT_KEY) + L"\\Environments",
                READ_ACCESS, &status);
    if (!environments)
        return status == ERROR_FILE_NOT_FOUND;
    for (const std::wstring& environment : SubkeyNames(environments.get())) {
        const unique_hkey drivers =
            OpenKey(environments.get(), environment + L"\\Drivers", READ_ACCESS);
        if (!drivers)
            continue;
        for (const std::wstring& version : SubkeyNames(drivers.get())) {
            const unique_hkey versionKey = OpenKey(drivers.get(), version, DELETE_ACCESS);
            if (versionKey && !DeleteTree(versionKey.get(), driverName))
                return false;
        }
    }
    return true;
}

namespace {

// The "Driver" value of every subkey of `key`.
std::vector<RegistryComponent> ReadComponents(HKEY key,
                                              const std::wstring& environment,
                                              const std::wstring& dllFolder) {
    std::vector<RegistryComponent> components;
    for (const std::wstring& name : SubkeyNames(key)) {
        const unique_hkey component = OpenKey(key, name, READ_ACCESS);
        if (component)
            components.push_back(
                {name, environment, ReadText(component.get(), L"Driver"), dllFolder});
    }
    return components;
}

// Deletes `name` below the spooler's key `below`; a missing parent is success.
bool DeletePrintKey(const std::wstring& below, const std::wstring& name) {
    LONG status = ERROR_SUCCESS;
    const unique_hkey parent = OpenKey(HKEY_LOCAL_MACHINE, std::wstring(SPOOLER_PRINT_KEY) + below,
                                       DELETE_ACCESS, &status);
    if (!parent)
        return status == ERROR_FILE_NOT_FOUND;
    return DeleteTree(parent.get(), name);
}

}  // namespace

std::vector<RegistryComponent> ReadRegistryMonitors() {
    const unique_hkey monitors = OpenPrintKey(L"\\Monitors");
    std::wstring system32;
    if (!monitors || !NativeSystemFolder(system32, L"\\"))
        return {};
    return ReadComponents(monitors.get(), {}, system32);
}

std::vector<RegistryComponent> ReadRegistryPrintProcessors() {
    std::vector<RegistryComponent> processors;
    std::wstring prtprocs;
    const unique_hkey environments = OpenPrintKey(L"\\Environments");
    if (!environments || !NativeSystemFolder(prtprocs, L"\\spool\\prtprocs\\"))
        return processors;
    for (const std::wstring& environment : SubkeyNames(environments.get())) {
        const unique_hkey environmentKey = OpenKey(environments.get(), environment, READ_ACCESS);
        const unique_hkey key =
            environmentKey ? OpenKey(environmentKey.get(), L"Print Processors", READ_ACCESS)
                           : unique_hkey();
        if (!key)
            continue;
        const std::wstring folder =
            prtprocs + EnvironmentDirectory(environmentKey.get(), environment) + L"\\";
        for (RegistryComponent& processor : ReadComponents(key.get(), environment, folder))
            processors.push_back(std::move(processor));
    }
    return processors;
}

bool DeleteMonitorKey(const std::wstring& name) {
    return DeletePrintKey(L"\\Monitors", name);
}

bool DeletePrintProcessorKey(const std::wstring& environment, const std::wstring& name) {
    return DeletePrintKey(L"\\Environments\\" + environment + L"\\Print Processors", name);
}
