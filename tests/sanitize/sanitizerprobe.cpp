#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Commits the fault named on its command line. Built like the rest of the
// sanitizer build, it must be stopped with a report before it says "survived".
int main(int argc, char *argv[])
{
    if (argc < 2)
        return 2;
    if (std::strcmp(argv[1], "heap-overflow") == 0) {
        char *buffer = static_cast<char *>(std::malloc(8));
        const int past = 8 + argc - 2; // 8, out of the compiler's sight
        buffer[past] = 'x';
        std::printf("survived %d\n", buffer[past]);
        std::free(buffer);
    } else if (std::strcmp(argv[1], "signed-overflow") == 0) {
        volatile int big = INT_MAX;
        const int sum = big + argc;
        std::printf("survived %d\n", sum);
    } else {
        return 2;
    }
    return 0;
}
