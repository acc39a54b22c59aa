#pragma once

#include <string>

namespace WinTest {

// Serves one connection on a new named pipe. Writes "<report>.ready" once
// the pipe exists and, after the client has gone, the report: every byte
// the client wrote.
void servePipeOnce(const std::wstring &pipeName, const std::wstring &report);

// The bytes servePipeOnce received; false while there is no report yet.
bool readPipeReport(const std::wstring &report, std::string &received);

} // namespace WinTest
