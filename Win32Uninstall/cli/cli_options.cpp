#include "cli/cli_options.h"

#include <algorithm>

const char CLI_USAGE[] =
    "Usage:\n"
    "  UninstallCli list [--json]\n"
    "  UninstallCli remove (--printer NAME | --driver NAME)... [--with-printers] [--what-if]\n"
    "                      [--json] [--reboot]\n"
    "  UninstallCli --version [--json]\n"
    "\n"
    "  list        the printers and printer drivers, as the uninstaller's dialog lists them\n"
    "  remove      removes printers, and drivers with their files and packages, in one\n"
    "              run (repeat --printer and --driver, mixed as needed); a printer whose\n"
    "              driver other rows name loses only the printer; files and packages that\n"
    "              drivers, devices or Windows outside the set use stay\n"
    "  --with-printers  removes the printers that use each --driver first (a driver\n"
    "              that printers use is otherwise not removed: exit code 1)\n"
    "  --what-if   changes nothing and shows what the removal would take and keep\n"
    "  --json      one UTF-8 JSON object instead of text\n"
    "  --reboot    restarts Windows after a successful removal\n"
    "\n"
    "Exit codes: 0 success, 3010 success and restart recommended, 1 a step failed or a\n"
    "driver was refused, 2 bad arguments, 3 nothing of any name exists, 5 not run as\n"
    "administrator.\n";

namespace {

CliOptions Refused(std::wstring why) {
    CliOptions refused;
    refused.error = std::move(why);
    return refused;
}

bool IsHelp(const std::wstring& argument) {
    return argument == L"--help" || argument == L"-h" || argument == L"/?";
}

}  // namespace

CliOptions ParseCliArguments(const std::vector<std::wstring>& arguments) {
    CliOptions options;
    if (arguments.empty())
        return Refused(L"no command given");
    if (IsHelp(arguments[0]))
        return options;
    if (arguments[0] == L"list") {
        options.command = CliCommand::List;
    } else if (arguments[0] == L"remove") {
        options.command = CliCommand::Remove;
    } else if (arguments[0] == L"--version") {
        options.command = CliCommand::Version;
    } else {
        return Refused(L"unknown command: " + arguments[0]);
    }

    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        const bool removing = options.command == CliCommand::Remove;
        if (IsHelp(argument)) {
            return CliOptions{};
        } else if (argument == L"--json") {
            options.json = true;
        } else if (removing && argument == L"--what-if") {
            options.whatIf = true;
        } else if (removing && argument == L"--with-printers") {
            options.withPrinters = true;
        } else if (removing && argument == L"--reboot") {
            options.reboot = true;
        } else if (removing && (argument == L"--printer" || argument == L"--driver")) {
            if (i + 1 >= arguments.size() || arguments[i + 1].empty())
                return Refused(argument + L" needs a name");
            const CliTarget target{argument == L"--printer", arguments[++i]};
            if (std::find(options.targets.begin(), options.targets.end(), target) ==
                options.targets.end())
                options.targets.push_back(target);
        } else {
            return Refused(L"unknown option: " + argument);
        }
    }
    if (options.command == CliCommand::Remove && options.targets.empty())
        return Refused(L"remove needs --printer NAME or --driver NAME");
    if (options.withPrinters &&
        std::none_of(options.targets.begin(), options.targets.end(),
                     [](const CliTarget& target) { return !target.byPrinter; }))
        return Refused(L"--with-printers goes with --driver NAME");
    return options;
}

int FindRowToRemove(const std::vector<DriverListEntry>& rows, const CliTarget& target) {
    int standIn = -1;
    for (size_t i = 0; i < rows.size(); ++i) {
        const DriverListEntry& row = rows[i];
        if (target.byPrinter && row.isPrinter && row.printerName == target.name)
            return static_cast<int>(i);
        if (!target.byPrinter && !row.isPrinter && row.driverName == target.name)
            return static_cast<int>(i);
        // The dialog lists a driver named like a printer only through that
        // printer; it stands for the driver when it is the printer's own.
        if (!target.byPrinter && row.isPrinter && row.printerName == target.name &&
            row.driverName == target.name) {
            standIn = static_cast<int>(i);
        }
    }
    return standIn;
}
