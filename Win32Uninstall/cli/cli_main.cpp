#include "cli/cli_main.h"

#include <algorithm>

#include "cli/cli_options.h"
#include "cli/cli_report.h"
#include "engine/driver_inventory.h"
#include "engine/removal_1_detect.h"
#include "engine/removal_2_plan.h"
#include "engine/removal_3_apply.h"
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

// The row the removal starts from. A driver named by its own printer's row
// is removed as a driver when other printers use it too, so that they are
// refused, or removed with --with-printers, and never silently kept.
DriverListEntry RowToPlan(const DriverInventory& inventory,
                          const DriverListEntry& listed,
                          const CliTarget& target) {
    const auto count = inventory.useCounts.find(listed.driverName);
    const bool shared = count != inventory.useCounts.end() && count->second > 1;
    if (target.byPrinter || !listed.isPrinter || !shared)
        return listed;
    return DriverListEntry{nullptr, listed.driverInfo, {}, false, listed.driverName, {}};
}

std::string Joined(const std::vector<std::wstring>& names) {
    std::string text;
    for (const std::wstring& name : names)
        text += (text.empty() ? "" : ", ") + Utf8Of(name);
    return text;
}

// One name of the set: what it names, how the set takes it, and its part of
// the answer.
struct NamedTarget {
    CliTarget target;
    DriverListEntry listed;  // the row found, or the driver of leftovers
    bool absent = false;     // nothing of the name exists
    size_t member = 0;       // its plan's index among the set's plans
    const RemovalPlan* plan = nullptr;
    json object;
    std::string text;
};

std::string AbsentText(const CliTarget& target) {
    return std::string("no ") + (target.byPrinter ? "printer" : "driver") + " named \"" +
           Utf8Of(target.name) + "\"";
}

// Finds each name's row, or the leftovers of a driver that no record has
// any longer, and adds the members to plan to `members`.
std::vector<NamedTarget> FindTargets(const DriverInventory& inventory,
                                     const CliOptions& options,
                                     std::vector<SetMember>& members) {
    std::vector<NamedTarget> named;
    for (const CliTarget& target : options.targets) {
        NamedTarget found;
        found.target = target;
        found.member = members.size();
        const int index = FindRowToRemove(inventory.rows, target);
        if (index >= 0) {
            found.listed = inventory.rows[static_cast<size_t>(index)];
            members.push_back({RowToPlan(inventory, found.listed, target), false});
        } else if (!target.byPrinter && RecordsNamed(inventory.everyDriver, target.name).empty()) {
            // A driver that no record has any longer may have left its files
            // and packages behind, from which Windows would install it again.
            members.push_back(LeftoversOf(target.name));
            found.listed = members.back().row;
        } else {
            found.absent = true;
        }
        named.push_back(std::move(found));
    }
    return named;
}

bool IsRefusedPlan(const RemovalPlan& plan) {
    return !plan.printersUsingDriver.empty();
}

// `alone`: the run's only name, so that nothing at all was changed.
void AnswerRefusedPlan(NamedTarget& name, const RemovalPlan& plan, bool alone) {
    const std::string message = "the driver \"" + Utf8Of(plan.driver) +
                                "\" is used by printers: " + Joined(plan.printersUsingDriver) +
                                (alone ? "; nothing was changed" : "; it was not changed") +
                                " (--with-printers removes them too)";
    name.object["error"] = message;
    name.object["printersUsingDriver"] = Strings(plan.printersUsingDriver);
    name.text = message + "\n";
}

// The set's one run and its outcome, common to every name.
struct RunOutcome {
    std::vector<StepOutcome> outcomes;
    SpoolerBypass bypass;
    bool succeeded = true;
    ScheduledPaths scheduled;
    bool restartNeeded = false;  // a driver or package went, or a step asked for it
};

RunOutcome RunPlans(const std::vector<RemovalPlan>& plans) {
    RunOutcome run;
    run.succeeded = RunRemovalSet(plans, &run.outcomes, &run.bypass);
    run.scheduled = ScheduledAtRestart(run.outcomes);
    // A driver or a package gone: Windows should restart before it is
    // installed again; a file in use goes only at the restart, and a device
    // whose removal Windows finishes at the restart needs one too.
    run.restartNeeded =
        !run.scheduled.empty() ||
        std::any_of(run.outcomes.begin(), run.outcomes.end(),
                    [](const StepOutcome& outcome) { return outcome.restartNeeded; }) ||
        std::any_of(plans.begin(), plans.end(), [](const RemovalPlan& plan) {
            return !IsRefusedPlan(plan) &&
                   (plan.leftovers ? RemovesAPackage(plan) : !plan.driver.empty());
        });
    return run;
}

