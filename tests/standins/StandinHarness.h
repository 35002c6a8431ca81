#pragma once

#include "Process.h"

#include <functional>
#include <string>
#include <vector>

namespace standins::testing {

// True for a path under /tmp made by a TempDir of a process that is gone (or that has no pid), so
// a crashed run's leftovers can be told from a running one's.
bool isLeftover(const std::string &path);

// Runs build/libexec/quorvel-ntfs-mount/<tool>, after the words of `before` (another user's
// setpriv, say); `environment` as for runProgram.
ProgramResult runStandin(const std::string &tool, const std::vector<std::string> &args,
                         const std::vector<std::string> &environment = {}, std::vector<std::string> before = {});

// A shell line for set-up; step throws with its messages when it fails, so the test stops.
ProgramResult sh(const std::string &line);
void step(const std::string &line);

// Attaches `image` to a free loop device (a few tries: other processes take them too) and checks
// that /dev holds its first `partitions` partitions; "loopN". Throws otherwise, so that nothing
// writes into /dev.
std::string attachLoop(const std::string &image, int partitions = 0);

using PathTest = std::function<bool(const std::string &)>;

// Loop devices ("/dev/loopN") whose image passes `test`; mount points, in mount order, whose
// point passes `test` or whose source is `device`.
std::vector<std::string> loopsWhere(const PathTest &test);
std::vector<std::string> mountPointsWhere(const PathTest &test);
std::vector<std::string> mountPointsOf(const std::string &device);

// Unmounts (innermost first, lazily when busy) what is mounted at paths passing `test`, detaches
// the loop devices whose image passes it (wherever their partitions are mounted), and deletes the
// entries of /tmp that pass it.
void removeWhere(const PathTest &test);
PathTest under(const std::string &prefix);

// A directory under /tmp, removed with everything in it when the guard goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return m_path; }
    std::string operator/(const std::string &name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

void writeFile(const std::string &path, const std::string &content);

} // namespace standins::testing
