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
// ReasonToKeepPackage): the first installed driver it names as a whole
// value that is not among `leaving` counts.
std::wstring KeepReason(const InfFindings& findings,
                        const std::vector<std::wstring>& installedDrivers,
                        const std::set<std::wstring>& leaving) {
    if (findings.microsoftProvider)
        return WINDOWS_OWN_PACKAGE;
    if (!findings.otherDeviceClass.empty())
        return L"another device class (" + findings.otherDeviceClass + L")";
    for (const size_t named : findings.namedDrivers) {
        if (named < installedDrivers.size() && !leaving.count(installedDrivers[named]))
            return L"used by driver " + installedDrivers[named];
    }
    return {};
}

const ScannedCandidate* Candidate(const PackageCandidates& candidates, const std::wstring& path) {
    const auto found = candidates.files.find(UpperInvariant(path));
    return found == candidates.files.end() ? nullptr : &found->second;
}

// Why the package of the INF at `path` stays for the removed name at
// `index`, or empty: KeepReason, else, for an INF that names the driver, the
// models it declares (OtherModelsPackage).
std::wstring Verdict(const PackageCandidates& candidates,
                     const std::wstring& path,
                     size_t index,
                     const std::set<std::wstring>& leaving) {
    const ScannedCandidate* scanned = Candidate(candidates, path);
    if (scanned == nullptr)
        return {};
    std::wstring reason = KeepReason(scanned->findings, candidates.installedNames, leaving);
    if (reason.empty() && scanned->findings.mentions[index].found)
        reason = OtherModelsPackage(scanned->text, candidates.removedNames[index]);
    return reason;
}

// The INF whose verdict an oem candidate takes: itself, or for a precompiled
// oemN.PNF, which is no INF text, the INF beside it.
std::wstring DecidingInf(const std::wstring& candidate) {
    const size_t dot = candidate.rfind(L'.');
    return IsInfName(candidate) || dot == std::wstring::npos ? candidate
                                                             : candidate.substr(0, dot) + L".inf";
}

PackageMatch MatchOf(const ScannedCandidate& scanned, size_t index) {
    PackageMatch match;
    match.inf = scanned.path;
    match.matchedLine = scanned.findings.mentions[index].line;
    return match;
}

