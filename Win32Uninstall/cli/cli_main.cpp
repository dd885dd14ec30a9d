#include "cli/cli_main.h"

#include <algorithm>

#include "cli/cli_options.h"
#include "cli/cli_report.h"
#include "engine/driver_inventory.h"
#include "engine/removal_plan.h"
#include "engine/store_packages.h"
#include "engine/system_restart.h"
#include "engine/uninstall_sequence.h"
#include "engine/what_remains.h"
#include "platform/unique_handles.h"
#include "platform/win32_api.h"
#include "project_version.h"

using nlohmann::json;

namespace {

// The answer and the exit code of one command.
struct Answer {
    int exitCode = EXIT_OK;
    json object;
    std::string text;
};

Answer Refusal(int exitCode, const std::string& message) {
    return {exitCode, {{"error", message}, {"exitCode", exitCode}}, message + "\n"};
}

Answer List() {
    const DriverInventory inventory = TakeDriverInventory(nullptr);
    std::vector<std::wstring> installed;
    for (const auto& record : inventory.everyDriver)
        installed.push_back(record->pName ? record->pName : L"");
    const std::vector<UnusedPackage> unused = FindUnusedPrinterPackages(installed);
    json object = InventoryJson(inventory);
    object["spoolerRegistry"] = inventory.fromRegistry;
    object["unusedPackages"] = UnusedPackagesJson(unused);
    object["exitCode"] = EXIT_OK;
    return {EXIT_OK, object, InventoryText(inventory) + UnusedPackagesText(unused)};
}

json TargetJson(const DriverListEntry& row) {
    return {{"kind", row.isPrinter ? "printer" : "driver"},
            {"name", Utf8Of(row.isPrinter ? row.printerName : row.driverName)}};
}

int ExitCodeOfRemoval(bool succeeded, bool needsRestart, bool reboot) {
    if (!succeeded)
        return EXIT_STEP_FAILED;
    if (reboot && RestartForMaintenance())
        return EXIT_OK;
    return needsRestart ? EXIT_RESTART_RECOMMENDED : EXIT_OK;
}

// The row the removal starts from. A driver named by its own printer's row
// is removed as a driver when other printers use it too, so that they are
// refused, or removed with --with-printers, and never silently kept.
DriverListEntry RowToPlan(const DriverInventory& inventory,
                          const DriverListEntry& listed,
                          const CliOptions& options) {
    const auto count = inventory.useCounts.find(listed.driverName);
    const bool shared = count != inventory.useCounts.end() && count->second > 1;
    if (options.byPrinter || !listed.isPrinter || !shared)
        return listed;
    return DriverListEntry{nullptr, listed.driverInfo, {}, false, listed.driverName, {}};
}

std::string Joined(const std::vector<std::wstring>& names) {
    std::string text;
    for (const std::wstring& name : names)
        text += (text.empty() ? "" : ", ") + Utf8Of(name);
    return text;
}

void AnswerRefusedPlan(Answer& answer, const RemovalPlan& plan) {
    answer.exitCode = EXIT_STEP_FAILED;
    const std::string message = "the driver \"" + Utf8Of(plan.driver) +
                                "\" is used by printers: " + Joined(plan.printersUsingDriver) +
                                "; nothing was changed (--with-printers removes them too)";
    answer.object["error"] = message;
    answer.object["printersUsingDriver"] = Strings(plan.printersUsingDriver);
    answer.text = message + "\n";
}

// Says what remains of the target's driver (and of the printers the plan was
// to remove), from a new inventory taken after the removal.
void AnswerWhatRemains(Answer& answer,
                       const DriverListEntry& listed,
                       const RemovalPlan& plan,
                       const ScheduledPaths& scheduled) {
    const std::wstring& driver = plan.driver.empty() ? listed.driverName : plan.driver;
    const std::vector<RemainingItem> remains = FindWhatRemains(driver, plan, scheduled);
    answer.object["remains"] = RemainsJson(remains);
    answer.object["nothingRemains"] = remains.empty();
    answer.text += RemainsText(driver.empty() ? listed.printerName : driver, remains);
}

void RunPlan(Answer& answer,
             const DriverListEntry& listed,
             const RemovalPlan& plan,
             const CliOptions& options) {
    std::vector<StepOutcome> outcomes;
    SpoolerBypass bypass;
    const bool succeeded = plan.leftovers ? RunLeftoverRemoval(plan, &outcomes)
                                          : RunRemovalPlans({plan}, &outcomes, &bypass);
    const ScheduledPaths scheduled = ScheduledAtRestart(outcomes);
    // A driver or a package gone: Windows should restart before it is
    // installed again; a file in use goes only at the restart, and a device
    // whose removal Windows finishes at the restart needs one too.
    const bool restartNeeded = !scheduled.empty() || std::any_of(outcomes.begin(), outcomes.end(),
                                                                 [](const StepOutcome& outcome) {
                                                                     return outcome.restartNeeded;
                                                                 });
    const bool tookDriver = plan.leftovers ? RemovesAPackage(plan) : !plan.driver.empty();
    answer.exitCode = ExitCodeOfRemoval(succeeded, tookDriver || restartNeeded, options.reboot);
    answer.object["steps"] = OutcomesJson(outcomes);
    answer.object["succeeded"] = succeeded;
    answer.object["spoolerRegistry"] = bypass.registryUsed;
    answer.object["scheduledAtRestart"] = ScheduledJson(scheduled);
    answer.object["monitors"] = ComponentsJson(plan.monitors);
    answer.object["printProcessors"] = ComponentsJson(plan.printProcessors);
    answer.text = OutcomesText(outcomes) + ComponentsText(plan) + ScheduledText(scheduled);
    if (bypass.registryUsed) {
        answer.object["spoolerRunsAgain"] = bypass.spoolerRunsAgain;
        answer.text +=
            std::string("The spooler could not run; its registry was changed instead.\n") +
            (bypass.spoolerRunsAgain ? "The spooler runs again.\n"
                                     : "The spooler still does not run.\n");
    }
    answer.text += succeeded ? "Removed.\n" : "The removal failed.\n";
    AnswerWhatRemains(answer, listed, plan, scheduled);
    if (answer.exitCode == EXIT_RESTART_RECOMMENDED)
        answer.text += "Restart Windows to finish.\n";
}

Answer Remove(const CliOptions& options) {
    if (!options.whatIf && !RunsAsAdministrator())
        return Refusal(EXIT_NOT_ADMINISTRATOR,
                       "remove needs administrator rights; run it elevated");
    // The one inventory that the decision, the preview and the removal use.
    const DriverInventory inventory = TakeDriverInventory(nullptr);
    const int index = FindRowToRemove(inventory.rows, options);
    // A driver that no record has any longer may have left its files and
    // packages behind, from which Windows would install it again.
    const bool leftovers = index < 0 && !options.byPrinter &&
                           RecordsNamed(inventory.everyDriver, options.name).empty();
    RemovalPlan plan;
    if (leftovers)
        plan = PlanLeftoverRemoval(options.name, inventory);
    if (index < 0 && !(leftovers && FoundAnything(plan))) {
        return Refusal(EXIT_NO_SUCH_NAME, std::string("no ") +
                                              (options.byPrinter ? "printer" : "driver") +
                                              " named \"" + Utf8Of(options.name) + "\"");
    }
    const DriverListEntry listed =
        leftovers ? DriverListEntry{nullptr, nullptr, {}, false, options.name, {}}
                  : inventory.rows[static_cast<size_t>(index)];
    if (!leftovers)
        plan = PlanRemoval(RowToPlan(inventory, listed, options), inventory, options.withPrinters);
    Answer answer;
    answer.object = {{"command", "remove"},
                     {"whatIf", options.whatIf},
                     {"target", TargetJson(listed)},
                     {"leftovers", plan.leftovers},
                     {"driverKept", listed.driverInfo != nullptr && plan.driver.empty()}};
    if (!plan.printersUsingDriver.empty()) {
        AnswerRefusedPlan(answer, plan);
    } else if (options.whatIf) {
        const std::vector<std::wstring> spoolFiles = ListSpoolFiles();
        answer.object["preview"] = PreviewJson(plan, spoolFiles);
        answer.text = "What the removal would take and keep (nothing was changed):\n" +
                      PreviewText(plan, spoolFiles);
    } else {
        RunPlan(answer, listed, plan, options);
    }
    answer.object["exitCode"] = answer.exitCode;
    return answer;
}

}  // namespace

