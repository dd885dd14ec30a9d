#include "cli/cli_options.h"

const char CLI_USAGE[] =
    "Usage:\n"
    "  UninstallCli list [--json]\n"
    "  UninstallCli remove (--printer NAME | --driver NAME [--with-printers]) [--what-if] "
    "[--json]\n"
    "                      [--reboot]\n"
    "  UninstallCli --version [--json]\n"
    "\n"
    "  list        the printers and printer drivers, as the uninstaller's dialog lists them\n"
    "  remove      removes one printer, or one driver with its files and packages; a\n"
    "              printer whose driver other rows name loses only the printer; files and\n"
    "              packages that other drivers, other devices or Windows use stay\n"
    "  --with-printers  removes the printers that use the driver first (a driver\n"
    "              that printers use is otherwise not removed: exit code 1)\n"
    "  --what-if   changes nothing and shows what the removal would take and keep\n"
    "  --json      one UTF-8 JSON object instead of text\n"
    "  --reboot    restarts Windows after a successful removal\n"
    "\n"
    "Exit codes: 0 success, 3010 success and restart recommended, 1 a step failed,\n"
    "2 bad arguments, 3 no printer or driver of that name, 5 not run as administrator.\n";

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

    bool named = false;
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
            if (named)
                return Refused(L"name one printer or one driver");
            if (i + 1 >= arguments.size() || arguments[i + 1].empty())
                return Refused(argument + L" needs a name");
            options.byPrinter = argument == L"--printer";
            options.name = arguments[++i];
            named = true;
        } else {
            return Refused(L"unknown option: " + argument);
        }
    }
    if (options.command == CliCommand::Remove && !named)
        return Refused(L"remove needs --printer NAME or --driver NAME");
    if (options.withPrinters && options.byPrinter)
        return Refused(L"--with-printers goes with --driver NAME");
    return options;
}

int FindRowToRemove(const std::vector<DriverListEntry>& rows, const CliOptions& options) {
    int standIn = -1;
    for (size_t i = 0; i < rows.size(); ++i) {
        const DriverListEntry& row = rows[i];
        if (options.byPrinter && row.isPrinter && row.printerName == options.name)
            return static_cast<int>(i);
        if (!options.byPrinter && !row.isPrinter && row.driverName == options.name)
            return static_cast<int>(i);
        // The dialog lists a driver named like a printer only through that
        // printer; it stands for the driver when it is the printer's own.
        if (!options.byPrinter && row.isPrinter && row.printerName == options.name &&
            row.driverName == options.name) {
            standIn = static_cast<int>(i);
        }
    }
    return standIn;
}
