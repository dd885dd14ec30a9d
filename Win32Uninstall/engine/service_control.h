// Control of two Windows services through the service control manager: the
// print spooler ("Spooler"), which the uninstall sequence restarts, stops and
// starts around its removal steps, and the program compatibility service
// ("PcaSvc"), which the start-up stops at launch and starts again once the
// opening warning has been acknowledged.
//
// The spooler family opens its own manager handle with full access, logs every
// failure through WriteLog and reports true or false. The PcaSvc family gets a
// manager handle from its caller, asks only for the rights it uses, never logs
// and reports nothing. Every operation closes every handle it holds, the
// manager handle it was given included, on every path.
#pragma once

#include <string>

#include <windows.h>

#include "platform/unique_handles.h"

// A wait for a service state queries the status first and, while the state
// is not yet the awaited one, pauses a tenth of the wait hint the service
// reports, kept within SERVICE_MIN_PAUSE_MS..SERVICE_MAX_POLL_MS, before the
// next query: a start or a stop usually ends long before the hint the service
// announces, and a service reporting no hint is not polled in a busy loop.
// The wait ends with the awaited state, a failed query, or when its pauses
// add up to SERVICE_WAIT_LIMIT_MS (the last pause is cut to what is left).
// PcaSvc's stop wait alone still pauses the whole hint (at least
// SERVICE_MIN_PAUSE_MS) after every query, the last one included.
constexpr DWORD SERVICE_WAIT_LIMIT_MS = 60000;
constexpr DWORD SERVICE_MIN_PAUSE_MS = 100;
constexpr DWORD SERVICE_MAX_POLL_MS = 1000;
// The pause between the stop and the start of a spooler restart.
constexpr DWORD SPOOLER_RESTART_PAUSE_MS = 2000;

// What the spooler family logs (withLastError false) when a started service
// has not reached the running state within SERVICE_WAIT_LIMIT_MS.
constexpr wchar_t SERVICE_START_TIMEOUT_TEXT[] = L"等待服务启动超时";
// What the spooler family logs (withLastError false) when a stopped service
// has not reached the stopped state within SERVICE_WAIT_LIMIT_MS.
constexpr wchar_t SERVICE_STOP_TIMEOUT_TEXT[] = L"等待服务停止超时";

// What the spooler family logs when a started service is stopped again before
// it has run (during the start wait or the watch after it): withLastError
// true, with the code the service stopped with as the last error ("服务启动后随即停止
// failed with error 1067: ..."), or the text alone when that code is 0.
constexpr wchar_t SERVICE_STOPPED_AFTER_START_TEXT[] = L"服务启动后随即停止";

// A spooler that a broken driver crashes stops again within moments of every
// start, often only after it has reported running (it loads the printers'
// drivers then). Each start of the removal's restart is therefore watched for
// SPOOLER_START_WATCH_MS after the running state, polled every
// SPOOLER_WATCH_POLL_MS, and a spooler stopped again after
// SPOOLER_START_ATTEMPTS starts in a row cannot run. A spooler still pending
// is only slow: its start waits up to SERVICE_WAIT_LIMIT_MS and then fails as
// a timeout, never as "cannot run".
// The watch is the pause that the removal makes after a start of the spooler
// anyway (1 s, so that it is ready for the next step): it costs no time of
// its own, and the removal does not pause again after a watched start.
constexpr int SPOOLER_START_ATTEMPTS = 2;
constexpr DWORD SPOOLER_START_WATCH_MS = 1000;
constexpr DWORD SPOOLER_WATCH_POLL_MS = 250;

// How one start of a service ended.
enum class ServiceStart {
    Running,       // running (or no start was needed)
    StoppedAgain,  // the service stopped again by itself: it cannot run now
    Failed,        // any other failure (refused, timed out, not found)
};

// How the spooler's watched start ended.
enum class SpoolerStart {
    Running,
    CannotRun,  // stopped again after each of SPOOLER_START_ATTEMPTS starts
    Failed,
};

