// kestrix-test-pipeserver <pipe name> <report> [<owner>]: a pipe server in a
// process of its own, for the identity check; the owner as servePipeOnce()
// takes it (this process's user when not given).

#include "pipeserving.h"
#include "winsupport.h"

int main()
{
    const std::vector<std::wstring> arguments = WinTest::commandArguments();
    if (arguments.size() != 3 && arguments.size() != 4)
        return 2;
    WinTest::servePipeOnce(arguments[1], arguments[2],
                           arguments.size() == 4 ? arguments[3] : WinTest::kOwnerCreator);
    return 0;
}
