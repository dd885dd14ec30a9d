// Service control against Wine's real service control manager: the spooler,
// and the tests' own "PcaSvc" registered in the private prefix.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/service_control.h"
#include "fakes/captured_log.h"
#include "support/test_service.h"
#include "support/test_support.h"

namespace {

DWORD SpoolerState() {
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = ::OpenServiceW(manager, L"Spooler", SERVICE_QUERY_STATUS);
    SERVICE_STATUS status{};
    const BOOL read = ::QueryServiceStatus(service, &status);
    ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    return read ? status.dwCurrentState : 0;
}

bool WaitForSpooler(DWORD state) {
    for (int i = 0; i < 1500 && SpoolerState() != state; ++i)
        ::Sleep(20);
    return SpoolerState() == state;
}

std::vector<std::wstring> debugStrings;
void WINAPI RecordDebugString(LPCWSTR text) {
    debugStrings.push_back(text);
    ::OutputDebugStringW(text);
}

unique_service ExecuteManager() {
    return unique_service(win32.OpenSCManagerW(nullptr, nullptr, GENERIC_EXECUTE));
}

class ServicesOnWine : public ::testing::Test {
  protected:
    void SetUp() override {
        debugStrings.clear();
        win32.OutputDebugStringW = RecordDebugString;
    }
    ScopedWin32Fakes fakes;
    CapturedLog log;
};

TEST_F(ServicesOnWine, SpoolerIsStartedStoppedAndRestarted) {
    const DWORD initial = SpoolerState();
    ASSERT_NE(initial, 0u);

    ASSERT_TRUE(StartServiceByName(L"Spooler"));
    EXPECT_EQ(SpoolerState(), DWORD{SERVICE_RUNNING});

    ASSERT_TRUE(StopServiceByName(L"Spooler"));
    EXPECT_EQ(SpoolerState(), DWORD{SERVICE_STOPPED}) << "true only once stopped";
    EXPECT_TRUE(StopServiceByName(L"Spooler")) << "an already stopped spooler is no failure";

    ASSERT_TRUE(StartServiceByName(L"Spooler"));
    EXPECT_TRUE(RestartSpooler());
    EXPECT_EQ(SpoolerState(), DWORD{SERVICE_RUNNING});
    EXPECT_TRUE(log.Lines().empty()) << ::testing::PrintToString(log.Lines());

    if (initial == SERVICE_STOPPED) {
        StopServiceByName(L"Spooler");
        EXPECT_TRUE(WaitForSpooler(SERVICE_STOPPED));
    }
}

TEST_F(ServicesOnWine, MissingServiceIsLoggedWithTheSystemsMissingServiceError) {
    EXPECT_FALSE(StopServiceByName(L"KavroNoSuchService"));
    EXPECT_FALSE(StartServiceByName(L"KavroNoSuchService"));
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"OpenService failed with error 1060",
                                                     "OpenService failed with error 1060"}));
}

TEST_F(ServicesOnWine, PcaSvcIsStartedAndStoppedThroughAnExecuteOnlyManager) {
    RegisteredPcaSvc pca;
    ASSERT_TRUE(pca.registered());
    ASSERT_EQ(pca.State(), DWORD{SERVICE_STOPPED});

    StopPcaSvc(ExecuteManager());
    EXPECT_TRUE(debugStrings.empty()) << "a stopped service needs no stop";

    StartPcaSvc(ExecuteManager());
    EXPECT_EQ(pca.State(), DWORD{SERVICE_RUNNING});
    EXPECT_EQ(debugStrings, (std::vector<std::wstring>{L"start success。"}));

    StartPcaSvc(ExecuteManager());
    EXPECT_EQ(debugStrings.size(), 1u) << "a running service needs no start";

    StopPcaSvc(ExecuteManager());
    EXPECT_EQ(pca.State(), DWORD{SERVICE_STOPPED});
    EXPECT_EQ(debugStrings, (std::vector<std::wstring>{L"start success。", L"stop success。"}));
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(ServicesOnWine, PcaSvcOperationsWithoutTheServiceEndQuietly) {
    StopPcaSvc(ExecuteManager());
    StartPcaSvc(ExecuteManager());
    EXPECT_TRUE(debugStrings.empty());
    EXPECT_TRUE(log.Lines().empty());
}

}  // namespace