std::string BypassText(const SpoolerBypass& bypass) {
    if (!bypass.registryUsed)
        return {};
    return std::string("The spooler could not run; its registry was changed instead.\n") +
           (bypass.spoolerRunsAgain ? "The spooler runs again.\n"
                                    : "The spooler still does not run.\n");
}

json AbsentTargetJson(const CliTarget& target) {
    return {{"kind", target.byPrinter ? "printer" : "driver"}, {"name", Utf8Of(target.name)}};
}

// Each name's part of the answer: its preview, its refusal, or what of it
// went and what remains (one inventory after the run for all names).
void AnswerNames(std::vector<NamedTarget>& names, bool whatIf, const RunOutcome* run) {
    std::vector<RemainsQuery> queries;
    std::vector<NamedTarget*> removed;
    const std::vector<std::wstring> spoolFiles =
        whatIf ? ListSpoolFiles() : std::vector<std::wstring>{};
    for (NamedTarget& name : names) {
        name.object = {
            {"target", name.absent ? AbsentTargetJson(name.target) : TargetJson(name.listed)}};
        if (name.absent) {
            name.object["status"] = "absent";
            name.object["error"] = AbsentText(name.target);
            name.text = AbsentText(name.target) + "\n";
            continue;
        }
        const RemovalPlan& plan = *name.plan;
        name.object["leftovers"] = plan.leftovers;
        name.object["driverKept"] = name.listed.driverInfo != nullptr && plan.driver.empty();
        if (IsRefusedPlan(plan)) {
            name.object["status"] = "refused";
            AnswerRefusedPlan(name, plan, names.size() == 1);
        } else if (whatIf) {
            name.object["status"] = "previewed";
            name.object["preview"] = PreviewJson(plan, spoolFiles);
            name.text = "What the removal would take and keep (nothing was changed):\n" +
                        PreviewText(plan, spoolFiles);
        } else {
            name.object["status"] = run->succeeded ? "removed" : "failed";
            name.object["monitors"] = ComponentsJson(plan.monitors);
            name.object["printProcessors"] = ComponentsJson(plan.printProcessors);
            queries.push_back({plan.driver.empty() ? name.listed.driverName : plan.driver, &plan});
            removed.push_back(&name);
        }
    }
    if (queries.empty())
        return;
    const auto remains = FindWhatRemainsOfSet(queries, run->scheduled);
    for (size_t i = 0; i < removed.size(); ++i) {
        NamedTarget& name = *removed[i];
        name.object["remains"] = RemainsJson(remains[i]);
        name.object["nothingRemains"] = remains[i].empty();
        const std::wstring& driver = queries[i].driverName;
        name.text = RemainsText(driver.empty() ? name.listed.printerName : driver, remains[i]);
    }
}

bool IsRefusedName(const NamedTarget& name) {
    return !name.absent && IsRefusedPlan(*name.plan);
}

int ExitCodeOfSet(const std::vector<NamedTarget>& names, bool reboot, const RunOutcome* run) {
    if (std::all_of(names.begin(), names.end(),
                    [](const NamedTarget& name) { return name.absent; }))
        return EXIT_NO_SUCH_NAME;
    if (std::any_of(names.begin(), names.end(), IsRefusedName) ||
        (run != nullptr && !run->succeeded))
        return EXIT_STEP_FAILED;
    if (run == nullptr)
        return EXIT_OK;
    if (reboot && RestartForMaintenance())
        return EXIT_OK;
    return run->restartNeeded ? EXIT_RESTART_RECOMMENDED : EXIT_OK;
}

const char* ResultOf(int exitCode, bool whatIf) {
    switch (exitCode) {
        case EXIT_NO_SUCH_NAME:
            return "nothingExists";
        case EXIT_STEP_FAILED:
            return "failed";
        case EXIT_RESTART_RECOMMENDED:
            return "restartNeeded";
        default:
            return whatIf ? "previewed" : "succeeded";
    }
}

// What the run adds to the answer: its steps and their outcome.
void AnswerRun(Answer& answer, const RunOutcome& run) {
    answer.object["steps"] = OutcomesJson(run.outcomes);
    answer.object["succeeded"] = run.succeeded;
    answer.object["spoolerRegistry"] = run.bypass.registryUsed;
    answer.object["scheduledAtRestart"] = ScheduledJson(run.scheduled);
    if (run.bypass.registryUsed)
        answer.object["spoolerRunsAgain"] = run.bypass.spoolerRunsAgain;
}

