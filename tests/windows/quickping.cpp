// A "ping" that returns at once, in place of Wine's in the System32 folder
// of the %SystemRoot% a test hands the script, so that the relaunch
// script's minute of one-second polls runs in moments without a byte of the
// script changed. Each call's arguments are noted in the file
// named by KESTRIX_TEST_PING_LOG.

#include "winsupport.h"

int main()
{
    const std::vector<std::wstring> arguments = WinTest::commandArguments();
    std::wstring line;
    for (size_t i = 1; i < arguments.size(); ++i)
        line += (i > 1 ? L" " : L"") + arguments[i];
    const std::wstring log = WinTest::environmentVariable(L"KESTRIX_TEST_PING_LOG");
    if (!log.empty())
        WinTest::appendLine(log, WinTest::narrow(line));
    Sleep(10);
    return 0;
}
