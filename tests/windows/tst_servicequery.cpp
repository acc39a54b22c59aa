// The service query against a real service in the prefix's service manager.

#include "daemon/win32service.h"
#include "ipc/win32pipe.h"
#include "servicecontrol.h"
#include "testservice.h"

#include <gtest/gtest.h>

namespace {

enum class Setup
{
    Stopped,
    StartPending,
    Running,
    StopPending,
    Missing,
};

struct QueryCase
{
    const char *name;
    Setup setup;
    ServiceState state;
    DaemonAction action;
    bool hasProcess;
};

class ServiceQuery : public testing::TestWithParam<QueryCase>
{
protected:
    void SetUp() override { ASSERT_TRUE(ServiceControl::stopAndWait()); }
    void TearDown() override { EXPECT_TRUE(ServiceControl::stopAndWait()); }
};

TEST_P(ServiceQuery, MapsTheStateAndFindsTheProcess)
{
    const QueryCase &c = GetParam();
    std::wstring service = Win32::kDaemonServiceName;
    switch (c.setup) {
    case Setup::Stopped:
        break;
    case Setup::StartPending:
        ASSERT_TRUE(ServiceControl::start({TestService::kHoldStart}));
        ASSERT_TRUE(ServiceControl::waitForState(SERVICE_START_PENDING));
        break;
    case Setup::Running:
        ASSERT_TRUE(ServiceControl::start());
        ASSERT_TRUE(ServiceControl::waitForState(SERVICE_RUNNING));
        break;
    case Setup::StopPending:
        ASSERT_TRUE(ServiceControl::start({TestService::kHoldStop}));
        ASSERT_TRUE(ServiceControl::waitForState(SERVICE_RUNNING));
        ASSERT_TRUE(ServiceControl::requestStop());
        ASSERT_TRUE(ServiceControl::waitForState(SERVICE_STOP_PENDING));
        break;
    case Setup::Missing:
        service = L"kestrix-not-installed";
        break;
    }

    const Win32::ServiceStatus status = Win32::queryServiceStatus(service);
    EXPECT_EQ(status.state, c.state);
    EXPECT_EQ(Win32::queryServiceState(service), c.state);
    EXPECT_EQ(daemonActionFor(status.state), c.action);
    if (c.hasProcess) {
        EXPECT_NE(status.processId, 0u);
        EXPECT_EQ(status.processId, ServiceControl::recordedProcessId());
        // The pipe check trusts exactly that process.
        EXPECT_EQ(Win32::currentTrustPolicy().serviceProcessId, status.processId);
    } else {
        EXPECT_EQ(status.processId, 0u);
        if (c.setup != Setup::Missing) {
            EXPECT_EQ(Win32::currentTrustPolicy().serviceProcessId, 0u);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    States, ServiceQuery,
    testing::Values(QueryCase{"stopped", Setup::Stopped, ServiceState::Stopped,
                              DaemonAction::CheckExecutable, false},
                    QueryCase{"start_pending", Setup::StartPending, ServiceState::StartPending,
                              DaemonAction::StartNothing, true},
                    QueryCase{"running", Setup::Running, ServiceState::Running,
                              DaemonAction::StartNothing, true},
                    QueryCase{"stop_pending", Setup::StopPending, ServiceState::StopPending,
                              DaemonAction::CheckExecutable, true},
                    QueryCase{"missing", Setup::Missing, ServiceState::QueryFailed,
                              DaemonAction::CheckExecutable, false}),
    [](const testing::TestParamInfo<QueryCase> &info) { return std::string(info.param.name); });

} // namespace
