#include "pipeserving.h"

#include "winsupport.h"

namespace WinTest {
void servePipeOnce(const std::wstring &pipeName, const std::wstring &report)
{
    HANDLE pipe = CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096,
                                   0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE)
        return;
    writeFileAtomically(report + L".ready", "");
    if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) {
        CloseHandle(pipe);
        return;
    }
    std::string received;
    char buffer[256];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0)
        received.append(buffer, got);
    CloseHandle(pipe);
    writeFileAtomically(report, received);
}

bool readPipeReport(const std::wstring &report, std::string &received)
{
    if (!fileExists(report))
        return false;
    received = readFile(report);
    return true;
}

} // namespace WinTest
