#include "engine/driver_packages.h"

#include <algorithm>
#include <cwchar>
#include <map>
#include <set>

#include "engine/file_helpers.h"
#include "engine/inf_scan.h"
#include "engine/inf_sections.h"
#include "engine/inf_text.h"
#include "engine/store_packages.h"
#include "platform/native_windows.h"

namespace {

bool IsInfName(const std::wstring& path) {
    const std::wstring name = UpperInvariant(FileNameOf(path));
    return name.size() > 4 && name.compare(name.size() - 4, 4, L".INF") == 0;
}

bool IsFolderEntry(const std::wstring& entry) {
    return !entry.empty() && entry.back() == L'\\';
}

// Why a package whose INF gave `findings` stays, or empty (see
// ReasonToKeepPackage).
std::wstring KeepReason(const InfFindings& findings,
                        const std::vector<std::wstring>& remainingDrivers) {
    if (findings.microsoftProvider)
        return WINDOWS_OWN_PACKAGE;
    if (!findings.otherDeviceClass.empty())
        return L"another device class (" + findings.otherDeviceClass + L")";
    if (findings.namedDriver < remainingDrivers.size())
        return L"used by driver " + remainingDrivers[findings.namedDriver];
    return {};
}

// Why the package of an INF that names the driver and gave `findings` stays,
// or empty: KeepReason, else, read only now (few INFs name the driver), the
// models it declares (OtherModelsPackage).
std::wstring Verdict(const std::wstring& inf,
                     const InfFindings& findings,
                     const std::wstring& driverName,
                     const std::vector<std::wstring>& remainingDrivers) {
    std::wstring reason = KeepReason(findings, remainingDrivers);
    if (reason.empty() && findings.namesDriver)
        reason = OtherModelsPackage(ReadInfText(inf), driverName);
    return reason;
}

// The findings of each file that one scan reads, by its path taken
// case-insensitively: an oem PNF's verdict comes from the INF beside it,
// which is a candidate of its own, and each file is read once.
class ScannedFiles {
  public:
    explicit ScannedFiles(const InfNames& names) : names_(names) {}
    const InfFindings& Of(const std::wstring& path) {
        const std::wstring key = UpperInvariant(path);
        auto found = findings_.find(key);
        if (found == findings_.end())
            found = findings_.emplace(key, ScanInfFile(path, names_)).first;
        return found->second;
    }
    // The verdict on the file at `path` (see Verdict), decided once.
    const std::wstring& VerdictOn(const std::wstring& path,
                                  const std::wstring& driverName,
                                  const std::vector<std::wstring>& remainingDrivers) {
        const std::wstring key = UpperInvariant(path);
        auto found = verdicts_.find(key);
        if (found == verdicts_.end()) {
            const std::wstring reason = Verdict(path, Of(path), driverName, remainingDrivers);
            found = verdicts_.emplace(key, reason).first;
        }
        return found->second;
    }

