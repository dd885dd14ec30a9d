// The spooler's registry as Wine's real spooler leaves it in the private
// prefix, seeded as a 64-bit PC (pc_seed.h): read without the spooler, it
// gives the same rows and the same removal plans as the spooler's calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/removal_plan.h"
#include "engine/spooler_registry.h"
#include "support/test_support.h"

namespace {

std::string Upper(const wchar_t* text) {
    std::wstring upper = text != nullptr ? text : L"";
    for (wchar_t& c : upper)
        c = static_cast<wchar_t>(::towupper(c));
    return Utf8(upper);
}

// Everything a plan decides, paths without case (the spooler and the registry
// spell System32 differently).
std::vector<std::string> Described(const RemovalPlan& plan) {
    std::vector<std::string> lines = {"driver " + Utf8(plan.driver)};
    for (const std::wstring& printer : plan.printers)
        lines.push_back("printer " + Utf8(printer));
    for (const std::wstring& printer : plan.printersUsingDriver)
        lines.push_back("refused for " + Utf8(printer));
    for (const auto& record : plan.driverRecords) {
        std::string files;
        for (const wchar_t* entry = record->pDependentFiles; entry != nullptr && *entry != 0;
             entry += wcslen(entry) + 1) {
            files += " " + Upper(entry);
        }
        lines.push_back("record " + Utf8(record->pEnvironment) + " " +
                        std::to_string(record->cVersion) + " " + Upper(record->pDriverPath) + " " +
                        Upper(record->pConfigFile) + " " + Upper(record->pDataFile) + " " +
                        Upper(record->pHelpFile) + files);
    }
    for (const auto* files : {&plan.driverFiles, &plan.spoolerFiles}) {
        for (const DriverFileMatch& file : *files)
            lines.push_back("file " + Upper(file.path.c_str()) + " " + Utf8(file.keptBecause));
    }
    for (const auto* matches : {&plan.packages.oemInfs, &plan.packages.packages}) {
        for (const PackageMatch& match : *matches)
            lines.push_back("package " + Utf8(match.folder + match.inf) + " " +
                            Utf8(match.keptBecause));
    }
    return lines;
}

class SpoolerRegistryOnAPc : public ::testing::Test {
  protected:
    void SetUp() override {
        seeded_ = RunProgram(Native64Program(L"demo_machine.exe"), L"seed-pc") == 0;
    }
    void TearDown() override { RunProgram(Native64Program(L"demo_machine.exe"), L"remove-pc"); }
    bool seeded_ = false;
};

TEST_F(SpoolerRegistryOnAPc, RowsAndPlansFromTheRegistryAreThoseFromTheSpooler) {
    ASSERT_TRUE(seeded_);
    const DriverInventory spooler = TakeDriverInventory(nullptr);
    const DriverInventory registry = TakeRegistryInventory(nullptr);
    EXPECT_FALSE(spooler.fromRegistry);
    EXPECT_EQ(registry.useCounts, spooler.useCounts);
    ASSERT_EQ(registry.rows.size(), spooler.rows.size());
    ASSERT_GE(spooler.rows.size(), 5u) << "the PC's drivers";
    EXPECT_EQ(registry.everyDriver.size(), spooler.everyDriver.size());
    size_t spoolerFiles = 0;
    for (size_t i = 0; i < spooler.rows.size(); ++i) {
        const DriverListEntry& expected = spooler.rows[i];
        const DriverListEntry& row = registry.rows[i];
        EXPECT_EQ(Utf8(row.printerName + L"/" + row.driverName),
                  Utf8(expected.printerName + L"/" + expected.driverName));
        if (row.isPrinter != expected.isPrinter || row.driverName != expected.driverName)
            continue;
        const RemovalPlan plan = PlanRemoval(row, registry, true);
        spoolerFiles += plan.spoolerFiles.size();
        EXPECT_EQ(Described(plan), Described(PlanRemoval(expected, spooler, true)))
            << Utf8(expected.driverName);
    }
    EXPECT_GE(spoolerFiles, 4u) << "the drivers' own modules, found through the registry's paths";
}

}  // namespace
