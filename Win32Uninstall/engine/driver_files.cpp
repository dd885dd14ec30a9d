#include "engine/driver_files.h"

#include <algorithm>
#include <cwchar>
#include <map>
#include <set>
#include <string_view>

#include "engine/file_helpers.h"
#include "log/operation_log.h"
#include "platform/native_windows.h"
#include "platform/unique_handles.h"

const wchar_t SharedDriverFiles[] =
    L"UNIDRV.DLL;UNIDRVUI.DLL;UNIDRV.HLP;UNIRES.DLL;STDNAMES.GPD;STDDTYPE.GDL;STDSCHEM.GDL;"
    L"STDSCHMX.GDL;";

namespace {

bool IsSharedDriverFile(const std::wstring& name) {
    return std::wstring_view(SharedDriverFiles).find(name) != std::wstring_view::npos;
}

// DriverFilesFolder, or empty (logged) when the shell cannot tell the Windows
// folder: the bare remainder would name a folder at the root of whatever
// drive is current.
std::wstring DriversFolder() {
    std::wstring folder;
    if (!DriverFilesFolder(folder)) {
        WriteLog(L"SHGetSpecialFolderPath", true);
        return {};
    }
    return folder;
}

// A path as the comparison of files takes it: upper-cased, and from
// "\spool\drivers\" on where it has that. The spooler names files through
// System32, while a 32-bit process on 64-bit Windows walks them through
// Sysnative: both are the same file.
std::wstring FileKey(const std::wstring& path) {
    const std::wstring upper = UpperInvariant(path);
    const size_t drivers = upper.find(L"\\SPOOL\\DRIVERS\\");
    return drivers == std::wstring::npos ? upper : upper.substr(drivers);
}

void AddFile(std::map<std::wstring, std::wstring>& files,
             const wchar_t* path,
             const std::wstring& driver) {
    if (path != nullptr && *path != 0)
        files.emplace(FileKey(path), driver);
}

// Every file that the records name, upper-cased, with the name of the first
// driver that names it.
std::map<std::wstring, std::wstring> FilesUsedBy(
    const std::vector<const DRIVER_INFO_6W*>& records) {
    std::map<std::wstring, std::wstring> files;
    for (const DRIVER_INFO_6W* record : records) {
        const std::wstring driver = record->pName ? record->pName : L"";
        for (const wchar_t* path :
             {record->pDriverPath, record->pConfigFile, record->pDataFile, record->pHelpFile}) {
            AddFile(files, path, driver);
        }
        for (const wchar_t* entry = record->pDependentFiles; entry != nullptr && *entry != 0;
             entry += wcslen(entry) + 1) {
            AddFile(files, entry, driver);
        }
    }
    return files;
}

// The files that `collect` finds under the drivers folder for `names`, each
// once, with the reason to keep those that `others` name. Nothing is walked
// without names; without a drivers folder `folderKnown` turns false.
template <typename Collect>
std::vector<DriverFileMatch> DecideFiles(const std::vector<std::wstring>& names,
                                         const std::vector<const DRIVER_INFO_6W*>& others,
                                         bool& folderKnown,
                                         Collect collect) {
    folderKnown = true;
    std::vector<DriverFileMatch> files;
    if (names.empty())
        return files;
    const std::wstring folder = DriversFolder();
    if (folder.empty()) {
        folderKnown = false;
        return files;
    }
    const std::map<std::wstring, std::wstring> usedByOthers = FilesUsedBy(others);
    std::set<std::wstring> seen;
    for (DriverFileMatch& file : collect(folder)) {
        const std::wstring key = FileKey(file.path);
        if (!seen.insert(key).second)
            continue;
        const auto user = usedByOthers.find(key);
        if (user != usedByOthers.end())
            file.keptBecause = L"used by driver " + user->second;
        files.push_back(std::move(file));
    }
    return files;
}

}  // namespace

bool DriverFilesFolder(std::wstring& folder) {
    return NativeSystemFolder(folder, L"\\spool\\drivers\\");
}

std::vector<std::wstring> DriverFileNamesToDelete(const DRIVER_INFO_6W& driverInfo) {
    std::vector<std::wstring> names;
    const std::wstring monitor = driverInfo.pMonitorName ? driverInfo.pMonitorName : L"";
    const wchar_t* entry = driverInfo.pDependentFiles ? driverInfo.pDependentFiles : L"";
    for (;;) {
        const std::wstring path = entry;
        const std::wstring name = FileNameOf(path);
        if (!name.empty() && !IsSharedDriverFile(name))
            names.push_back(name);
        if (name.empty() || name == monitor)
            break;
        entry += path.size() + 1;
    }
    const std::wstring dataFile = FileNameOf(driverInfo.pDataFile ? driverInfo.pDataFile : L"");
    if (!dataFile.empty())
        names.push_back(dataFile);
    return names;
}

