#include "Process.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace standins {

namespace {

std::vector<std::string> mergedEnvironment(const std::vector<std::string> &extra)
{
    std::vector<std::string> merged;
    for (char **variable = environ; *variable; ++variable) {
        const std::string entry = *variable;
        const auto equals = entry.find('=');
        if (equals == std::string::npos) {
            merged.push_back(entry);
            continue;
        }
        const std::string name = entry.substr(0, equals + 1);
        bool replaced = false;
        for (const std::string &e : extra)
            replaced = replaced || e.rfind(name, 0) == 0;
        if (!replaced)
            merged.push_back(entry);
    }
    merged.insert(merged.end(), extra.begin(), extra.end());
    return merged;
}

std::vector<char *> pointers(const std::vector<std::string> &strings)
{
    std::vector<char *> result;
    for (const auto &s : strings)
        result.push_back(const_cast<char *>(s.c_str()));
    result.push_back(nullptr);
    return result;
}

} // namespace

ProgramResult runProgram(const std::vector<std::string> &argv, const std::vector<std::string> &environment)
{
    ProgramResult result;
    if (argv.empty())
        return result;
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        result.standardError = std::strerror(errno);
        return result;
    }
    if (::pipe2(err, O_CLOEXEC) != 0) {
        result.standardError = std::strerror(errno);
        ::close(out[0]);
        ::close(out[1]);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);

    const std::vector<std::string> env = mergedEnvironment(environment);
    auto args = pointers(argv);
    auto envp = pointers(env);
    pid_t pid = 0;
    const int spawnError = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    if (spawnError != 0) {
        ::close(out[0]);
        ::close(err[0]);
        result.standardError = argv[0] + ": " + std::strerror(spawnError);
        return result;
    }

    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string *sinks[2] = {&result.standardOutput, &result.standardError};
    int open = 2;
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[4096];
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd &fd : fds)
        if (fd.fd >= 0)
            ::close(fd.fd);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    return result;
}

} // namespace standins
