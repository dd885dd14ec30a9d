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
// "QueryServiceStatus" (first query) or "StartService" with the last error, or
// SERVICE_STOP_TIMEOUT_TEXT / SERVICE_START_TIMEOUT_TEXT when the stopped or
// the running state did not come within the wait limit.
bool StartServiceByName(const std::wstring& serviceName);

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