std::string RunText(const RunOutcome& run, const std::string& components) {
    return OutcomesText(run.outcomes) + components + ScheduledText(run.scheduled) +
           BypassText(run.bypass) + (run.succeeded ? "Removed.\n" : "The removal failed.\n");
}

// The answer of a set of one, as one name's answer has always been: its
// fields at the top, and its entry in `names` too.
Answer AnswerOfOne(const NamedTarget& name, const RunOutcome* run, int exitCode) {
    if (name.absent)
        return Refusal(EXIT_NO_SUCH_NAME, AbsentText(name.target));
    Answer answer;
    answer.exitCode = exitCode;
    answer.object = name.object;
    answer.object.erase("status");
    answer.object["names"] = json::array({name.object});
    answer.text = name.text;
    if (run != nullptr && !IsRefusedName(name)) {
        AnswerRun(answer, *run);
        answer.text = RunText(*run, ComponentsText(*name.plan)) + name.text;
    }
    return answer;
}

Answer AnswerOfSet(const std::vector<NamedTarget>& names, const RunOutcome* run, int exitCode) {
    Answer answer;
    answer.exitCode = exitCode;
    answer.object["names"] = json::array();
    if (run != nullptr) {
        AnswerRun(answer, *run);
        answer.text = RunText(*run, "");
    }
    for (const NamedTarget& name : names) {
        answer.object["names"].push_back(name.object);
        const bool ran = run != nullptr && !name.absent && !IsRefusedName(name);
        answer.text += std::string(name.target.byPrinter ? "Printer" : "Driver") + " \"" +
                       Utf8Of(name.target.name) + "\":\n" +
                       (ran ? ComponentsText(*name.plan) : "") + name.text;
    }
    return answer;
}

// The answer of the whole set: each name's part, the run's, one exit code.
Answer Answered(std::vector<NamedTarget>& names, const CliOptions& options, const RunOutcome* run) {
    AnswerNames(names, options.whatIf, run);
    const int exitCode = ExitCodeOfSet(names, options.reboot, run);
    if (names.size() == 1 && names.front().absent)
        return AnswerOfOne(names.front(), nullptr, exitCode);
    Answer answer = names.size() == 1 ? AnswerOfOne(names.front(), run, exitCode)
                                      : AnswerOfSet(names, run, exitCode);
    answer.object["command"] = "remove";
    answer.object["whatIf"] = options.whatIf;
    answer.object["exitCode"] = answer.exitCode;
    answer.object["result"] = ResultOf(answer.exitCode, options.whatIf);
    if (run != nullptr && answer.exitCode == EXIT_RESTART_RECOMMENDED)
        answer.text += "Restart Windows to finish.\n";
    return answer;
}

Answer Remove(const CliOptions& options) {
    if (!options.whatIf && !RunsAsAdministrator())
        return Refusal(EXIT_NOT_ADMINISTRATOR,
                       "remove needs administrator rights; run it elevated");
    // Detect: the one inventory and the one package scan that the decision,
    // the preview and the removal of every name use.
    DriverInventory inventory = TakeDriverInventory(nullptr);
    std::vector<SetMember> members;
    std::vector<NamedTarget> names = FindTargets(inventory, options, members);
    const std::vector<std::wstring> drivers =
        DriverNamesOf(members, inventory, options.withPrinters);
    const RemovalFacts facts = DetectRemoval(std::move(inventory), drivers);
    // Plan: the whole set at once.
    std::vector<RemovalPlan> plans = PlanRemovalSet(members, facts, options.withPrinters);
    for (NamedTarget& name : names) {
        if (name.absent)
            continue;
        const RemovalPlan& plan = plans[name.member];
        name.absent = plan.leftovers && !FoundAnything(plan);
        name.plan = &plan;
    }
    // Apply the plans of the names that go, unless only previewed.
    std::vector<RemovalPlan> going;
    for (const NamedTarget& name : names) {
        if (!name.absent && !IsRefusedName(name))
            going.push_back(*name.plan);
    }
    const bool runs = !options.whatIf && !going.empty();
    RunOutcome run;
    if (runs)
        run = RunPlans(going);
    return Answered(names, options, runs ? &run : nullptr);
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
