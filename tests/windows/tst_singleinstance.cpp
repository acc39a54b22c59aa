// The single-instance name carries the session of the process that asks.

#include "app/win32session.h"
#include "winsupport.h"

#include <gtest/gtest.h>

#include <winternl.h>

typedef NTSTATUS(NTAPI *QueryInformationProcess)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);

namespace {

using namespace WinTest;

// The session as the process block records it, apart from the call the
// unit makes.
unsigned long sessionFromProcessBlock()
{
    const auto query = reinterpret_cast<QueryInformationProcess>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic = {};
    if (!query ||
        query(GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0)
        return ~0ul;
    return basic.PebBaseAddress->SessionId;
}

TEST(SingleInstance, NameCarriesThisSession)
{
    EXPECT_EQ(Win32::singleInstanceName(),
              L"kestrix-ui-single-" + std::to_wstring(sessionFromProcessBlock()));
}

TEST(SingleInstance, AnotherProcessOfTheSessionMeetsUs)
{
    ScratchFolder folder(scratchPath(L"single-instance"));
    ASSERT_TRUE(folder.valid());
    const std::wstring file = joined(folder.path(), L"name.txt");
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    ASSERT_EQ(runProcess(quoted(self) + L" --single-instance-name " + quoted(file)), 0);
    EXPECT_EQ(widen(readFile(file)), Win32::singleInstanceName());
}

} // namespace