  private:
    const InfNames& names_;
    std::map<std::wstring, InfFindings> findings_;
    std::map<std::wstring, std::wstring> verdicts_;
};

void AddOemMatch(std::vector<PackageMatch>& matches,
                 const std::wstring& candidate,
                 ScannedFiles& files,
                 const std::wstring& driverName,
                 const std::vector<std::wstring>& remainingDrivers) {
    const InfFindings& findings = files.Of(candidate);
    if (!findings.namesDriver)
        return;
    PackageMatch match;
    match.inf = candidate;
    match.matchedLine = findings.matchedLine;
    // A precompiled oemN.PNF is no INF text: its INF beside it decides.
    const size_t dot = candidate.rfind(L'.');
    const bool decidedBeside = !IsInfName(candidate) && dot != std::wstring::npos;
    match.keptBecause =
        files.VerdictOn(decidedBeside ? candidate.substr(0, dot) + L".inf" : candidate, driverName,
                        remainingDrivers);
    matches.push_back(std::move(match));
}

void AddStoreMatch(std::vector<PackageMatch>& matches,
                   const std::wstring& candidate,
                   const InfFindings& findings,
                   const std::wstring& driverName,
                   const std::vector<std::wstring>& remainingDrivers) {
    if (!findings.namesDriver)
        return;
    PackageMatch match;
    match.inf = candidate;
    match.matchedLine = findings.matchedLine;
    match.folder = FolderOf(candidate);
    match.keptBecause = Verdict(candidate, findings, driverName, remainingDrivers);
    for (PackageMatch& listed : matches) {
        if (listed.folder != match.folder)
            continue;
        // The folder goes whole or stays whole.
        if (listed.keptBecause.empty())
            listed.keptBecause = match.keptBecause;
        return;
    }
    matches.push_back(std::move(match));
}

// The oem files of the inf folder (names containing "oem"), sub-folders
// included, in walk order. With `published`, also the upper-cased names of
// the files that lie directly in the inf folder, from the same enumeration;
// sub-folders are searched for oem files alone.
FileList OemFiles(const std::wstring& infFolder, std::set<std::wstring>* published) {
    FileList oemFiles;
    for (const std::wstring& entry : ListFolder(infFolder, published ? L"" : L"oem")) {
        if (IsFolderEntry(entry)) {
            WalkFolder(oemFiles, entry, WALK_COLLECT, L"oem", TRUE);
            continue;
        }
        if (published != nullptr)
            published->insert(UpperInvariant(FileNameOf(entry)));
        if (NameContains(entry, L"oem"))
            oemFiles.push_back(entry);
    }
    return oemFiles;
}

// The oem files of the inf folder that name the driver, each with its
// verdict, and with `published` the names published in the inf folder.
std::vector<PackageMatch> MatchOemInfs(const std::wstring& driverName,
                                       const std::vector<std::wstring>& remainingDrivers,
                                       std::set<std::wstring>* published) {
    std::vector<PackageMatch> matches;
    std::wstring infFolder;
    if (driverName.empty() || !OemInfFolder(infFolder))
        return matches;
    const InfNames names(driverName, remainingDrivers);
    ScannedFiles files(names);
    for (const std::wstring& candidate : OemFiles(infFolder, published))
        AddOemMatch(matches, candidate, files, driverName, remainingDrivers);
    return matches;
}

// The upper-cased name of the INF that a store folder (with its trailing
// backslash) is named after: Windows names each package folder
// "<INF name>_<architecture>_<hash>". Empty for a folder named otherwise.
std::wstring InfNamedByFolder(const std::wstring& folder) {
    const std::wstring name = UpperInvariant(FileNameOf(folder.substr(0, folder.size() - 1)));
    const size_t suffix = name.find(L".INF_");
    return suffix == std::wstring::npos ? std::wstring() : name.substr(0, suffix + 4);
}

void AddPackageFolder(StoreInfs& store,
                      const std::wstring& folder,
                      const std::set<std::wstring>& published) {
    if (published.count(InfNamedByFolder(folder))) {
        store.windowsFolders.insert(folder);
        return;
    }
    FileList infs;
    WalkFolder(infs, folder, WALK_COLLECT, L".inf", TRUE);
    for (std::wstring& inf : infs) {
        if (published.count(UpperInvariant(FileNameOf(inf)))) {
            store.windowsFolders.insert(FolderOf(inf));
        } else {
            store.candidates.push_back(std::move(inf));
        }
    }
}

// The store packages whose INF names the driver, one per folder, each with
// its verdict. Windows' own packages are counted in `windowsPackages` and
// neither read nor entered.
std::vector<PackageMatch> MatchStorePackages(const std::wstring& driverName,
                                             const std::vector<std::wstring>& remainingDrivers,
                                             const std::set<std::wstring>* published,
                                             size_t* windowsPackages) {
    std::vector<PackageMatch> matches;
    std::wstring repository;
    if (driverName.empty() || !DriverStoreRepository(repository))
        return matches;
    const StoreInfs store = FindStoreInfs(repository, published);
    const InfNames names(driverName, remainingDrivers);
    for (const std::wstring& candidate : store.candidates)
        AddStoreMatch(matches, candidate, ScanInfFile(candidate, names), driverName,
                      remainingDrivers);
    if (windowsPackages != nullptr)
        *windowsPackages = store.windowsFolders.size();
    return matches;
}

}  // namespace

StoreInfs FindStoreInfs(const std::wstring& repository, const std::set<std::wstring>* published) {
    StoreInfs store;
    // An INF lying directly in the repository would make the repository
    // itself the folder to delete, with every other driver's package in it.
    FileList folders = ListFolder(repository, L".inf");
    folders.erase(std::remove_if(folders.begin(), folders.end(),
                                 [](const std::wstring& entry) { return !IsFolderEntry(entry); }),
                  folders.end());
    std::set<std::wstring> lookedUp;
    if (published == nullptr && !folders.empty()) {
        lookedUp = PublishedInfNames();
        published = &lookedUp;
    }
    for (const std::wstring& folder : folders)
        AddPackageFolder(store, folder, *published);
    return store;
}

