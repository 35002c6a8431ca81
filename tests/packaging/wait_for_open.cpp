// Waits until a file is opened (starting a program opens its executable) and says so.
//
//   wait_for_open SECONDS FILE
//
// Prints "watching" once the watch is set, so that a caller can start the program only then;
// exits 0 when FILE was opened, 1 when SECONDS passed first, 2 when FILE cannot be watched.
#include <sys/inotify.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s SECONDS FILE\n", argv[0]);
        return 2;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[1]));
    const int fd = inotify_init1(IN_CLOEXEC);
    if (fd < 0 || inotify_add_watch(fd, argv[2], IN_OPEN) < 0) {
        std::perror(argv[2]);
        return 2;
    }
    std::printf("watching\n");
    std::fflush(stdout);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return 1;
        pollfd wait{fd, POLLIN, 0};
        if (poll(&wait, 1, int(left.count())) > 0) {
            alignas(inotify_event) char events[4096];
            if (read(fd, events, sizeof events) > 0) {
                std::printf("opened %s\n", argv[2]);
                return 0;
            }
        }
    }
}
