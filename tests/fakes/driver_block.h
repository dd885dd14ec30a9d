// A DRIVER_INFO_6W over texts of its own, for tests of the driver steps.
#pragma once

#include <string>
#include <vector>

#include "platform/win32_api.h"

// Dependent files are given as separate entries and joined into the block's
// multi-string; the monitor name and the data file are kept as given.
struct DriverBlock {
    DriverBlock(const std::vector<std::wstring>& dependents,
                const std::wstring& monitor,
                const std::wstring& data)
        : monitorText(monitor), dataText(data) {
        for (const std::wstring& entry : dependents)
            dependentText += entry + L'\0';
        dependentText += L'\0';
        info.pDependentFiles = dependentText.data();
        info.pMonitorName = monitorText.data();
        info.pDataFile = dataText.data();
    }
    DriverBlock(const DriverBlock&) = delete;
    DriverBlock& operator=(const DriverBlock&) = delete;

    std::wstring dependentText, monitorText, dataText;
    DRIVER_INFO_6W info{};
};

#include <memory>

// A whole level-6 record of one environment whose files lie in `folder` (a
// full path with a trailing backslash), naming `monitor` when one is given;
// file names are bare and may be empty. The record owns its texts; copies share them.
inline std::shared_ptr<const DRIVER_INFO_6W> MakeDriverRecord(
    const std::wstring& name,
    const std::wstring& environment,
    const std::wstring& folder,
    const std::vector<std::wstring>& mainFiles,  // driver, config, data, help
    const std::vector<std::wstring>& dependents,
    const std::wstring& monitor = {}) {
    struct Owned {
        std::wstring name, environment, files[4], dependentText, monitor;
        DRIVER_INFO_6W info{};
    };
    auto owned = std::make_shared<Owned>();
    owned->name = name;
    owned->environment = environment;
    LPWSTR* fields[4] = {&owned->info.pDriverPath, &owned->info.pConfigFile, &owned->info.pDataFile,
                         &owned->info.pHelpFile};
    for (size_t i = 0; i < 4 && i < mainFiles.size(); ++i) {
        if (mainFiles[i].empty())
            continue;
        owned->files[i] = folder + mainFiles[i];
        *fields[i] = owned->files[i].data();
    }
    for (const std::wstring& dependent : dependents)
        owned->dependentText +=
            (dependent.find(L'|') == std::wstring::npos ? folder : L"") + dependent + L'\0';
    owned->dependentText += L'\0';
    owned->info.pName = owned->name.data();
    owned->info.pEnvironment = owned->environment.data();
    owned->info.cVersion = 3;
    owned->info.pDependentFiles = owned->dependentText.data();
    owned->monitor = monitor;
    if (!monitor.empty())
        owned->info.pMonitorName = owned->monitor.data();
    return std::shared_ptr<const DRIVER_INFO_6W>(owned, &owned->info);
}