BOOL MentionsDriver(const std::wstring& path, const std::wstring& driverName) {
    if (driverName.empty())
        return FALSE;
    return InfFileContains(path, NameSearch(UpperAsciiOf(driverName))) ? TRUE : FALSE;
}

bool OemInfFolder(std::wstring& folder) {
    return WindowsFolder(folder, L"\\inf\\");
}

bool DriverStoreRepository(std::wstring& folder) {
    return NativeSystemFolder(folder, L"\\DriverStore\\FileRepository\\");
}

std::wstring LineMentioningDriver(const std::wstring& text, const std::wstring& driverName) {
    if (driverName.empty())
        return {};
    const std::wstring name = UpperAsciiOf(driverName);
    for (size_t begin = 0; begin < text.size();) {
        const size_t end = std::min(text.find(L'\n', begin), text.size());
        std::wstring line = text.substr(begin, end - begin);
        if (UpperAsciiOf(line).find(name) != std::wstring::npos)
            return Trimmed(line);
        begin = end + 1;
    }
    return {};
}

std::wstring ReasonToKeepPackage(const std::wstring& infText,
                                 const std::vector<std::wstring>& remainingDrivers) {
    return KeepReason(ScanInfText(infText, InfNames(L"", remainingDrivers)), remainingDrivers);
}

std::wstring OtherModelsPackage(const std::wstring& infText, const std::wstring& driverName) {
    const std::vector<std::wstring> models = ModelNames(infText);
    const std::wstring driver = UpperAsciiOf(driverName);
    if (models.empty() || driver.empty() ||
        std::any_of(models.begin(), models.end(),
                    [&](const std::wstring& model) { return UpperAsciiOf(model) == driver; })) {
        return {};
    }
    // The model whose name holds the driver's tells a person which it is.
    const auto holder = std::find_if(models.begin(), models.end(), [&](const std::wstring& model) {
        return UpperAsciiOf(model).find(driver) != std::wstring::npos;
    });
    return L"another model's package (" + (holder != models.end() ? *holder : models.front()) +
           L")";
}

PackageScan ScanDriverPackages(const std::wstring& driverName,
                               const std::vector<std::wstring>& remainingDrivers) {
    PackageScan scan;
    std::set<std::wstring> published;
    scan.oemInfs = MatchOemInfs(driverName, remainingDrivers, &published);
    scan.packages =
        MatchStorePackages(driverName, remainingDrivers, &published, &scan.windowsPackages);
    return scan;
}

BOOL UninstallOemInfs(const std::vector<PackageMatch>& matches, ScheduledPaths& scheduled) {
    BOOL result = TRUE;
    for (const PackageMatch& match : matches) {
        const std::wstring fileName = FileNameOf(match.inf);
        if (!match.keptBecause.empty() || fileName.empty())
            continue;
        // The setup API removes the INF copy, its PNF and its package by
        // itself; a refusal changes nothing for the steps that follow, but a
        // copy it could not delete because it is in use goes at the restart.
        if (!win32.SetupUninstallOEMInfW(fileName.c_str(), SUOI_FORCEDELETE, nullptr) &&
            IsInUseError(::GetLastError()) && !DeleteOrSchedule(match.inf, scheduled)) {
            result = FALSE;
        }
    }
    return result;
}

BOOL UninstallOemInfs(const std::wstring& driverName) {
    ScheduledPaths scheduled;
    return UninstallOemInfs(MatchOemInfs(driverName, {}, nullptr), scheduled);
}

BOOL PurgeDriverStore(const std::vector<PackageMatch>& packages, ScheduledPaths& scheduled) {
    BOOL result = TRUE;
    for (const PackageMatch& package : packages) {
        if (!package.keptBecause.empty() || package.folder.empty())
            continue;
        TakeOwnership(package.folder);
        if (!DeleteTreeOrSchedule(package.folder, scheduled))
            result = FALSE;
    }
    return result;
}

BOOL PurgeDriverStore(const std::wstring& driverName) {
    ScheduledPaths scheduled;
    return PurgeDriverStore(MatchStorePackages(driverName, {}, nullptr, nullptr), scheduled);
}
