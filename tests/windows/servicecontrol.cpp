#include "servicecontrol.h"

#include "testservice.h"
#include "winsupport.h"

namespace ServiceControl {
namespace {

// Opens the service with the rights a test needs; closed by the caller.
struct Handles
{
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;
    Handles()
    {
        manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        if (manager)
            service =
                OpenServiceW(manager, kName, SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    }
    ~Handles()
    {
        if (service)
            CloseServiceHandle(service);
        if (manager)
            CloseServiceHandle(manager);
    }
};

HANDLE releaseEvent()
{
    // Kept open for the whole run, so a release set before the service
    // waits for it is not lost with the last handle.
    static HANDLE event = CreateEventW(nullptr, TRUE, FALSE, TestService::kReleaseEvent);
    return event;
}

} // namespace

bool start(const std::vector<std::wstring> &arguments)
{
    releaseEvent();
    DeleteFileW(WinTest::joined(WinTest::programFolder(), TestService::kPidFile).c_str());
    Handles handles;
    std::vector<const wchar_t *> list;
    for (const std::wstring &argument : arguments)
        list.push_back(argument.c_str());
    return handles.service &&
           StartServiceW(handles.service, DWORD(list.size()), list.empty() ? nullptr : list.data());
}

bool requestStop()
{
    Handles handles;
    SERVICE_STATUS status;
    return handles.service && ControlService(handles.service, SERVICE_CONTROL_STOP, &status);
}

DWORD currentState()
{
    Handles handles;
    SERVICE_STATUS status = {};
    if (!handles.service || !QueryServiceStatus(handles.service, &status))
        return 0;
    return status.dwCurrentState;
}

bool waitForState(DWORD state)
{
    return WinTest::waitUntil([&] { return currentState() == state; });
}

void release()
{
    SetEvent(releaseEvent());
}

bool stopAndWait()
{
    const bool stopped = WinTest::waitUntil([] {
        const DWORD state = currentState();
        if (state == SERVICE_STOPPED)
            return true;
        release(); // out of any held pending state
        if (state == SERVICE_RUNNING)
            requestStop();
        return false;
    });
    // A held start of the next test must wait again.
    ResetEvent(releaseEvent());
    return stopped;
}

DWORD recordedProcessId()
{
    const std::string text =
        WinTest::readFile(WinTest::joined(WinTest::programFolder(), TestService::kPidFile));
    return text.empty() ? 0 : DWORD(std::stoul(text));
}

std::wstring programPath()
{
    return WinTest::joined(WinTest::programFolder(), L"kestrix-test-service.exe");
}

} // namespace ServiceControl
