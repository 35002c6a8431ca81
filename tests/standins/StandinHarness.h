#pragma once

#include "Process.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace standins::testing {

// Prefix of every temporary directory and image the stand-in tests make, followed by the id of
// the process that made it, so that leftovers of a crashed run can be told from a running one's.
inline constexpr const char *tempPrefix = "quorvel-standins-test-";

// True for a path under /tmp/<tempPrefix><pid>-… whose process is gone (or that has no pid).
bool isLeftover(const std::string &path);

// Runs build/libexec/quorvel-ntfs-mount/<tool> with `args`; `environment` as for runProgram.
ProgramResult runStandin(const std::string &tool, const std::vector<std::string> &args,
                         const std::vector<std::string> &environment = {});

// Runs a shell line (for test set-up); the result's exit code tells whether it worked.
ProgramResult sh(const std::string &line);

// Runs a set-up step; throws, with the step's messages, when it does not work (the test stops).
void step(const std::string &line);

// Attaches `image` to a free loop device (a few tries: other processes take loop devices too),
// adds its partitions and checks that /dev holds a block device for each of the first
// `partitions`; "loopN". Throws when any of that fails, so that nothing writes into /dev.
std::string attachLoop(const std::string &image, int partitions = 0);

using PathTest = std::function<bool(const std::string &)>;

// The loop devices ("/dev/loopN") whose image passes `test`.
std::vector<std::string> loopsWhere(const PathTest &test);

// Mount points, in mount order (as /proc/self/mountinfo lists them, escapes decoded), of the
// mounts whose point passes `test`, or whose source is `device` ("/dev/loop3p1").
std::vector<std::string> mountPointsWhere(const PathTest &test);
std::vector<std::string> mountPointsOf(const std::string &device);

// Unmounts (innermost first; lazily when busy, so that clean-up never stops half-way) what is
// mounted at paths passing `test`, detaches the loop devices whose image passes it (unmounting
// them and their partitions wherever they are mounted first), and deletes the entries of /tmp
// that pass it.
void removeWhere(const PathTest &test);

// A test for paths at or below `prefix`.
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

// A property list parsed with libplist (the parser the application uses) and written on one
// line: {Key=value, ...} and [item, ...], keys in document order, strings as they are, integers
// signed; nothing when it does not parse.
std::optional<std::string> plistText(const std::string &xml);

// The items of the array under `key` in the top-level dictionary, each written as above.
std::vector<std::string> plistItems(const std::string &xml, const char *key);

// A disk or partition of diskutil's listing, written as above.
std::string diskEntry(const std::string &id, std::int64_t size, const std::string &content,
                      const std::vector<std::string> &partitions = {});

} // namespace standins::testing
