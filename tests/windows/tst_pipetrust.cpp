// The daemon's identity checked on a real pipe served by another process:
// the same pure decision as on Unix, fed by the system's answers.

#include "ipc/win32pipe.h"
#include "pipeserving.h"
#include "servicecontrol.h"
#include "testservice.h"
#include "winsupport.h"

#include <gtest/gtest.h>

namespace {

using namespace WinTest;

const char kHello[] = "{\"cmd\":\"hello\"}\n";

enum class Server
{
    OtherProcess, // a process of the current user
    Busy,         // the same, its one instance taken by another client
    Service,      // the running kestrix service itself
    None,
};

enum class Policy
{
    Current,         // what the interface uses: own user, LocalSystem, the service
    LocalSystemOnly, // as if we ran as another user and no service were up
    ServiceOnly,     // only the running service's process
};

struct TrustCase
{
    const char *name;
    Server server;
    Policy policy;
    bool serviceRunning;
    Win32::PipeOpen result;
    // The pipe's owner (another process's pipe only): its creator's user
    // unless named.
    const wchar_t *owner = kOwnerCreator;
};

TrustPolicy policyFor(Policy kind)
{
    TrustPolicy policy = Win32::currentTrustPolicy();
    switch (kind) {
    case Policy::Current:
        break;
    case Policy::LocalSystemOnly:
        policy.ownUser.clear();
        policy.serviceProcessId = 0;
        break;
    case Policy::ServiceOnly:
        policy.ownUser.clear();
        policy.systemUser.clear();
        break;
    }
    return policy;
}

// Writes through the verified handle as the client would; true when all went.
bool writeAll(HANDLE pipe, const std::string &bytes)
{
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    bool ok = WriteFile(pipe, bytes.data(), DWORD(bytes.size()), &written, &overlapped) ||
              GetLastError() == ERROR_IO_PENDING;
    ok = ok && GetOverlappedResult(pipe, &overlapped, &written, TRUE) && written == bytes.size();
    CloseHandle(overlapped.hEvent);
    return ok;
}

class PipeTrust : public testing::TestWithParam<TrustCase>
{
protected:
    void SetUp() override { ASSERT_TRUE(ServiceControl::stopAndWait()); }
    void TearDown() override
    {
        if (m_server) {
            TerminateProcess(m_server, 1);
            CloseHandle(m_server);
        }
        EXPECT_TRUE(ServiceControl::stopAndWait());
    }

