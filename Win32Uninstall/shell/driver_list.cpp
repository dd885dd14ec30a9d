#include "shell/driver_list.h"

#include "platform/win32_api.h"
#include "shell/ui_state.h"

std::vector<DriverListEntry> driverEntries;
DriverUseCounts driverUseCounts;

void FillDriverList() {
    win32.SendMessageW(listBox, LB_RESETCONTENT, 0, 0);
    driverEntries.clear();
    driverUseCounts.clear();

    DriverInventory inventory = TakeDriverInventory(mainDialog);
    // Inserted at explicit indexes, so that item i is row i in spite of the
    // list box's sort style.
    for (size_t i = 0; i < inventory.rows.size(); ++i) {
        const DriverListEntry& row = inventory.rows[i];
        const std::wstring& itemText = row.isPrinter ? row.printerName : row.driverName;
        win32.SendMessageW(listBox, LB_INSERTSTRING, static_cast<WPARAM>(i),
                           reinterpret_cast<LPARAM>(itemText.c_str()));
    }
    driverEntries = std::move(inventory.rows);
    driverUseCounts = std::move(inventory.useCounts);

    win32.SetWindowTextW(mainDialog, windowTitle.c_str());
}
