#include "cli/cli_main.h"

#include "cli/cli_options.h"
#include "cli/cli_report.h"
#include "engine/driver_inventory.h"
#include "engine/removal_preview.h"
#include "engine/system_restart.h"
#include "engine/uninstall_sequence.h"
#include "platform/unique_handles.h"
#include "platform/win32_api.h"

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
    json object = InventoryJson(inventory);
    object["exitCode"] = EXIT_OK;
    return {EXIT_OK, object, InventoryText(inventory)};
}

json TargetJson(const DriverListEntry& row) {
    return {{"kind", row.isPrinter ? "printer" : "driver"},
            {"name", Utf8Of(row.isPrinter ? row.printerName : row.driverName)}};
}

int ExitCodeOfRemoval(bool succeeded, bool tookDriver, bool reboot) {
    if (!succeeded)
        return EXIT_STEP_FAILED;
    if (reboot && RestartForMaintenance())
        return EXIT_OK;
    return tookDriver ? EXIT_RESTART_RECOMMENDED : EXIT_OK;
}

Answer Remove(const CliOptions& options) {
    if (!options.whatIf && !RunsAsAdministrator())
        return Refusal(EXIT_NOT_ADMINISTRATOR,
                       "remove needs administrator rights; run it elevated");
    const DriverInventory inventory = TakeDriverInventory(nullptr);
    const int index = FindRowToRemove(inventory.rows, options);
    if (index < 0) {
        return Refusal(EXIT_NO_SUCH_NAME, std::string("no ") +
                                              (options.byPrinter ? "printer" : "driver") +
                                              " named \"" + Utf8Of(options.name) + "\"");
    }
    const DriverListEntry& listed = inventory.rows[static_cast<size_t>(index)];
    const DriverListEntry row = RowForRemoval(listed, inventory.useCounts);
    Answer answer;
    answer.object = {{"command", "remove"},
                     {"whatIf", options.whatIf},
                     {"target", TargetJson(listed)},
                     {"driverKept", listed.driverInfo != nullptr && row.driverInfo == nullptr}};
    if (options.whatIf) {
        const RemovalPreview preview = PreviewRemoval(row);
        answer.object["preview"] = PreviewJson(preview);
        answer.text =
            "What the removal would touch (nothing was changed):\n" + PreviewText(preview);
    } else {
        std::vector<StepOutcome> outcomes;
        const bool succeeded = RunUninstallSequence({row}, &outcomes);
        answer.exitCode = ExitCodeOfRemoval(succeeded, row.driverInfo != nullptr, options.reboot);
        answer.object["steps"] = OutcomesJson(outcomes);
        answer.object["succeeded"] = succeeded;
        answer.text = OutcomesText(outcomes) + (succeeded ? "Removed.\n" : "The removal failed.\n");
        if (answer.exitCode == EXIT_RESTART_RECOMMENDED)
            answer.text += "Restart Windows to finish.\n";
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
    } else if (options.command == CliCommand::List) {
        answer = List();
    } else {
        answer = Remove(options);
    }
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
