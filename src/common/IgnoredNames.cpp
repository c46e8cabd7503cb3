#include "common/IgnoredNames.h"

#include <fnmatch.h>

#include <iterator>
#include <string>

namespace brindle::IgnoredNames {

namespace {

// Plain arrays, not containers: they must be usable before static
// initialisation has reached this file (a test harness syncs from a static
// initialiser).
constexpr const char* kLittered[] = {
    ".DS_Store",
    "._*",
    ".localized",
    "Icon\r\r",
    ".Trashes",
    ".fseventsd",
    ".Spotlight-V100",
    ".TemporaryItems",
    "*.icloud",
    "~$*",
    ".~lock.*#",
    // Linux editors and desktops
    "*.swp",
    "*~",
    ".goutputstream-*",
    ".directory",
    ".#*",
    ".nfs*",
    // a volume's Trash, where deletions go when the folder is the top of its file system
    ".Trash-*",
};

// The reconciler also passes over these.
constexpr const char* kReconcilerOnly[] = {"Icon\r", ".brindle-tmp-*"};

// Every pattern begins with ".", "~$" or "Icon\r", or ends in ".icloud",
// ".swp" or "~"; names that fit none of these cannot match and skip fnmatch
// entirely, which keeps scanning a large folder cheap (fnmatch converts both
// texts to wide characters under a UTF-8 locale, once per pattern).
bool mightMatch(std::string_view name) {
    if (name.empty()) return false;
    return name.front() == '.' || name.back() == '~' || name.starts_with("~$") || name.starts_with("Icon\r") ||
           name.ends_with(".icloud") || name.ends_with(".swp");
}

}  // namespace

const std::vector<std::string>& littered() {
    static const std::vector<std::string> patterns(std::begin(kLittered), std::end(kLittered));
    return patterns;
}

bool matches(std::string_view name) {
    if (!mightMatch(name)) return false;
    std::string text(name);
    for (const char* pattern : kLittered)
        if (::fnmatch(pattern, text.c_str(), 0) == 0) return true;
    for (const char* pattern : kReconcilerOnly)
        if (::fnmatch(pattern, text.c_str(), 0) == 0) return true;
    return false;
}

bool anyComponentMatches(std::string_view path) {
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (matches(path.substr(start, end - start))) return true;
        start = end + 1;
    }
    return false;
}

bool isTemporary(std::string_view name) {
    return name.starts_with(".brindle-tmp-");
}

}  // namespace brindle::IgnoredNames