void AddStoreMatch(std::vector<PackageMatch>& matches, PackageMatch match) {
    match.folder = FolderOf(match.inf);
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

// Whether the whole text of an INF that gave `findings` is needed: its
// [Version] has not decided it already (another class, Windows' own), and,
// for the verdicts alone, no installed driver outside the removed ones keeps
// it (the models that decide otherwise are read from the text).
bool NeedsText(const PackageCandidates& candidates,
               const std::wstring& path,
               const InfFindings& findings,
               CandidateTexts texts) {
    if (!findings.NamesAny() || !IsInfName(path) || findings.microsoftProvider ||
        !findings.otherDeviceClass.empty()) {
        return false;
    }
    if (texts == CandidateTexts::Registrations)
        return true;
    return std::none_of(
        findings.namedDrivers.begin(), findings.namedDrivers.end(), [&](size_t named) {
            const auto& removed = candidates.removedNames;
            return std::find(removed.begin(), removed.end(), candidates.installedNames[named]) ==
                   removed.end();
        });
}

// Scans the file at `path` once and keeps what it found, with its text where
// NeedsText; true when it names a removed driver.
bool ScanCandidate(PackageCandidates& candidates,
                   const std::wstring& path,
                   const InfNames& names,
                   CandidateTexts texts) {
    const std::wstring key = UpperInvariant(path);
    auto known = candidates.files.find(key);
    if (known == candidates.files.end()) {
        ScannedCandidate scanned{path, ScanInfFile(path, names), {}};
        if (NeedsText(candidates, path, scanned.findings, texts))
            scanned.text = ReadInfText(path);
        known = candidates.files.emplace(key, std::move(scanned)).first;
    }
    return known->second.findings.NamesAny();
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

// Scans the oem files of the inf folder, and with `published` gives the
// names published in the inf folder. The INF beside a PNF that names a
// driver is scanned too: it decides for the PNF.
void ScanOemFiles(PackageCandidates& candidates,
                  const InfNames& names,
                  CandidateTexts texts,
                  std::set<std::wstring>* published) {
    std::wstring infFolder;
    if (!OemInfFolder(infFolder))
        return;
    for (const std::wstring& candidate : OemFiles(infFolder, published)) {
        candidates.oemFiles.push_back(candidate);
        if (ScanCandidate(candidates, candidate, names, texts) &&
            DecidingInf(candidate) != candidate)
            ScanCandidate(candidates, DecidingInf(candidate), names, texts);
    }
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

// Scans the INFs of the store's package folders but Windows' own, which are
// counted in `windowsPackages` and neither read nor entered.
void ScanStoreInfs(PackageCandidates& candidates,
                   const InfNames& names,
                   CandidateTexts texts,
                   const std::set<std::wstring>* published) {
    std::wstring repository;
    if (!DriverStoreRepository(repository))
        return;
    const StoreInfs store = FindStoreInfs(repository, published);
    for (const std::wstring& candidate : store.candidates) {
        candidates.storeInfs.push_back(candidate);
        ScanCandidate(candidates, candidate, names, texts);
    }
    candidates.windowsPackages = store.windowsFolders.size();
}

bool AnyName(const std::vector<std::wstring>& names) {
    return std::any_of(names.begin(), names.end(),
                       [](const std::wstring& name) { return !name.empty(); });
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
    return KeepReason(ScanInfText(infText, InfNames(L"", remainingDrivers)), remainingDrivers, {});
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

namespace {

enum class Places { OemInfs, Store, Both };

PackageCandidates ScanPlaces(const std::vector<std::wstring>& removedDrivers,
                             const std::vector<std::wstring>& installedDrivers,
                             Places places,
                             CandidateTexts texts = CandidateTexts::Verdicts) {
    PackageCandidates candidates;
    candidates.removedNames = removedDrivers;
    candidates.installedNames = installedDrivers;
    if (!AnyName(removedDrivers))
        return candidates;
    const InfNames names(removedDrivers, installedDrivers);
    std::set<std::wstring> published;
    if (places != Places::Store)
        ScanOemFiles(candidates, names, texts, &published);
    // Without the inf folder's listing, the store looks the published names up.
    if (places != Places::OemInfs)
        ScanStoreInfs(candidates, names, texts, places == Places::Both ? &published : nullptr);
    return candidates;
}

}  // namespace

PackageCandidates ScanPackageCandidates(const std::vector<std::wstring>& removedDrivers,
                                        const std::vector<std::wstring>& installedDrivers,
                                        CandidateTexts texts) {
    return ScanPlaces(removedDrivers, installedDrivers, Places::Both, texts);
}

PackageScan DecidePackages(const PackageCandidates& candidates,
                           size_t index,
                           const std::set<std::wstring>& leaving) {
    PackageScan scan;
    if (index >= candidates.removedNames.size() || candidates.removedNames[index].empty())
        return scan;
    for (const std::wstring& path : candidates.oemFiles) {
        const ScannedCandidate* scanned = Candidate(candidates, path);
        if (!scanned->findings.mentions[index].found)
            continue;
        PackageMatch match = MatchOf(*scanned, index);
        match.keptBecause = Verdict(candidates, DecidingInf(path), index, leaving);
        scan.oemInfs.push_back(std::move(match));
    }
    for (const std::wstring& path : candidates.storeInfs) {
        const ScannedCandidate* scanned = Candidate(candidates, path);
        if (!scanned->findings.mentions[index].found)
            continue;
        PackageMatch match = MatchOf(*scanned, index);
        match.keptBecause = Verdict(candidates, path, index, leaving);
        AddStoreMatch(scan.packages, std::move(match));
    }
    scan.windowsPackages = candidates.windowsPackages;
    return scan;
}

const std::wstring& CandidateText(const PackageCandidates& candidates, const std::wstring& path) {
    static const std::wstring none;
    const ScannedCandidate* scanned = Candidate(candidates, path);
    return scanned != nullptr ? scanned->text : none;
}

PackageScan ScanDriverPackages(const std::wstring& driverName,
                               const std::vector<std::wstring>& remainingDrivers) {
    return DecidePackages(ScanPackageCandidates({driverName}, remainingDrivers), 0, {});
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
    return UninstallOemInfs(
        DecidePackages(ScanPlaces({driverName}, {}, Places::OemInfs), 0, {}).oemInfs, scheduled);
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
    return PurgeDriverStore(
        DecidePackages(ScanPlaces({driverName}, {}, Places::Store), 0, {}).packages, scheduled);
}
