// The whole run of UninstallCli.exe after the handover to a 64-bit copy:
// reads the arguments, checks elevation where it is needed, lists, previews
// or removes, writes its answer to standard output and returns the exit code.
// It never shows a window or a message box.
#pragma once

#include <string>
#include <vector>

// Where the answer goes; standard output in the program, a string in tests.
using CliWriter = void (*)(const std::string& utf8);

// Runs one command. `arguments` are those after the program's name. Every
// JSON answer carries the program's "version". Returns one of the EXIT_*
// codes of cli_options.h:
// - --version (the project's version, alone on its line) and list: EXIT_OK;
// - remove --what-if: EXIT_OK, having changed nothing;
// - remove: EXIT_RESTART_RECOMMENDED after a removal that took a driver,
//   EXIT_OK after one that took only a printer, or when --reboot has started
//   the restart; EXIT_STEP_FAILED when a step failed;
// - EXIT_BAD_ARGUMENTS, EXIT_NO_SUCH_NAME, or EXIT_NOT_ADMINISTRATOR for a
//   removal without administrator rights; each changes nothing.
int RunCli(const std::vector<std::wstring>& arguments, CliWriter write);

// The process runs with an administrator's full token (elevated, or an
// administrator where Windows has no elevation).
bool RunsAsAdministrator();

// The restart after a successful removal, with a planned-maintenance reason;
// true when Windows accepted it.
bool RestartForMaintenance();
