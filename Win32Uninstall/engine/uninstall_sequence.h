// The whole removal, in its one fixed order.
#pragma once

#include <vector>

#include "shell/driver_list.h"

// Removes the rows' printers and drivers from the machine:
//  1. restart the spooler, pause 1 s;
//  2. for each row with driver information, delete the first queued job of the
//     printer named like the driver ("删除打印作业失败" on failure);
//  3. stop the spooler ("关闭服务失败" on failure), pause 1 s;
//  4. delete the spool files;
//  5. for each row with driver information: its driver files, its oem INF
//     packages, its driver-store package folders;
//  6. start the spooler ("开启服务失败" on failure), pause 1 s;
//  7. delete the printer of every printer row, then the driver of every row
//     with driver information, through the spooler;
//  8. ask Plug and Play to re-enumerate the device tree (never a failure).
// Each loop runs over all rows, in list order, before the next step begins.
// The first failing step ends the run with false: nothing is undone and the
// spooler is not started again on that path. Returns true when every step
// succeeded.
bool RunUninstallSequence(const std::vector<DriverListEntry>& rows);