// Stops the named service and waits for the stopped state. The running
// services that depend on it are stopped first (each waited for), as the
// service control manager refuses to stop a service with running dependents
// (1051); their names are kept so that StartServiceByName starts them again.
// A service already stopping is only waited for: a second stop control would
// be refused. True once the service is stopped (at once when it was found
// stopped). False after logging the failed call with its last error:
// "OpenSCManager", "OpenService", "QueryServiceStatus" (the state is then
// unknown, so nothing is sent), "EnumDependentServices" or "ControlService"
// (for instance a refused control while the service is starting), or
// SERVICE_STOP_TIMEOUT_TEXT when the stopped state did not come within the
// wait limit.
bool StopServiceByName(const std::wstring& serviceName);

// Starts the named service if it is stopped and waits for the running state;
// a service that is still stopping is first waited for until it is stopped,
// then started. Running, start-pending and paused services are left alone.
// Afterwards the dependents that StopServiceByName stopped for this service
// are started again (a refusal is logged as "StartService" but does not make
// the result false: the service itself runs). True when no start was needed,
// or the start was accepted and the wait ended with the running state or with
// a failed status query. False after logging "OpenSCManager", "OpenService",
// "QueryServiceStatus" (first query) or "StartService" with the last error,
// SERVICE_STOP_TIMEOUT_TEXT / SERVICE_START_TIMEOUT_TEXT when the stopped or
// the running state did not come within the wait limit, or
// SERVICE_STOPPED_AFTER_START_TEXT when the service stopped again during the
// start wait, which ends that wait at once.
bool StartServiceByName(const std::wstring& serviceName);

// StartServiceByName, telling a failed start of the service itself apart: a
// start refused because the service's process ended (1067), or a service
// stopped again during the start wait (which then ends at once, not at the
// limit) or within `watchMs` after it reached the running state, gives
// StoppedAgain, after logging "StartService" or
// SERVICE_STOPPED_AFTER_START_TEXT with the service's exit code. With
// `watchMs` the service is watched also when no start was needed, so that a
// Running answer always comes `watchMs` after the service was seen running
// (or pending).
ServiceStart StartServiceWatched(const std::wstring& serviceName, DWORD watchMs);

// Starts "Spooler", each start watched for SPOOLER_START_WATCH_MS, up to
// SPOOLER_START_ATTEMPTS times while it stops again by itself: CannotRun when
// it did so every time. Logs as StartServiceWatched.
SpoolerStart StartSpoolerWatched();

// RestartSpooler with StartSpoolerWatched for its start: logs "关闭服务失败"
// after a failed stop (Failed) and "开启服务失败" after a start that did not
// end running (Failed or CannotRun).
SpoolerStart RestartSpoolerWatched();

// Whether "Spooler" is stopped now. False, with the failed call logged, when
// its state cannot be read.
bool SpoolerIsStopped();

// Stops "Spooler", pauses SPOOLER_RESTART_PAUSE_MS and starts it. True when
// both halves returned true; otherwise logs "关闭服务失败" or "开启服务失败"
// after the failing half's own line and returns false.
bool RestartSpooler();

// Starts "Spooler" again (StartServiceByName, so within the service wait
// limit) when StopServiceByName stopped it and StartServiceByName has not
// started it since: the program is ending in the middle of a run, and printing
// must not stay broken until the next reboot. Does nothing otherwise. A stop
// of the spooler in progress is finished first, and every later
// StopServiceByName of "Spooler" returns false at once: the run's worker is
// not waited for and must not stop the spooler again. True when nothing was
// needed or the start succeeded. Called once, as the program ends.
bool StartSpoolerIfLeftStopped();

// Undoes the end that StartSpoolerIfLeftStopped began and forgets a spooler
// left stopped, so that one test process can run many program ends. The
// program itself never calls it.
void ResetProgramEndForTests();

// Stops "PcaSvc" if it is running and waits for the stopped state; on reaching
// it sends the debug string "stop success。". Takes ownership of `manager`.
// Ends silently at the first failure or when the wait limit is reached.
void StopPcaSvc(unique_service manager);

// Starts "PcaSvc" if it is stopped and waits for the running state; on reaching
// it sends the debug string "start success。". Takes ownership of `manager`.
// Ends silently at the first failure or when the wait limit is reached.
void StartPcaSvc(unique_service manager);