std::vector<DriverFileMatch> FindDriverFiles(const std::vector<const DRIVER_INFO_6W*>& removed,
                                             const std::vector<const DRIVER_INFO_6W*>& others,
                                             bool& folderKnown) {
    std::vector<std::wstring> names;
    for (const DRIVER_INFO_6W* record : removed) {
        for (const std::wstring& name : DriverFileNamesToDelete(*record)) {
            if (std::find(names.begin(), names.end(), name) == names.end())
                names.push_back(name);
        }
    }
    return DecideFiles(names, others, folderKnown, [&](const std::wstring& folder) {
        std::vector<DriverFileMatch> found;
        for (const std::wstring& name : names) {
            FileList paths;
            WalkFolder(paths, folder, WALK_COLLECT, name, FALSE);
            for (const std::wstring& path : paths)
                found.push_back({path, name, FileNameOf(path) != name, {}});
        }
        return found;
    });
}

std::vector<DriverFileMatch> FindFilesNamed(const std::vector<std::wstring>& names,
                                            const std::vector<const DRIVER_INFO_6W*>& others,
                                            bool& folderKnown) {
    return DecideFiles(names, others, folderKnown, [&](const std::wstring& folder) {
        FileList paths;
        WalkFolder(paths, folder, WALK_COLLECT, L"", FALSE);
        std::vector<DriverFileMatch> found;
        for (const std::wstring& path : paths) {
            const std::wstring name = UpperInvariant(FileNameOf(path));
            if (std::find(names.begin(), names.end(), name) != names.end() &&
                !IsSharedDriverFile(name)) {
                found.push_back({path, name, false, {}});
            }
        }
        return found;
    });
}

namespace {

bool FileThere(const std::wstring& path) {
    WIN32_FIND_DATAW data{};
    const unique_find found(win32.FindFirstFileW(path.c_str(), &data));
    return found.is_valid() && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The path of a file the spooler names, as `driversFolder` reaches it; empty
// for a file outside the spooler's driver folders, which is never touched.
std::wstring InDriversFolder(const std::wstring& path, const std::wstring& driversFolder) {
    const std::wstring key = FileKey(path);
    constexpr std::wstring_view drivers = L"\\SPOOL\\DRIVERS\\";
    if (key.compare(0, drivers.size(), drivers) != 0)
        return {};
    return driversFolder + path.substr(path.size() - key.size() + drivers.size());
}

}  // namespace

std::vector<DriverFileMatch> FindSpoolerDeletedFiles(
    const std::vector<const DRIVER_INFO_6W*>& removed,
    const std::vector<const DRIVER_INFO_6W*>& others,
    const std::vector<DriverFileMatch>& alreadyFound,
    bool& folderKnown) {
    std::vector<DriverFileMatch> files;
    const std::wstring folder = DriversFolder();
    folderKnown = !folder.empty();
    if (!folderKnown)
        return files;
    const std::map<std::wstring, std::wstring> usedByOthers = FilesUsedBy(others);
    std::set<std::wstring> seen;
    for (const DriverFileMatch& file : alreadyFound)
        seen.insert(FileKey(file.path));
    for (const DRIVER_INFO_6W* record : removed) {
        for (const wchar_t* named :
             {record->pDriverPath, record->pConfigFile, record->pDataFile, record->pHelpFile}) {
            const std::wstring path = InDriversFolder(named ? named : L"", folder);
            const std::wstring name = FileNameOf(path);
            if (path.empty() || IsSharedDriverFile(name) || !seen.insert(FileKey(path)).second ||
                !FileThere(path)) {
                continue;
            }
            DriverFileMatch file{path, name, false, {}};
            const auto user = usedByOthers.find(FileKey(path));
            if (user != usedByOthers.end())
                file.keptBecause = L"used by driver " + user->second;
            files.push_back(std::move(file));
        }
    }
    return files;
}

BOOL DeleteDriverFiles(const std::vector<DriverFileMatch>& files, ScheduledPaths& scheduled) {
    BOOL result = TRUE;
    for (const DriverFileMatch& file : files) {
        if (file.keptBecause.empty() && !DeleteOrSchedule(file.path, scheduled))
            result = FALSE;
    }
    return result;
}

BOOL DeleteDriverFiles(const DRIVER_INFO_6W& driverInfo) {
    bool folderKnown = true;
    const std::vector<DriverFileMatch> files = FindDriverFiles({&driverInfo}, {}, folderKnown);
    ScheduledPaths scheduled;
    return folderKnown ? DeleteDriverFiles(files, scheduled) : FALSE;
}
