#pragma once

#include <optional>
#include <string>

// Reading the file:// URLs that a clipboard holds for copied files.
namespace brindle::FileURL {

struct Location {
    std::string path;   // percent-decoded absolute path
    bool local = true;  // false for a file on another host (file://host/...)
};

// The file a URL points to, or nothing when the URL has another scheme
// (http, mailto, ...). Throws Morsels::Problem when text is not a URL at all
// or is a file URL that cannot name a file (no absolute path, a NUL byte).
std::optional<Location> parse(const std::string& text);

}  // namespace brindle::FileURL
