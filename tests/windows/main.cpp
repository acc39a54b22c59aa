// The Windows test program. Run with no arguments (or GoogleTest's) it runs
// the tests, and exits 77 when one of them had to be skipped; two modes make
// it a process the tests start:
//   --start-daemon <path>        start the daemon as the interface does, then exit
//   --single-instance-name <file> write this process's single-instance name

#include "app/win32session.h"
#include "daemon/win32process.h"
#include "winsupport.h"

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char **argv)
{
    const std::vector<std::wstring> arguments = WinTest::commandArguments();
    if (arguments.size() == 3 && arguments[1] == L"--start-daemon")
        return Win32::startDaemon(arguments[2]) ? 0 : 1;
    if (arguments.size() == 3 && arguments[1] == L"--single-instance-name")
        return WinTest::writeFileAtomically(arguments[2],
                                            WinTest::narrow(Win32::singleInstanceName()))
                   ? 0
                   : 1;

    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    const testing::UnitTest &run = *testing::UnitTest::GetInstance();
    // A filter that matches nothing is a mistake, not a pass.
    if (run.test_to_run_count() == 0) {
        std::fprintf(stderr, "no test matched\n");
        return 1;
    }
    // CTest's skip code whenever a test could not run here: never a pass.
    if (result == 0 && run.skipped_test_count() > 0)
        return 77;
    return result;
}
