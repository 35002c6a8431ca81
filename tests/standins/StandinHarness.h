#pragma once

#include "Process.h"

#include <plist/plist.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace standins::testing {

// Prefix of every temporary directory and image the stand-in tests make, so that leftovers of a
// crashed run can be recognised and removed.
inline constexpr const char *tempPrefix = "quorvel-standins-test-";

// Runs build/libexec/quorvel-ntfs-mount/<tool> with `args`; `environment` as for runProgram.
ProgramResult runStandin(const std::string &tool, const std::vector<std::string> &args,
                         const std::vector<std::string> &environment = {});

// Runs a shell line (for test set-up); the result's exit code tells whether it worked.
ProgramResult sh(const std::string &line);

// Lines of `text` without their line feeds.
std::vector<std::string> lines(const std::string &text);

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

// A parsed property list (libplist, the parser the application uses) with typed look-ups that
// answer nothing for a missing key or a value of another type.
class Plist {
public:
    static std::optional<Plist> parse(const std::string &xml);
    plist_t root() const { return m_root.get(); }

    static std::optional<std::string> string(plist_t dict, const char *key);
    static std::optional<std::int64_t> integer(plist_t dict, const char *key);
    static std::optional<bool> boolean(plist_t dict, const char *key);
    static std::optional<std::vector<plist_t>> array(plist_t dict, const char *key);
    static std::vector<std::string> keys(plist_t dict);

private:
    std::shared_ptr<void> m_root;
};

} // namespace standins::testing
