#include "support/FakePlaud.h"

#include <cstdio>

#include "common/Text.h"

namespace brindle::test {

FakePlaud::FakePlaud() {
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

std::vector<std::string> FakePlaud::calls() const {
    auto lines = Text::split(readFile(dir_ / "data/calls.log"), '\n');
    return std::erase(lines, ""), lines;
}

std::string hexID(int n) {
    char text[40];
    std::snprintf(text, sizeof text, "%032x", n);
    return text;
}

}  // namespace brindle::test
