#include "engine/store_packages.h"

#include "engine/driver_packages.h"
#include "engine/file_helpers.h"
#include "engine/inf_sections.h"
#include "engine/inf_text.h"

std::set<std::wstring> PublishedInfNames() {
    std::set<std::wstring> names;
    std::wstring infFolder;
    if (!OemInfFolder(infFolder))
        return names;
    // Its sub-folders are not entered.
    for (const std::wstring& entry : ListFolder(infFolder, L".")) {
        if (entry.empty() || entry.back() != L'\\')
            names.insert(UpperInvariant(FileNameOf(entry)));
    }
    return names;
}

std::vector<UnusedPackage> FindUnusedPrinterPackages(
    const std::vector<std::wstring>& installedDrivers) {
    std::vector<UnusedPackage> unused;
    std::wstring repository;
    if (!DriverStoreRepository(repository))
        return unused;
    std::set<std::wstring> seen;
    for (const std::wstring& inf : FindStoreInfs(repository, nullptr).candidates) {
        const std::wstring folder = FolderOf(inf);
        const std::wstring name = UpperInvariant(FileNameOf(inf));
        const bool infName = name.size() > 4 && name.compare(name.size() - 4, 4, L".INF") == 0;
        if (!infName || seen.count(folder))
            continue;
        const std::wstring text = ReadInfText(inf);
        if (text.empty() || !ReasonToKeepPackage(text, installedDrivers).empty())
            continue;
        seen.insert(folder);
        unused.push_back({folder, inf, ModelNames(text)});
    }
    return unused;
}
