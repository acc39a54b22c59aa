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
    const std::string received = readToEnd(pipe);
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
