#pragma once

#include <map>
#include <string>
#include <vector>

namespace brindle::test {

// The built brindle program running in the background with args, the test
// process's environment with env laid over it and its output thrown away,
// so that a test can kill it at a moment of its choosing. The destructor
// kills and reaps it when it still runs.
class BackgroundProgram {
public:
    BackgroundProgram(const std::vector<std::string>& args, const std::map<std::string, std::string>& env);
    ~BackgroundProgram();
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;

    // Whether it has ended (reaping it when it has).
    bool finished();
    // Sends SIGKILL and reaps it.
    void kill();
    // Waits for its end; the exit status, or 128 + the signal.
    int wait();

private:
    int pid_ = -1;
    int status_ = -1;
};

}  // namespace brindle::test
