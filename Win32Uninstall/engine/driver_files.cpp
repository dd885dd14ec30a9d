#include "engine/driver_files.h"

#include <string_view>

#include "engine/file_helpers.h"
#include "log/operation_log.h"
#include "platform/native_windows.h"

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

BOOL DeleteDriverFiles(const DRIVER_INFO_6W& driverInfo) {
    const std::vector<std::wstring> names = DriverFileNamesToDelete(driverInfo);
    if (names.empty())
        return TRUE;
    const std::wstring folder = DriversFolder();
    if (folder.empty())
        return FALSE;
    BOOL result = TRUE;
    FileList unused;
    for (const std::wstring& name : names)
        result = WalkFolder(unused, folder, WALK_DELETE, name, FALSE);
    return result;
}
