#pragma once

// What the test service program and the tests that drive it share.

namespace TestService {

// Arguments given to the service when it is started (StartServiceW):
inline constexpr wchar_t kHoldStart[] = L"hold-start"; // stay start pending until released
inline constexpr wchar_t kHoldStop[] = L"hold-stop";   // stay stop pending until released
inline constexpr wchar_t kServePipe[] = L"serve-pipe"; // + pipe name + report: serve one client

// Set by a test to let a held service move on.
inline constexpr wchar_t kReleaseEvent[] = L"Global\\kestrix-test-service-release";

// Written beside the service program by each start: its process id.
inline constexpr wchar_t kPidFile[] = L"kestrix-test-service.pid";

} // namespace TestService
