// A DRIVER_INFO_6W over texts of its own, for tests of the driver steps.
#pragma once

#include <string>
#include <vector>

#include "platform/win32_api.h"

// Dependent files are given as separate entries and joined into the block's
// multi-string; the monitor name and the data file are kept as given.
struct DriverBlock {
    DriverBlock(const std::vector<std::wstring>& dependents, const std::wstring& monitor,
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
