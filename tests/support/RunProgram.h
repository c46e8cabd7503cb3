#pragma once

#include <map>
#include <string>
#include <vector>

namespace brindle::test {

struct ProgramResult {
    int status = 0;
    std::string out;
    std::string err;
};

// Runs the built brindle program with args (not including the program name),
// the test process's environment with env laid over it. A time-out (seconds)
// guards against a hang.
ProgramResult runBrindle(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {},
                         double timeout = 300);

// Runs any program (argv[0] is its path) the same way.
ProgramResult runProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {},
                         double timeout = 300);

// Runs /usr/bin/git with args in folder; fails the test when git fails.
std::string git(const std::string& folder, const std::vector<std::string>& args);

}  // namespace brindle::test
