// Removal of a driver's installed packages: the numbered oem INF copies in
// the Windows inf folder, through the setup API, and the package folders in
// the driver store repository, from disk. Both find their packages by the
// INF text naming the driver (MentionsDriver), and keep those that something
// else still needs:
//  - a package whose INF names, as a whole value, a driver of another name
//    that stays installed (another model of a package with several);
//  - a package whose INF's [Version] declares a device class other than
//    printers (a multifunction device's scanner package names its printer);
//  - a package whose INF declares models, none of which is the driver: it
//    names the driver only inside another model's name ("KAVRO X 2" for
//    "KAVRO X"), so it is that model's package, installed or not;
//  - one of Windows' own packages, however it was published: in the store, a
//    package folder named after an INF that is published under its own name
//    in the inf folder ("ntprint.inf_amd64_<hash>", also a newer version that
//    Windows Update brought), or an INF so published; these are recognised by
//    name, never read, and such a folder is not even entered. Anywhere else,
//    an INF whose [Version] Provider is Microsoft (an oem copy of a Windows
//    Update version of ntprint.inf), read as every candidate is.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/file_helpers.h"
#include "engine/inf_scan.h"
#include "platform/win32_api.h"

// TRUE when the text of the file at `path` contains `driverName`, ignoring
// the case of the letters a-z only (every other character must be the same).
// The text is read as Windows reads an INF (see InfTextReader): UTF-16 LE
// after its byte-order mark, else ANSI in the system code page, up to the
// first NUL. A file that cannot be read has no text. An empty driver name
// matches nothing: it would otherwise name every file.
BOOL MentionsDriver(const std::wstring& path, const std::wstring& driverName);

// One package file whose text names the driver being removed.
struct PackageMatch {
    std::wstring inf;     // the oem file in the inf folder, or the INF in a store package
    std::wstring folder;  // the store package's folder (trailing backslash); empty for oem INFs
    std::wstring matchedLine;  // the INF's first line that names the driver
    std::wstring keptBecause;  // why it stays; empty when it goes
};

// What the two package steps take and keep for one driver name, found in one
// pass: each candidate is read once.
struct PackageScan {
    std::vector<PackageMatch> oemInfs;   // in walk order
    std::vector<PackageMatch> packages;  // one per package folder, in walk order
    // Windows' own store packages passed over unread, and so kept.
    size_t windowsPackages = 0;
};

// One candidate file of a package scan, and what its one pass found.
struct ScannedCandidate {
    std::wstring path;
    InfFindings findings;
    // Its whole text where the scan kept it (see CandidateTexts); else empty.
    std::wstring text;
};

// Which candidates' whole texts a scan keeps, of the INFs (not PNFs) that
// name a removed driver and whose [Version] does not decide them already
// (another device class, Windows' own: these are read no further):
enum class CandidateTexts {
    // those whose verdict needs the models they declare: those that name no
    // installed driver other than the removed ones;
    Verdicts,
    // all of them, for what they install and register for each model.
    Registrations,
};

// What one pass over every package candidate found for a set of removed
// names: the oem files of the inf folder (sub-folders included, names
// containing "oem") and the INFs of the driver store's package folders
// (names containing ".inf") but Windows' own, which are neither read nor
// entered (see FindStoreInfs).
struct PackageCandidates {
    std::vector<std::wstring> removedNames;    // as findings' mentions number them
    std::vector<std::wstring> installedNames;  // as findings' namedDrivers number them
    std::vector<std::wstring> oemFiles;        // in walk order
    std::vector<std::wstring> storeInfs;       // in walk order
    size_t windowsPackages = 0;
    // Each file scanned, by its upper-cased path: the candidates, and the
    // INF beside an oem PNF that names a removed driver.
    std::map<std::wstring, ScannedCandidate> files;
};

// Reads every candidate once, in one pass that looks for every removed name
// and every installed driver's name at once (see inf_scan.h); an INF whose
// [Version] declares another device class is read no further than that
// declaration. Only the few files whose text `texts` keeps are read a
// second time, whole. Nothing is read when no removed name is given. Logs
// nothing.
PackageCandidates ScanPackageCandidates(const std::vector<std::wstring>& removedDrivers,
                                        const std::vector<std::wstring>& installedDrivers,
                                        CandidateTexts texts = CandidateTexts::Verdicts);

// The packages of the removed name at `index` of `candidates`, each with its
// verdict by the rules above; the installed drivers that stay are those of
// `candidates` not in `leaving` (the drivers a removal takes). A package
// folder stays whole when any of its matching INFs stays; an oem PNF takes
// the verdict of the INF beside it. Reads nothing.
PackageScan DecidePackages(const PackageCandidates& candidates,
                           size_t index,
                           const std::set<std::wstring>& leaving);

