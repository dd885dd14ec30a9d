// Service control against a service control manager in memory: states, rights,
// refusals, bounded waits, log lines and handles.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "engine/service_control.h"
#include "fakes/captured_log.h"
#include "fakes/fake_services.h"
#include "support/test_support.h"

namespace {

using fake_services::scm;
using fake_services::Service;
using Lines = std::vector<std::string>;

class ServiceControl : public ::testing::Test {
  protected:
    void SetUp() override { fake_services::Install(); }
    void TearDown() override { EXPECT_EQ(scm.openHandles, 0) << "a handle was left open"; }

    static Service& Spooler(DWORD state, DWORD hint = 0) {
        Service& service = scm.services[L"Spooler"];
        service.state = state;
        service.waitHint = hint;
        return service;
    }

    static Service& Pca(DWORD state) {
        Service& service = scm.services[L"PcaSvc"];
        service.state = state;
        return service;
    }

    static unique_service PcaManager() {
        return unique_service(win32.OpenSCManagerW(nullptr, nullptr, GENERIC_EXECUTE));
    }

    // The service stopped again, to pass through `afterStart` at its next
    // start; the pauses so far are forgotten.
    static void Restarted(Service& service, std::deque<std::pair<DWORD, DWORD>> afterStart) {
        service.state = SERVICE_STOPPED;
        service.steps = nullptr;
        service.afterStart = std::move(afterStart);
        scm.sleeps.clear();
    }

    static DWORD TotalSleep() {
        return std::accumulate(scm.sleeps.begin(), scm.sleeps.end(), DWORD{0});
    }

