#include "engine/removal_preview.h"

#include <algorithm>

#include "engine/driver_files.h"
#include "engine/driver_packages.h"
#include "engine/file_helpers.h"
#include "engine/queue_purge.h"

namespace {

FileList Collect(const std::wstring& folder, const std::wstring& pattern) {
    FileList found;
    WalkFolder(found, folder, WALK_COLLECT, pattern, TRUE);
    return found;
}

std::vector<std::wstring> PreviewSpoolFiles() {
    std::wstring folder;
    if (!SpoolFilesFolder(folder))
        return {};
    // The purge deletes the shadow files first, then the spool files.
    std::vector<std::wstring> files = Collect(folder, L".SHD");
    const FileList spool = Collect(folder, L".SPL");
    files.insert(files.end(), spool.begin(), spool.end());
    return files;
}

std::vector<PreviewFile> PreviewDriverFiles(const DRIVER_INFO_6W& driverInfo) {
    std::wstring folder;
    if (!DriverFilesFolder(folder))
        return {};
    std::vector<PreviewFile> files;
    for (const std::wstring& name : DriverFileNamesToDelete(driverInfo)) {
        for (const std::wstring& path : Collect(folder, name))
            files.push_back({path, name, FileNameOf(path) != name});
    }
    return files;
}

std::vector<std::wstring> PreviewOemInfs(const std::wstring& driverName) {
    std::wstring folder;
    if (!OemInfFolder(folder))
        return {};
    std::vector<std::wstring> infs;
    for (const std::wstring& candidate : Collect(folder, L"oem")) {
        if (MentionsDriver(candidate, driverName))
            infs.push_back(candidate);
    }
    return infs;
}

std::vector<PreviewPackage> PreviewPackages(const std::wstring& driverName) {
    std::wstring repository;
    if (!DriverStoreRepository(repository))
        return {};
    std::vector<PreviewPackage> packages;
    for (const std::wstring& candidate : Collect(repository, L".inf")) {
        if (!MentionsDriver(candidate, driverName))
            continue;
        const std::wstring folder = FolderOf(candidate);
        const bool listed =
            std::any_of(packages.begin(), packages.end(),
                        [&](const PreviewPackage& p) { return p.folder == folder; });
        if (folder.empty() || folder == repository || listed)
            continue;
        packages.push_back({folder, candidate, LineMentioningDriver(candidate, driverName)});
    }
    return packages;
}

}  // namespace

RemovalPreview PreviewRemoval(const DriverListEntry& row) {
    RemovalPreview preview;
    if (row.isPrinter)
        preview.printer = row.printerName;
    preview.spoolFiles = PreviewSpoolFiles();
    if (!row.driverInfo)
        return preview;
    const std::wstring name = row.driverInfo->pName ? row.driverInfo->pName : L"";
    preview.driver = name;
    preview.driverFiles = PreviewDriverFiles(*row.driverInfo);
    preview.oemInfs = PreviewOemInfs(name);
    preview.packages = PreviewPackages(name);
    return preview;
}
