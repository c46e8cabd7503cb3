#pragma once

#include <vector>

#include "support/TempDir.h"

namespace brindle::test {

// A stand-in `plaud` program: a shell script answering from files a test
// writes and noting each call in calls.log. Signed in unless told otherwise.
class FakePlaud {
public:
    FakePlaud();
    std::string path() const { return (dir_ / "plaud").string(); }
    void signOut() { std::filesystem::remove(dir_ / "data/signed-in"); }
    void setRecent(const std::string& text) { data("recent.txt", text); }    // "plaud recent" prints text
    void failRecent(const std::string& err) { data("recent.fail", err); }    // ... or fails with err
    void setPage(int page, const std::string& text) { data("page-" + std::to_string(page) + ".txt", text); }
    // "plaud file|summary|transcript ID" print these, and fail when empty (still processing).
    void addRecording(const std::string& id, const std::string& details, const std::string& summary,
                      const std::string& transcript) {
        data("file-" + id + ".txt", details);
        data("summary-" + id + ".txt", summary);
        data("transcript-" + id + ".txt", transcript);
    }
    // A shell command run just before "plaud COMMAND ID" answers.
    void beforeCommand(const std::string& command, const std::string& id, const std::string& shell) {
        data(command + "-" + id + ".hook", shell + "\n");
    }
    std::vector<std::string> calls() const;  // each call's arguments, in order

private:
    void data(const std::string& name, const std::string& content) { writeFile(dir_ / "data" / name, content); }
    TempDir dir_;
};

// 32 hexadecimal digits made from a small number, e.g. hexID(1).
std::string hexID(int n);

}  // namespace brindle::test
