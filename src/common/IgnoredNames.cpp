#include "common/IgnoredNames.h"

#include <fnmatch.h>

#include <string>

namespace brindle::IgnoredNames {

namespace {

const std::vector<std::string> kLittered{
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
};

// The reconciler also passes over these.
const std::vector<std::string> kReconcilerOnly{"Icon\r", ".Trash-*", ".brindle-tmp-*"};

// Every pattern begins with ".", "~" or "I", or ends in "d", "p" or "~";
// names that fit none of these cannot match and skip fnmatch entirely, which
// keeps scanning a large folder cheap.
bool mightMatch(std::string_view name) {
    if (name.empty()) return false;
    char first = name.front(), last = name.back();
    return first == '.' || first == '~' || first == 'I' || last == 'd' || last == 'p' || last == '~';
}

}  // namespace

const std::vector<std::string>& littered() {
    return kLittered;
}

bool matches(std::string_view name) {
    if (!mightMatch(name)) return false;
    std::string text(name);
    for (const auto* list : {&kLittered, &kReconcilerOnly})
        for (const std::string& pattern : *list)
            if (::fnmatch(pattern.c_str(), text.c_str(), 0) == 0) return true;
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
