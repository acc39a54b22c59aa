// A tiny service for the service manager of the Wine prefix, registered as
// "kestrix" (sc create) by the test set-up. It runs until stopped; its start
// arguments (testservice.h) hold it in a pending state or have it serve a
// pipe, so that the tests can see every state the interface reacts to.

#include "testservice.h"
#include "pipeserving.h"
#include "winsupport.h"

#include <string>
#include <vector>

namespace {

SERVICE_STATUS_HANDLE g_status = nullptr;
HANDLE g_stopRequested = nullptr;

void report(DWORD state)
{
    SERVICE_STATUS status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    status.dwWaitHint = state == SERVICE_RUNNING || state == SERVICE_STOPPED ? 0 : 30000;
    status.dwCheckPoint = status.dwWaitHint ? 1 : 0;
    SetServiceStatus(g_status, &status);
}

DWORD WINAPI control(DWORD code, DWORD, void *, void *)
{
    if (code == SERVICE_CONTROL_STOP) {
        SetEvent(g_stopRequested);
        return NO_ERROR;
    }
    return code == SERVICE_CONTROL_INTERROGATE ? NO_ERROR : ERROR_CALL_NOT_IMPLEMENTED;
}

void waitForRelease()
{
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, TestService::kReleaseEvent);
    WaitForSingleObject(release, 60000);
    ResetEvent(release);
    CloseHandle(release);
}

struct PipeJob
{
    std::wstring name;
    std::wstring report;
};

DWORD WINAPI servePipe(void *parameter)
{
    const PipeJob *job = static_cast<PipeJob *>(parameter);
    WinTest::servePipeOnce(job->name, job->report);
    return 0;
}

void WINAPI serviceMain(DWORD argc, wchar_t **argv)
{
    const std::vector<std::wstring> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    auto given = [&](const wchar_t *option) {
        for (const std::wstring &argument : arguments)
            if (argument == option)
                return true;
        return false;
    };

    g_stopRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_status = RegisterServiceCtrlHandlerExW(L"kestrix", control, nullptr);
    if (!g_status)
        return;
    WinTest::writeFileAtomically(WinTest::joined(WinTest::programFolder(), TestService::kPidFile),
                                 std::to_string(GetCurrentProcessId()));

    report(SERVICE_START_PENDING);
    if (given(TestService::kHoldStart))
        waitForRelease();

    static PipeJob job;
    for (size_t i = 0; i + 2 < arguments.size(); ++i) {
        if (arguments[i] == TestService::kServePipe) {
            job = {arguments[i + 1], arguments[i + 2]};
            CloseHandle(CreateThread(nullptr, 0, servePipe, &job, 0, nullptr));
        }
    }

    report(SERVICE_RUNNING);
    WaitForSingleObject(g_stopRequested, INFINITE);
    if (given(TestService::kHoldStop)) {
        report(SERVICE_STOP_PENDING);
        waitForRelease();
    }
    report(SERVICE_STOPPED);
}

} // namespace

int main()
{
    wchar_t name[] = L"kestrix";
    SERVICE_TABLE_ENTRYW table[] = {{name, serviceMain}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}
