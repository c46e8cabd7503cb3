#pragma once

#include <cstdio>
#include <vector>

#include "common/Text.h"
#include "support/TempDir.h"

namespace brindle::test {

// A stand-in `plaud` program: a shell script answering from files a test
// writes and noting each call in calls.log. Signed in unless told otherwise.
class FakePlaud {
public:
    FakePlaud() {
        writeFile(dir_ / "plaud", R"(#!/bin/sh
data="$(dirname "$0")/data"
echo "$*" >> "$data/calls.log"
case "$1" in
  me) [ -f "$data/signed-in" ] || { echo "Not logged in" >&2; exit 1; }; echo "Signed in as someone@example.com" ;;
  recent) if [ -f "$data/recent.fail" ]; then cat "$data/recent.fail" >&2; exit 1; fi; cat "$data/recent.txt" ;;
  files) [ -f "$data/page-$3.txt" ] || { echo "page out of range" >&2; exit 1; }; cat "$data/page-$3.txt" ;;
  file|summary|transcript) [ -f "$data/$1-$2.hook" ] && sh "$data/$1-$2.hook"
    [ -s "$data/$1-$2.txt" ] || { echo "not ready" >&2; exit 1; }; cat "$data/$1-$2.txt" ;;
  *) echo "unknown command $1" >&2; exit 2 ;;
esac
)");
        std::filesystem::permissions(dir_ / "plaud", std::filesystem::perms::owner_all);
        data("signed-in", "");
        setRecent("No recordings in this period\n");
    }
    std::string path() const { return (dir_ / "plaud").string(); }
    void signOut() { std::filesystem::remove(dir_ / "data/signed-in"); }
    void setRecent(const std::string& text) { data("recent.txt", text); }  // "plaud recent" prints text
    void failRecent(const std::string& err) { data("recent.fail", err); }  // ... or fails with err
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
    std::vector<std::string> calls() const {  // each call's arguments, in order
        auto lines = Text::split(readFile(dir_ / "data/calls.log"), '\n');
        return std::erase(lines, ""), lines;
    }

private:
    void data(const std::string& name, const std::string& content) { writeFile(dir_ / "data" / name, content); }
    TempDir dir_;
};

// 32 hexadecimal digits made from a small number, e.g. hexID(1).
inline std::string hexID(int n) {
    char text[40];
    std::snprintf(text, sizeof text, "%032x", n);
    return text;
}

}  // namespace brindle::test
