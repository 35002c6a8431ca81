#pragma once

#include <string>
#include <vector>

namespace standins {

struct ProgramResult {
    int exitCode = -1; // -1 when the program could not be started or did not exit normally
    std::string standardOutput;
    std::string standardError; // or why the program could not be started
};

// Runs `argv` (argv[0] an absolute path, no shell) and waits for it to end. Standard input is
// inherited, so a password prompt on the terminal still works. `environment` entries
// ("NAME=value") are added to ours, replacing variables of the same name.
ProgramResult runProgram(const std::vector<std::string> &argv, const std::vector<std::string> &environment = {});

} // namespace standins
