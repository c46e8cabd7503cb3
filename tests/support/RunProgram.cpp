#include "support/RunProgram.h"

#include "common/Process.h"

#include <gtest/gtest.h>

namespace brindle::test {

ProgramResult runProgram(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                         double timeout) {
    Process::Options options;
    options.env = env;
    options.timeout = timeout;
    Process::Outcome outcome = Process::run(argv.at(0), argv, options);
    return {outcome.status, outcome.out, outcome.err};
}

ProgramResult runBrindle(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                         double timeout) {
    std::vector<std::string> argv{BRINDLE_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv, env, timeout);
}

std::string git(const std::string& folder, const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/git", "-C", folder};
    argv.insert(argv.end(), args.begin(), args.end());
    ProgramResult result = runProgram(argv, {{"GIT_TERMINAL_PROMPT", "0"}}, 120);
    EXPECT_EQ(result.status, 0) << "git " << (args.empty() ? "" : args[0]) << ": " << result.err;
    return result.out;
}

}  // namespace brindle::test
