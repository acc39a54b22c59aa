// kestrix-test-pipeserver <pipe name> <report>: a pipe server in a process of
// its own, for the identity check.

#include "pipeserving.h"
#include "winsupport.h"

int main()
{
    const std::vector<std::wstring> arguments = WinTest::commandArguments();
    if (arguments.size() != 3)
        return 2;
    WinTest::servePipeOnce(arguments[1], arguments[2]);
    return 0;
}
