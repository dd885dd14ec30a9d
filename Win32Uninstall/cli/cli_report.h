// What UninstallCli.exe prints: one JSON object (UTF-8) with --json, plain
// text for people otherwise. The JSON layout is the README's.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/driver_inventory.h"
#include "engine/removal_plan.h"
#include "engine/store_packages.h"
#include "engine/uninstall_sequence.h"
#include "engine/what_remains.h"

// UTF-8 of a UTF-16 text.
std::string Utf8Of(const std::wstring& text);

// Every row, with its driver's environment, version, files and the printers
// that use it.
nlohmann::json InventoryJson(const DriverInventory& inventory);
std::string InventoryText(const DriverInventory& inventory);

// UTF-8 texts as a JSON array.
nlohmann::json Strings(const std::vector<std::wstring>& texts);

// The driver-store packages that no installed driver uses, with their models.
nlohmann::json UnusedPackagesJson(const std::vector<UnusedPackage>& packages);
std::string UnusedPackagesText(const std::vector<UnusedPackage>& packages);

// What the plan takes and what it keeps, with the reason for each kept item,
// and the spool files the purge would delete.
nlohmann::json PreviewJson(const RemovalPlan& plan, const std::vector<std::wstring>& spoolFiles);
std::string PreviewText(const RemovalPlan& plan, const std::vector<std::wstring>& spoolFiles);

// The plan's language monitors or print processors, those that go and those
// that stay: each with its name, environment (null for a monitor), DLL (null
// for none), whether it goes, and the reasons why it or its DLL stays.
nlohmann::json ComponentsJson(const std::vector<RegisteredComponent>& components);
// One line per language monitor and print processor of the plan: what goes,
// and what stays with its reason; empty when there is none.
std::string ComponentsText(const RemovalPlan& plan);

// Each step run, with the failed call, its error code and the system's text
// for it where the step failed.
nlohmann::json OutcomesJson(const std::vector<StepOutcome>& outcomes);
std::string OutcomesText(const std::vector<StepOutcome>& outcomes);

// What remains of the driver after a removal (FindWhatRemains): each item
// with its kind ("driver", "printer", "file", "oemInf", "package"), its
// "name" (driver, printer) or "path", its "state" ("kept", "atRestart",
// "failed") and, for a kept one, its "reason". The text says "Nothing of
// <name> remains." for an empty list.
nlohmann::json RemainsJson(const std::vector<RemainingItem>& items);
std::string RemainsText(const std::wstring& name, const std::vector<RemainingItem>& items);

// The paths scheduled for deletion at the restart, as people find them.
nlohmann::json ScheduledJson(const ScheduledPaths& scheduled);
std::string ScheduledText(const ScheduledPaths& scheduled);

// The system's text for an error code, without the closing line break; empty
// when it has none.
std::wstring ErrorText(DWORD error);