    ScopedWin32Fakes fakes;
    CapturedLog log;
};

TEST_F(ServiceControl, StopOfStoppedServiceSendsNothingAndAsksFullAccess) {
    Spooler(SERVICE_STOPPED);
    EXPECT_TRUE(StopServiceByName(L"Spooler"));
    EXPECT_EQ(scm.calls,
              (Lines{"OpenSCManager", "OpenService Spooler", "Query", "Close", "Close"}));
    EXPECT_EQ(scm.managerAccess, (std::vector<DWORD>{0xF003F}));
    EXPECT_EQ(scm.serviceAccess[0].second, 0xF01FFu);
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(ServiceControl, StopWaitsForStoppedPollingATenthOfTheHintWithinItsBounds) {
    struct Case {
        DWORD hint;
        DWORD pause;
    };
    for (const Case& c : {Case{10000, 1000}, Case{3000, 300}, Case{500, 100}, Case{60000, 1000}}) {
        fake_services::Install();
        Spooler(SERVICE_RUNNING, c.hint).afterStop = {{SERVICE_STOP_PENDING, c.hint},
                                                      {SERVICE_STOP_PENDING, c.hint},
                                                      {SERVICE_STOPPED, c.hint}};
        EXPECT_TRUE(StopServiceByName(L"Spooler")) << c.hint;
        EXPECT_EQ(scm.sleeps, (std::vector<DWORD>{c.pause, c.pause})) << c.hint;
        EXPECT_EQ(scm.services[L"Spooler"].state, DWORD{SERVICE_STOPPED});
    }
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(ServiceControl, StopThatNeverEndsFailsAtTheLimitAndIsLogged) {
    Spooler(SERVICE_RUNNING).afterStop = {{SERVICE_STOP_PENDING, 10000}};
    EXPECT_FALSE(StopServiceByName(L"Spooler"));
    EXPECT_EQ(TotalSleep(), SERVICE_WAIT_LIMIT_MS);
    EXPECT_EQ(log.Lines(), (Lines{"等待服务停止超时"}));
}

TEST_F(ServiceControl, StopOfServiceAlreadyStoppingOnlyWaits) {
    Service& spooler = Spooler(SERVICE_STOP_PENDING, 10000);
    spooler.afterStop = {{SERVICE_STOP_PENDING, 10000}, {SERVICE_STOPPED, 0}};
    spooler.steps = &spooler.afterStop;
    EXPECT_TRUE(StopServiceByName(L"Spooler"));
    EXPECT_EQ(spooler.stops, 0) << "a second stop control would be refused";
    EXPECT_EQ(spooler.state, DWORD{SERVICE_STOPPED});
}

TEST_F(ServiceControl, RunningDependentsAreStoppedFirstAndStartedAgainAfterTheService) {
    Service& spooler = Spooler(SERVICE_RUNNING);
    spooler.dependents = {L"FaxOfSpooler", L"PrintNotify", L"Idle"};
    scm.services[L"FaxOfSpooler"].state = SERVICE_RUNNING;
    scm.services[L"PrintNotify"].state = SERVICE_RUNNING;
    scm.services[L"Idle"].state = SERVICE_STOPPED;

    ASSERT_TRUE(StopServiceByName(L"Spooler"));
    ASSERT_TRUE(StartServiceByName(L"Spooler"));
    EXPECT_EQ(scm.controlOrder,
              (Lines{"stop FaxOfSpooler", "stop PrintNotify", "stop Spooler", "start Spooler",
                     "start PrintNotify", "start FaxOfSpooler"}));
    EXPECT_TRUE(log.Lines().empty()) << ::testing::PrintToString(log.Lines());

    ASSERT_TRUE(StopServiceByName(L"Spooler"));
    ASSERT_TRUE(StartServiceByName(L"Spooler"));
    EXPECT_EQ(scm.controlOrder.size(), 12u) << "the dependents are remembered once per stop";
}

TEST_F(ServiceControl, DependentThatRefusesToStopFailsTheStopAndLeavesTheServiceRunning) {
    Spooler(SERVICE_RUNNING).dependents = {L"Stubborn"};
    Service& stubborn = scm.services[L"Stubborn"];
    stubborn.state = SERVICE_RUNNING;
    stubborn.controlError = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    EXPECT_FALSE(StopServiceByName(L"Spooler"));
    EXPECT_EQ(scm.services[L"Spooler"].stops, 0);
    EXPECT_EQ(log.Lines(), (Lines{"ControlService failed with error 1061"}));
}

TEST_F(ServiceControl, StopOfPendingServiceIsSentAndItsRefusalLogged) {
    Spooler(SERVICE_START_PENDING).controlError = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    EXPECT_FALSE(StopServiceByName(L"Spooler"));
    EXPECT_EQ(log.Lines(), (Lines{"ControlService failed with error 1061"}));
}

TEST_F(ServiceControl, MissingServiceIsLoggedWithTheMissingServiceError) {
    EXPECT_FALSE(StopServiceByName(L"NoSuchService"));
    EXPECT_FALSE(StartServiceByName(L"NoSuchService"));
    EXPECT_EQ(log.Lines(),
              (Lines{"OpenService failed with error 1060", "OpenService failed with error 1060"}));
}

TEST_F(ServiceControl, ManagerThatCannotBeOpenedIsLogged) {
    scm.managerError = ERROR_ACCESS_DENIED;
    EXPECT_FALSE(StopServiceByName(L"Spooler"));
    EXPECT_FALSE(StartServiceByName(L"Spooler"));
    EXPECT_EQ(log.Lines(),
              (Lines{"OpenSCManager failed with error 5", "OpenSCManager failed with error 5"}));
}

TEST_F(ServiceControl, FailedFirstStatusQueryIsLoggedAndNeverTakenForAState) {
    // A zeroed status would read as "not stopped" (stop would be sent) and
    // "not stopped" again for a start (which would then be skipped as success).
    Spooler(SERVICE_STOPPED).queryFailsFrom = 0;
    EXPECT_FALSE(StopServiceByName(L"Spooler"));
    EXPECT_FALSE(StartServiceByName(L"Spooler"));
    EXPECT_EQ(scm.services[L"Spooler"].stops, 0);
    EXPECT_EQ(scm.services[L"Spooler"].starts, 0);
    EXPECT_EQ(log.Lines(), (Lines{"QueryServiceStatus failed with error 5",
                                  "QueryServiceStatus failed with error 5"}));
}

TEST_F(ServiceControl, StartLooksFirstThenPollsATenthOfTheHintWithinItsBounds) {
    Spooler(SERVICE_STOPPED).afterStart = {{SERVICE_START_PENDING, 3000}, {SERVICE_RUNNING, 3000}};
    EXPECT_TRUE(StartServiceByName(L"Spooler"));
    EXPECT_EQ(scm.calls, (Lines{"OpenSCManager", "OpenService Spooler", "Query", "Start", "Query",
                                "Sleep 300", "Query", "Close", "Close"}));

    struct Case {
        DWORD hint;
        DWORD pause;
    };
    for (const Case& c : {Case{10000, 1000}, Case{3000, 300}, Case{500, 100}, Case{60000, 1000}}) {
        fake_services::Install();
        Spooler(SERVICE_STOPPED, c.hint).afterStart = {{SERVICE_START_PENDING, c.hint},
                                                       {SERVICE_START_PENDING, c.hint},
                                                       {SERVICE_RUNNING, c.hint}};
        EXPECT_TRUE(StartServiceByName(L"Spooler")) << c.hint;
        EXPECT_EQ(scm.sleeps, (std::vector<DWORD>{c.pause, c.pause})) << c.hint;
        EXPECT_EQ(scm.services[L"Spooler"].state, DWORD{SERVICE_RUNNING});
    }
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(ServiceControl, StartFoundRunningAtTheFirstLookSleepsNotAtAll) {
    // Wine's spooler: running within milliseconds, a 10 s hint in every state.
    Spooler(SERVICE_STOPPED, 10000).afterStart = {{SERVICE_RUNNING, 10000}};
    EXPECT_TRUE(StartServiceByName(L"Spooler"));
    EXPECT_TRUE(scm.sleeps.empty()) << ::testing::PrintToString(scm.sleeps);
    Pca(SERVICE_STOPPED).afterStart = {{SERVICE_RUNNING, 10000}};
    StartPcaSvc(PcaManager());
    EXPECT_TRUE(scm.sleeps.empty()) << ::testing::PrintToString(scm.sleeps);
    EXPECT_EQ(scm.debugStrings, (std::vector<std::wstring>{L"start success。"}));
}

TEST_F(ServiceControl, StartLeavesRunningPendingAndPausedServicesAlone) {
    for (DWORD state : {SERVICE_RUNNING, SERVICE_START_PENDING, SERVICE_PAUSED}) {
        Spooler(state);
        EXPECT_TRUE(StartServiceByName(L"Spooler")) << state;
    }
    EXPECT_EQ(scm.services[L"Spooler"].starts, 0);
    EXPECT_TRUE(scm.sleeps.empty());
}

TEST_F(ServiceControl, RefusedStartIsLogged) {
    Spooler(SERVICE_STOPPED).startError = ERROR_SERVICE_DISABLED;
    EXPECT_FALSE(StartServiceByName(L"Spooler"));
    EXPECT_EQ(log.Lines(), (Lines{"StartService failed with error 1058"}));
}

TEST_F(ServiceControl, StartThatNeverReachesRunningEndsAtTheLimitAndIsLoggedAsFailure) {
    Spooler(SERVICE_STOPPED).afterStart = {{SERVICE_START_PENDING, 10000}};
    EXPECT_FALSE(StartServiceByName(L"Spooler"));
    EXPECT_EQ(TotalSleep(), SERVICE_WAIT_LIMIT_MS);
    EXPECT_EQ(scm.sleeps.size(), size_t{SERVICE_WAIT_LIMIT_MS / SERVICE_MAX_POLL_MS});
    EXPECT_EQ(log.Lines(), (Lines{"等待服务启动超时"}));
}

// A crashing service: stopped again 150 ms after its start, with 1067, or
// only after it had reported running.
TEST_F(ServiceControl, StartAfterWhichTheServiceIsStoppedAgainFailsAtOnceWithItsExitCode) {
    Service& spooler = Spooler(SERVICE_STOPPED);
    spooler.afterStart = {{SERVICE_START_PENDING, 10000}, {SERVICE_STOPPED, 0}};
    spooler.exitCode = ERROR_PROCESS_ABORTED;
    EXPECT_FALSE(StartServiceByName(L"Spooler"));
    EXPECT_EQ(scm.sleeps, (std::vector<DWORD>{1000})) << "the wait ends at the stopped state";
    EXPECT_EQ(log.Lines(), (Lines{"服务启动后随即停止 failed with error 1067"}));

    Restarted(spooler, {{SERVICE_RUNNING, 0}, {SERVICE_STOPPED, 0}});
    EXPECT_TRUE(StartServiceByName(L"Spooler")) << "unwatched, running is running";
    Restarted(spooler, {{SERVICE_RUNNING, 0}, {SERVICE_RUNNING, 0}, {SERVICE_STOPPED, 0}});
    EXPECT_EQ(StartServiceWatched(L"Spooler", SPOOLER_START_WATCH_MS), ServiceStart::StoppedAgain);
    EXPECT_EQ(scm.sleeps, (std::vector<DWORD>{SPOOLER_WATCH_POLL_MS, SPOOLER_WATCH_POLL_MS}));
}

// Two starts that end stopped again: the spooler cannot run. One still
// pending at the limit is slow, which is a plain failure; so is a start the
// manager refuses for another reason than an ended process.
TEST_F(ServiceControl, SpoolerCannotRunOnlyWhenItStopsAgainAfterEveryStart) {
    Service& spooler = Spooler(SERVICE_RUNNING);
    spooler.afterStart = {{SERVICE_STOPPED, 0}};
    spooler.exitCode = ERROR_PROCESS_ABORTED;
    EXPECT_EQ(RestartSpoolerWatched(), SpoolerStart::CannotRun);
    EXPECT_EQ(spooler.starts, SPOOLER_START_ATTEMPTS);
    EXPECT_EQ(log.Lines(), (Lines{"服务启动后随即停止 failed with error 1067",
                                  "服务启动后随即停止 failed with error 1067", "开启服务失败"}));
    EXPECT_TRUE(SpoolerIsStopped());

    Restarted(spooler, {{SERVICE_STOPPED, 0}, {SERVICE_STOPPED, 0}, {SERVICE_RUNNING, 0}});
    EXPECT_EQ(StartSpoolerWatched(), SpoolerStart::Running) << "the second start held";
    EXPECT_FALSE(SpoolerIsStopped());

    Restarted(spooler, {{SERVICE_START_PENDING, 10000}});
    EXPECT_EQ(StartSpoolerWatched(), SpoolerStart::Failed);
    EXPECT_EQ(TotalSleep(), SERVICE_WAIT_LIMIT_MS) << "one start, waited for to the bound";

    Restarted(spooler, {});
    spooler.startError = ERROR_SERVICE_DISABLED;
    EXPECT_EQ(StartSpoolerWatched(), SpoolerStart::Failed);
    spooler.startError = ERROR_PROCESS_ABORTED;
    EXPECT_EQ(StartSpoolerWatched(), SpoolerStart::CannotRun);
}

TEST_F(ServiceControl, HugeWaitHintIsPolledAtTheLongestPauseUntilTheLimit) {
    Spooler(SERVICE_STOPPED).afterStart = {{SERVICE_START_PENDING, 0xFFFFFFFF}};
    EXPECT_FALSE(StartServiceByName(L"Spooler"));
    EXPECT_EQ(scm.sleeps,
              std::vector<DWORD>(SERVICE_WAIT_LIMIT_MS / SERVICE_MAX_POLL_MS, SERVICE_MAX_POLL_MS));
}

TEST_F(ServiceControl, FailedQueryDuringTheStartWaitEndsTheWait) {
    Service& spooler = Spooler(SERVICE_STOPPED);
    spooler.afterStart = {{SERVICE_START_PENDING, 5000}};
    spooler.queryFailsFrom = 2;
    EXPECT_TRUE(StartServiceByName(L"Spooler"));
    EXPECT_EQ(scm.sleeps, (std::vector<DWORD>{500}));
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(ServiceControl, RestartStopsPausesAndStarts) {
    Service& spooler = Spooler(SERVICE_RUNNING);
    spooler.afterStop = {{SERVICE_STOPPED, 0}};
    spooler.afterStart = {{SERVICE_RUNNING, 0}};
    // The fake's stop completes at the next query; the real spooler stops
    // within the pause.
    EXPECT_TRUE(RestartSpooler());
    EXPECT_EQ(spooler.stops, 1);
    EXPECT_EQ(spooler.starts, 1);
    EXPECT_EQ(scm.sleeps.front(), 2000u);
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(ServiceControl, RestartWithoutSpoolerLogsTheStopHalfAndDoesNotStart) {
    EXPECT_FALSE(RestartSpooler());
    EXPECT_EQ(log.Lines(), (Lines{"OpenService failed with error 1060", "关闭服务失败"}));
    EXPECT_TRUE(scm.sleeps.empty());
}

TEST_F(ServiceControl, RestartWhoseStartIsRefusedLogsTheStartHalf) {
    Spooler(SERVICE_STOPPED).startError = ERROR_SERVICE_DISABLED;
    EXPECT_FALSE(RestartSpooler());
    EXPECT_EQ(log.Lines(), (Lines{"StartService failed with error 1058", "开启服务失败"}));
}

TEST_F(ServiceControl, StartOfServiceStillStoppingWaitsForStoppedThenStarts) {
    Service& spooler = Spooler(SERVICE_STOP_PENDING, 10000);
    spooler.afterStop = {
        {SERVICE_STOP_PENDING, 10000}, {SERVICE_STOP_PENDING, 10000}, {SERVICE_STOPPED, 0}};
    spooler.steps = &spooler.afterStop;
    EXPECT_TRUE(StartServiceByName(L"Spooler"));
    EXPECT_EQ(spooler.starts, 1);
    EXPECT_EQ(spooler.state, DWORD{SERVICE_RUNNING});
    // One stop poll of a tenth of the hint; the start is running at once.
    EXPECT_EQ(scm.sleeps, (std::vector<DWORD>{1000}));
}

TEST_F(ServiceControl, RestartWaitsForTheStopBeforeItStartsTheSpooler) {
    Service& spooler = Spooler(SERVICE_RUNNING);
    spooler.afterStop = {
        {SERVICE_STOP_PENDING, 10000}, {SERVICE_STOP_PENDING, 10000}, {SERVICE_STOPPED, 0}};
    EXPECT_TRUE(RestartSpooler());
    EXPECT_EQ(spooler.starts, 1);
    EXPECT_EQ(spooler.state, DWORD{SERVICE_RUNNING});
    EXPECT_EQ(scm.sleeps, (std::vector<DWORD>{1000, 1000, 2000}));
}

TEST_F(ServiceControl, SpoolerLeftStoppedByARunIsStartedAgainAtTheEndAndNotStoppedAfter) {
    Service& spooler = Spooler(SERVICE_RUNNING);
    ResetProgramEndForTests();
    ASSERT_TRUE(StopServiceByName(L"Spooler"));
    EXPECT_TRUE(StartSpoolerIfLeftStopped());
    EXPECT_EQ(spooler.starts, 1);
    EXPECT_EQ(spooler.state, DWORD{SERVICE_RUNNING});
    EXPECT_FALSE(StopServiceByName(L"Spooler")) << "the worker still running must not stop it";
    EXPECT_EQ(spooler.stops, 1);
    ResetProgramEndForTests();
}

TEST_F(ServiceControl, SpoolerThatTheRunStartedAgainOrNeverStoppedIsLeftAloneAtTheEnd) {
    Service& spooler = Spooler(SERVICE_RUNNING);
    ResetProgramEndForTests();
    ASSERT_TRUE(StopServiceByName(L"Spooler"));
    ASSERT_TRUE(StartServiceByName(L"Spooler"));
    EXPECT_TRUE(StartSpoolerIfLeftStopped());
    EXPECT_EQ(spooler.starts, 1);
    ResetProgramEndForTests();

    spooler.steps = nullptr;
    spooler.state = SERVICE_STOPPED;
    ASSERT_TRUE(StopServiceByName(L"Spooler"));
    EXPECT_TRUE(StartSpoolerIfLeftStopped());
    EXPECT_EQ(spooler.starts, 1) << "a spooler found stopped was not stopped by the run";
    ResetProgramEndForTests();
}

TEST_F(ServiceControl, PcaSvcRunningIsStoppedWaitedForAndAnnounced) {
    Pca(SERVICE_RUNNING).afterStop = {{SERVICE_STOP_PENDING, 2500}, {SERVICE_STOPPED, 0}};
    StopPcaSvc(PcaManager());
    EXPECT_EQ(scm.serviceAccess, (std::vector<std::pair<std::wstring, DWORD>>{{L"PcaSvc", 0x34}}));
    EXPECT_EQ(scm.sleeps, (std::vector<DWORD>{2500, 0}));
    EXPECT_EQ(scm.debugStrings, (std::vector<std::wstring>{L"stop success。"}));
    EXPECT_EQ(scm.services[L"PcaSvc"].state, SERVICE_STOPPED);
}

TEST_F(ServiceControl, PcaSvcNotRunningEndsAfterTheFirstQuery) {
    for (DWORD state : {SERVICE_STOPPED, SERVICE_START_PENDING, SERVICE_PAUSED}) {
        Pca(state);
        StopPcaSvc(PcaManager());
    }
    EXPECT_EQ(scm.services[L"PcaSvc"].stops, 0);
    EXPECT_TRUE(scm.debugStrings.empty());
}

TEST_F(ServiceControl, PcaSvcFailuresEndSilentlyAndCloseTheGivenManager) {
    StopPcaSvc(PcaManager());   // no such service
    StartPcaSvc(PcaManager());  // no such service
    Pca(SERVICE_RUNNING).controlError = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    StopPcaSvc(PcaManager());
    Pca(SERVICE_STOPPED).startError = ERROR_SERVICE_DISABLED;
    StartPcaSvc(PcaManager());
    Pca(SERVICE_RUNNING).queryFailsFrom = scm.services[L"PcaSvc"].queries;
    StopPcaSvc(PcaManager());
    EXPECT_TRUE(scm.debugStrings.empty());
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(ServiceControl, PcaSvcThatNeverStopsIsGivenUpAtTheLimitWithoutAnnouncement) {
    Pca(SERVICE_RUNNING).afterStop = {{SERVICE_STOP_PENDING, 2500}};
    StopPcaSvc(PcaManager());
    EXPECT_EQ(TotalSleep(), SERVICE_WAIT_LIMIT_MS);
    EXPECT_TRUE(scm.debugStrings.empty());
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(ServiceControl, PcaSvcStoppedIsStartedAndAnnouncedRunningIsLeftAlone) {
    Pca(SERVICE_STOPPED).afterStart = {{SERVICE_START_PENDING, 2500}, {SERVICE_RUNNING, 2500}};
    StartPcaSvc(PcaManager());
    EXPECT_EQ(scm.sleeps, (std::vector<DWORD>{250})) << "a tenth of the hint, once";
    EXPECT_EQ(scm.debugStrings, (std::vector<std::wstring>{L"start success。"}));
    EXPECT_EQ(scm.services[L"PcaSvc"].starts, 1);

    StartPcaSvc(PcaManager());
    EXPECT_EQ(scm.services[L"PcaSvc"].starts, 1);
    EXPECT_EQ(scm.debugStrings.size(), 1u);
}

}  // namespace