// The text ScanPackageCandidates kept of the file at `path`; empty when it
// named no removed driver.
const std::wstring& CandidateText(const PackageCandidates& candidates, const std::wstring& path);

// Matches `driverName` against the oem files of the inf folder (sub-folders
// included, names containing "oem") and the INFs of the driver store's
// package folders (names containing ".inf"), and decides for each match
// whether it stays (see the rules above; `remainingDrivers` are the names of
// the installed drivers that stay). A package folder stays whole when any of
// its matching INFs stays. An INF lying directly in the repository folder is
// passed over. Reads nothing but the candidates, each once, in one pass that
// looks for every name at once (see inf_scan.h); an INF whose [Version]
// declares another device class is read no further than that declaration,
// and is a match (kept for its class) only when it names the driver before
// it. Only an INF that names the driver and is not kept otherwise is read a
// second time, for the models it declares (OtherModelsPackage). Logs nothing.
// ScanPackageCandidates and DecidePackages for one name.
PackageScan ScanDriverPackages(const std::wstring& driverName,
                               const std::vector<std::wstring>& remainingDrivers);

// The reason why one of Windows' own packages stays.
constexpr wchar_t WINDOWS_OWN_PACKAGE[] = L"Windows' own package";

// The reason an INF text that names the removed driver gives for keeping its
// package, or empty: WINDOWS_OWN_PACKAGE when its [Version] Provider is
// Microsoft; "another device class (<class>)" when its [Version]
// declares a Class or ClassGUID other than printers'; "used by driver <name>"
// for the first of `remainingDrivers` that it names as a whole value (quoted,
// or a whole field of a line: bounded by the line's ends, '=', ',', ';' or a
// quote, blanks aside), a-z and A-Z taken alike.
std::wstring ReasonToKeepPackage(const std::wstring& infText,
                                 const std::vector<std::wstring>& remainingDrivers);

// The reason an INF text that names `driverName` gives for keeping its
// package as another model's, or empty: "another model's package (<model>)"
// when the INF declares models (ModelNames, in every language it defines)
// and none of them is the driver, a-z and A-Z taken alike; <model> is the
// first that contains the driver's name, else the first. An INF that declares
// the driver, or no models at all, gives none.
std::wstring OtherModelsPackage(const std::wstring& infText, const std::wstring& driverName);

// Hands every oem INF of `matches` that does not stay to
// SetupUninstallOEMInfW, by its bare file name with SUOI_FORCEDELETE. The
// setup API's refusals are not logged and change nothing for the steps that
// follow, but for one: a file that the setup API could not delete because it
// is in use (IsInUseError) is handed to DeleteOrSchedule, so that it goes at
// the restart (appended to `scheduled`). FALSE only when such a file can be
// neither deleted nor scheduled.
BOOL UninstallOemInfs(const std::vector<PackageMatch>& matches, ScheduledPaths& scheduled);

// UninstallOemInfs for the matches of `driverName` when no other driver is
// installed (what it schedules is not reported).
BOOL UninstallOemInfs(const std::wstring& driverName);

// Windows' inf folder, "<Windows>\inf\", and Windows' own driver-store
// repository, "<System32>\DriverStore\FileRepository\" (through Sysnative
// in a 32-bit process on 64-bit Windows). False when the Windows folder
// cannot be told.
bool OemInfFolder(std::wstring& folder);
bool DriverStoreRepository(std::wstring& folder);

// The INFs of the repository's package folders (names containing ".inf",
// sub-folders included) that are candidates, in walk order, and the folders
// of Windows' own packages, which are passed over: a package folder named
// after an INF that is published under its own name is not entered, and
// within the others an INF so published is not a candidate. An INF lying
// directly in the repository is passed over. `published` as
// PublishedInfNames gives it; null to look it up once the repository has
// package folders.
struct StoreInfs {
    FileList candidates;
    std::set<std::wstring> windowsFolders;
};
StoreInfs FindStoreInfs(const std::wstring& repository, const std::set<std::wstring>* published);

// The first line of `text` that contains the driver's name, a-z and A-Z
// taken alike, without its line break and surrounding blanks; empty when no
// line does.
std::wstring LineMentioningDriver(const std::wstring& text, const std::wstring& driverName);

// Deletes from disk every package folder of `packages` that does not stay:
// the folder is taken over (TakeOwnership, down to its last file), then it
// is deleted with all it contains, itself last (DeleteTreeOrSchedule: what
// is in use goes at the restart and is appended to `scheduled`). TRUE when
// every package went or was scheduled; any item that can be neither deleted
// nor scheduled, in any package, makes it FALSE (each failure is logged).
BOOL PurgeDriverStore(const std::vector<PackageMatch>& packages, ScheduledPaths& scheduled);

// PurgeDriverStore for the package folders whose INF mentions `driverName`
// when no other driver is installed (what it schedules is not reported).
BOOL PurgeDriverStore(const std::wstring& driverName);
