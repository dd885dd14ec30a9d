// The driver list: the list box of the main dialog (control IDC_DRIVER_LIST)
// and, row for row beside it, the table that the uninstall command takes the
// selected row from. The rows themselves come from the engine's inventory.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "engine/driver_inventory.h"

// Row i belongs to list-box item i after every fill.
extern std::vector<DriverListEntry> driverEntries;

// Driver name -> number of rows naming that driver (the printers using it, plus
// one if it has a row of its own). Keys compare code unit by code unit (ordinal,
// case-sensitive). A name no row names is absent; an empty driverName is never
// counted.
extern DriverUseCounts driverUseCounts;

// Empties and refills the list box, driverEntries and driverUseCounts from the
// spooler, then sets the dialog title to windowTitle. Items are inserted at
// explicit indexes, so the list shows the table's order in spite of the list
// box's sort style. Runs on the GUI thread before the dialog is shown and on
// the uninstall worker after every command; never two at a time.
void FillDriverList();
