#pragma once

#include <string>

namespace WinTest {

// Who owns the pipe servePipeOnce() makes.
inline constexpr wchar_t kOwnerCreator[] = L"";  // this process's user, as Windows does it
inline constexpr wchar_t kOwnerNone[] = L"none"; // no owner at all, as Wine does it
// Anything else: that SID, as text.

// Serves one connection on a new named pipe owned as asked. Writes
// "<report>.ready" once the pipe exists, "<report>.connected" once a client
// has opened it and, after the client has gone, the report: every byte the
// client wrote.
void servePipeOnce(const std::wstring &pipeName, const std::wstring &report,
                   const std::wstring &owner = kOwnerCreator);

// The bytes servePipeOnce received; false while there is no report yet.
bool readPipeReport(const std::wstring &report, std::string &received);

} // namespace WinTest
