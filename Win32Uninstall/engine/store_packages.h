// The third-party printer packages of Windows' driver store, for telling an
// administrator which packages no installed driver uses: a driver deleted
// without its package leaves one, and Windows installs the old driver from
// it again the next time the device is plugged in.
#pragma once

#include <set>
#include <string>
#include <vector>

// The names of the files directly in the inf folder, upper-cased: the names
// under which Windows publishes its own packages (third-party ones are
// published as oemN.inf). Empty when the folder cannot be told or read.
std::set<std::wstring> PublishedInfNames();

// A package of the driver store that no installed driver uses.
struct UnusedPackage {
    std::wstring folder;               // with a trailing backslash
    std::wstring inf;                  // its INF
    std::vector<std::wstring> models;  // the model names the INF declares
};

// The store packages whose INF is not one of Windows' own (not read), whose
// [Version] declares printers or no class, and that name none of
// `installedDrivers` as a whole value (ReasonToKeepPackage). One per package
// folder, in walk order.
std::vector<UnusedPackage> FindUnusedPrinterPackages(
    const std::vector<std::wstring>& installedDrivers);
