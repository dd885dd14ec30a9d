#include "engine/store_packages.h"

#include "engine/driver_packages.h"
#include "engine/file_helpers.h"
#include "engine/inf_sections.h"
#include "platform/unique_handles.h"

std::set<std::wstring> PublishedInfNames() {
    std::set<std::wstring> names;
    std::wstring folder;
    if (!OemInfFolder(folder))
        return names;
    WIN32_FIND_DATAW entry{};
    unique_find find(win32.FindFirstFileW((folder + L"*").c_str(), &entry));
    for (bool more = find.is_valid(); more; more = win32.FindNextFileW(find.get(), &entry)) {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.insert(UpperInvariant(entry.cFileName));
    }
    return names;
}

std::vector<UnusedPackage> FindUnusedPrinterPackages(
    const std::vector<std::wstring>& installedDrivers) {
    std::vector<UnusedPackage> unused;
    std::wstring repository;
    if (!DriverStoreRepository(repository))
        return unused;
    FileList candidates;
    WalkFolder(candidates, repository, WALK_COLLECT, L".inf", TRUE);
    const std::set<std::wstring> published = PublishedInfNames();
    std::set<std::wstring> seen;
    for (const std::wstring& inf : candidates) {
        const std::wstring folder = FolderOf(inf);
        const std::wstring name = UpperInvariant(FileNameOf(inf));
        const bool infName = name.size() > 4 && name.compare(name.size() - 4, 4, L".INF") == 0;
        if (!infName || folder == repository || published.count(name) || seen.count(folder))
            continue;
        const std::wstring text = ReadInfText(inf);
        if (text.empty() || !ReasonToKeepPackage(text, installedDrivers).empty())
            continue;
        seen.insert(folder);
        unused.push_back({folder, inf, ModelNames(text)});
    }
    return unused;
}
