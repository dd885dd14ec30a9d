// The command line of UninstallCli.exe:
//   UninstallCli list [--json]
//   UninstallCli remove (--printer NAME | --driver NAME)... [--with-printers] [--what-if]
//                       [--json] [--reboot]
//   UninstallCli --version [--json]
//   UninstallCli --help | /? | -h
#pragma once

#include <string>
#include <vector>

#include "engine/driver_inventory.h"

// Exit codes, as deployment tools read them.
constexpr int EXIT_OK = 0;
constexpr int EXIT_STEP_FAILED = 1;
constexpr int EXIT_BAD_ARGUMENTS = 2;
constexpr int EXIT_NO_SUCH_NAME = 3;
constexpr int EXIT_NOT_ADMINISTRATOR = 5;
constexpr int EXIT_RESTART_RECOMMENDED = 3010;

enum class CliCommand { Help, Version, List, Remove };

// One --printer NAME or --driver NAME.
struct CliTarget {
    bool byPrinter = false;
    std::wstring name;
    bool operator==(const CliTarget& other) const {
        return byPrinter == other.byPrinter && name == other.name;
    }
};

struct CliOptions {
    CliCommand command = CliCommand::Help;
    bool json = false;
    bool whatIf = false;
    bool reboot = false;
    // With --driver: the printers that use each driver are removed first.
    bool withPrinters = false;
    // The printers and drivers to remove, in the order given, each once.
    std::vector<CliTarget> targets;
    // Why the arguments were refused; empty when they were taken.
    std::wstring error;
};

// Reads the arguments after the program's name. Options may come in any
// order after the command, --printer and --driver as often as needed (a
// name given twice counts once); an unknown option, a missing or empty name,
// a removal without any name, --with-printers without --driver, or an option
// that does not belong to the command leaves a message in `error`.
CliOptions ParseCliArguments(const std::vector<std::wstring>& arguments);

// The usage text printed for --help.
extern const char CLI_USAGE[];

// The row that `target` names, as the dialog lists it: --printer the printer
// row of that name; --driver the driver row of that name, or, where the
// driver's own printer bears its name and so stands for it, that printer's
// row. Names compare ordinally. Returns -1 when no row matches.
int FindRowToRemove(const std::vector<DriverListEntry>& rows, const CliTarget& target);