int RunCli(const std::vector<std::wstring>& arguments, CliWriter write) {
    const CliOptions options = ParseCliArguments(arguments);
    Answer answer;
    if (!options.error.empty()) {
        answer = Refusal(EXIT_BAD_ARGUMENTS, Utf8Of(options.error));
        answer.text += CLI_USAGE;
    } else if (options.command == CliCommand::Help) {
        answer.text = CLI_USAGE;
        write(answer.text);
        return EXIT_OK;
    } else if (options.command == CliCommand::Version) {
        answer = {
            EXIT_OK, {{"command", "version"}, {"exitCode", EXIT_OK}}, PROJECT_VERSION_TEXT "\n"};
    } else if (options.command == CliCommand::List) {
        answer = List();
    } else {
        answer = Remove(options);
    }
    // Every answer says which program gave it.
    answer.object["version"] = PROJECT_VERSION_TEXT;
    write(options.json ? answer.object.dump(2) + "\n" : answer.text);
    return answer.exitCode;
}

bool RunsAsAdministrator() {
    unique_handle token;
    if (!win32.OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (win32.GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size))
        return elevation.TokenIsElevated != 0;
    // Windows without elevation: a member of the administrators group is one.
    BYTE sid[SECURITY_MAX_SID_SIZE] = {};
    DWORD sidSize = sizeof sid;
    BOOL member = FALSE;
    return win32.CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidSize) &&
           win32.CheckTokenMembership(nullptr, sid, &member) && member;
}

bool RestartForMaintenance() {
    return RestartWindows(SHTDN_REASON_MAJOR_OTHER | SHTDN_REASON_MINOR_MAINTENANCE |
                          SHTDN_REASON_FLAG_PLANNED) != FALSE;
}
