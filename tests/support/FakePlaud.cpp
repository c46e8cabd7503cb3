#include "support/FakePlaud.h"

#include <cstdio>
#include <filesystem>

#include "common/Text.h"

namespace brindle::test {

namespace {

const char* kScript = R"(#!/bin/sh
data="$(dirname "$0")/data"
echo "$*" >> "$data/calls.log"
case "$1" in
  me)
    [ -f "$data/signed-in" ] || { echo "Not logged in" >&2; exit 1; }
    echo "Signed in as someone@example.com" ;;
  recent)
    if [ -f "$data/recent.fail" ]; then cat "$data/recent.fail" >&2; exit 1; fi
    cat "$data/recent.txt" ;;
  files)
    [ -f "$data/page-$3.txt" ] || { echo "page out of range" >&2; exit 1; }
    cat "$data/page-$3.txt" ;;
  file|summary|transcript)
    [ -f "$data/$1-$2.hook" ] && sh "$data/$1-$2.hook"
    [ -s "$data/$1-$2.txt" ] || { echo "not ready" >&2; exit 1; }
    cat "$data/$1-$2.txt" ;;
  *)
    echo "unknown command $1" >&2; exit 2 ;;
esac
)";

}  // namespace

FakePlaud::FakePlaud() {
    writeFile(dir_ / "plaud", kScript);
    std::filesystem::permissions(dir_ / "plaud", std::filesystem::perms::owner_all);
    writeFile(dir_ / "data/signed-in", "");
    writeFile(dir_ / "data/recent.txt", "No recordings in this period\n");
}

void FakePlaud::signOut() {
    std::filesystem::remove(dir_ / "data/signed-in");
}

void FakePlaud::setRecent(const std::string& text) {
    writeFile(dir_ / "data/recent.txt", text);
}

void FakePlaud::failRecent(const std::string& err) {
    writeFile(dir_ / "data/recent.fail", err);
}

void FakePlaud::setPage(int page, const std::string& text) {
    writeFile(dir_ / ("data/page-" + std::to_string(page) + ".txt"), text);
}

void FakePlaud::addRecording(const std::string& id, const std::string& details, const std::string& summary,
                             const std::string& transcript) {
    writeFile(dir_ / ("data/file-" + id + ".txt"), details);
    writeFile(dir_ / ("data/summary-" + id + ".txt"), summary);
    writeFile(dir_ / ("data/transcript-" + id + ".txt"), transcript);
}

void FakePlaud::beforeCommand(const std::string& command, const std::string& id, const std::string& shell) {
    writeFile(dir_ / ("data/" + command + "-" + id + ".hook"), shell + "\n");
}

std::vector<std::string> FakePlaud::calls() const {
    std::vector<std::string> lines;
    for (auto& line : Text::split(readFile(dir_ / "data/calls.log"), '\n'))
        if (!line.empty()) lines.push_back(line);
    return lines;
}

std::string hexID(int n) {
    char text[40];
    std::snprintf(text, sizeof text, "%032x", n);
    return text;
}

}  // namespace brindle::test