    HANDLE m_server = nullptr;
};

TEST_P(PipeTrust, DecidesBeforeAnyByte)
{
    const TrustCase &c = GetParam();
    ScratchFolder folder(scratchPath(L"pipe-" + widen(c.name)));
    ASSERT_TRUE(folder.valid());
    const std::wstring pipeName = L"\\\\.\\pipe\\kestrix-test-" + widen(c.name);
    const std::wstring report = joined(folder.path(), L"server.txt");

    DWORD serverProcess = 0;
    if (c.server == Server::Service) {
        ASSERT_TRUE(ServiceControl::start({TestService::kServePipe, pipeName, report}));
        ASSERT_TRUE(ServiceControl::waitForState(SERVICE_RUNNING));
        serverProcess = ServiceControl::recordedProcessId();
    } else if (c.serviceRunning) {
        ASSERT_TRUE(ServiceControl::start());
        ASSERT_TRUE(ServiceControl::waitForState(SERVICE_RUNNING));
    }
    if (c.server == Server::OtherProcess || c.server == Server::Busy) {
        m_server =
            startProcess(quoted(joined(programFolder(), L"kestrix-test-pipeserver.exe")) + L" " +
                             quoted(pipeName) + L" " + quoted(report) + L" " + quoted(c.owner),
                         0, &serverProcess);
        ASSERT_NE(m_server, nullptr);
    }
    if (c.server != Server::None) {
        ASSERT_TRUE(waitUntil([&] { return fileExists(report + L".ready"); }));
    }

    const TrustPolicy policy = policyFor(c.policy);
    if (c.policy == Policy::ServiceOnly) {
        ASSERT_EQ(policy.serviceProcessId, ServiceControl::recordedProcessId());
    }
    HANDLE other = INVALID_HANDLE_VALUE;
    if (c.server == Server::Busy) {
        other = CreateFileW(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(other, INVALID_HANDLE_VALUE);
    }
    const Win32::VerifiedPipe pipe =
        Win32::openVerifiedPipe(pipeName, [&] { return policyFor(c.policy); });
    if (other != INVALID_HANDLE_VALUE)
        CloseHandle(other);
    ASSERT_EQ(pipe.result, c.result) << "error " << pipe.error;

    if (c.server == Server::None || c.server == Server::Busy) {
        // Nobody to ask: nothing learnt, nothing kept.
        EXPECT_EQ(pipe.handle, -1);
        EXPECT_FALSE(pipe.peer.known);
        EXPECT_EQ(pipe.error,
                  unsigned(c.server == Server::None ? ERROR_FILE_NOT_FOUND : ERROR_SEM_TIMEOUT));
        return;
    }
    // What the system told us of the server.
    EXPECT_TRUE(pipe.peer.known);
    EXPECT_EQ(pipe.peer.processId, serverProcess);
    EXPECT_EQ(pipe.peer.user, Win32::currentTrustPolicy().ownUser);
    EXPECT_FALSE(pipe.peer.user.empty());
    const std::wstring owner(c.owner);
    EXPECT_EQ(pipe.owner, owner == kOwnerNone      ? std::string()
                          : owner == kOwnerCreator ? Win32::currentTrustPolicy().ownUser
                                                   : narrow(owner));

    std::string sent;
    if (c.result == Win32::PipeOpen::Opened) {
        ASSERT_NE(pipe.handle, -1);
        const HANDLE handle = reinterpret_cast<HANDLE>(pipe.handle);
        EXPECT_TRUE(writeAll(handle, kHello));
        CloseHandle(handle);
        sent = kHello;
    } else {
        EXPECT_EQ(pipe.handle, -1);
    }

    // The server saw the connection end with exactly what was sent: nothing
    // at all when refused.
    std::string received;
    ASSERT_TRUE(waitUntil([&] { return readPipeReport(report, received); }));
    EXPECT_EQ(received, sent);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PipeTrust,
    testing::Values(
        TrustCase{"own_user_accepted", Server::OtherProcess, Policy::Current, false,
                  Win32::PipeOpen::Opened},
        TrustCase{"local_system_only_refuses_a_user", Server::OtherProcess, Policy::LocalSystemOnly,
                  false, Win32::PipeOpen::Refused},
        TrustCase{"service_only_refuses_another_process", Server::OtherProcess, Policy::ServiceOnly,
                  true, Win32::PipeOpen::Refused},
        TrustCase{"service_only_accepts_the_service", Server::Service, Policy::ServiceOnly, true,
                  Win32::PipeOpen::Opened},
        TrustCase{"no_server", Server::None, Policy::Current, false, Win32::PipeOpen::Failed},
        // One short wait for a free instance, then a failed attempt.
        TrustCase{"busy", Server::Busy, Policy::Current, false, Win32::PipeOpen::Failed},
        // A server of ours with a pipe that someone else created: it may
        // have been handed over, and the creator's process id since reused.
        TrustCase{"owned_by_another_user_refused", Server::OtherProcess, Policy::Current, false,
                  Win32::PipeOpen::Refused, L"S-1-5-21-0-0-0-1001"},
        TrustCase{"owned_by_the_users_group_refused", Server::OtherProcess, Policy::Current, false,
                  Win32::PipeOpen::Refused, L"S-1-5-32-545"},
        // Wine gives a pipe no owner unless asked; Windows always does.
        TrustCase{"without_owner_refused", Server::OtherProcess, Policy::Current, false,
                  Win32::PipeOpen::Refused, kOwnerNone},
        TrustCase{"owned_by_the_system_accepted", Server::OtherProcess, Policy::Current, false,
                  Win32::PipeOpen::Opened, L"S-1-5-18"},
        TrustCase{"owned_by_the_administrators_accepted", Server::OtherProcess, Policy::Current,
                  false, Win32::PipeOpen::Opened, L"S-1-5-32-544"}),
    [](const testing::TestParamInfo<TrustCase> &info) { return std::string(info.param.name); });

// The service's process id is asked for with the pipe already open: one
// taken before could belong to a service that has since gone, its id now
// another process's.
TEST(PipeTrustOrder, PolicyIsTakenWithThePipeOpen)
{
    ScratchFolder folder(scratchPath(L"pipe-order"));
    ASSERT_TRUE(folder.valid());
    const std::wstring pipeName = L"\\\\.\\pipe\\kestrix-test-order";
    const std::wstring report = joined(folder.path(), L"server.txt");
    DWORD serverProcess = 0;
    HANDLE server = startProcess(quoted(joined(programFolder(), L"kestrix-test-pipeserver.exe")) +
                                     L" " + quoted(pipeName) + L" " + quoted(report),
                                 0, &serverProcess);
    ASSERT_NE(server, nullptr);
    ASSERT_TRUE(waitUntil([&] { return fileExists(report + L".ready"); }));

    int asked = 0;
    bool pipeWasOpen = false;
    const Win32::VerifiedPipe pipe = Win32::openVerifiedPipe(pipeName, [&] {
        ++asked;
        pipeWasOpen = waitUntil([&] { return fileExists(report + L".connected"); }, 10000);
        return Win32::currentTrustPolicy();
    });
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(pipeWasOpen) << "the policy was taken before the pipe was opened";
    EXPECT_EQ(pipe.result, Win32::PipeOpen::Opened);
    Win32::closePipe(pipe.handle);

    std::string received;
    EXPECT_TRUE(waitUntil([&] { return readPipeReport(report, received); }));
    EXPECT_EQ(received, "");
    TerminateProcess(server, 1);
    CloseHandle(server);
}

} // namespace
