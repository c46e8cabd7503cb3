#include "common/IgnoreRules.h"

#include "common/Files.h"

#include <fnmatch.h>

namespace brindle {

namespace {

std::vector<std::string_view> split(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        size_t slash = path.find('/');
        std::string_view part = path.substr(0, slash);
        if (!part.empty()) parts.push_back(part);
        if (slash == std::string_view::npos) break;
        path.remove_prefix(slash + 1);
    }
    return parts;
}

// Trailing blanks are dropped unless escaped with a backslash.
std::string trimmed(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t end = line.size();
    while (end > 0 && line[end - 1] == ' ' && !(end > 1 && line[end - 2] == '\\')) --end;
    return std::string(line.substr(0, end));
}

bool matchName(const std::string& pattern, std::string_view name) {
    return ::fnmatch(pattern.c_str(), std::string(name).c_str(), 0) == 0;
}

// Pattern parts from p against path parts from n; "**" matches any number of
// whole parts (at least one when it ends the pattern: "a/**" is what is in a).
bool matchParts(const std::vector<std::string>& pattern, size_t p, const std::vector<std::string_view>& path,
                size_t n) {
    if (p == pattern.size()) return n == path.size();
    if (pattern[p] == "**") {
        size_t least = p + 1 == pattern.size() ? 1 : 0;
        for (size_t skip = least; n + skip <= path.size(); ++skip)
            if (matchParts(pattern, p + 1, path, n + skip)) return true;
        return false;
    }
    return n < path.size() && matchName(pattern[p], path[n]) && matchParts(pattern, p + 1, path, n + 1);
}

}  // namespace

IgnoreRules::IgnoreRules(std::string_view text) : text_(text) {
    if (!text_.empty() && text_.back() != '\n') text_ += '\n';
    for (std::string_view rest = text; !rest.empty();) {
        size_t end = rest.find('\n');
        std::string line = trimmed(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (line.empty() || line[0] == '#') continue;
        Rule rule;
        if (line[0] == '!') {
            rule.negated = true;
            line.erase(0, 1);
        } else if (line[0] == '\\' && line.size() > 1 && (line[1] == '!' || line[1] == '#')) {
            line.erase(0, 1);
        }
        if (!line.empty() && line.back() == '/') {
            rule.folderOnly = true;
            line.pop_back();
        }
        rule.anchored = line.find('/') != std::string::npos;
        for (std::string_view part : split(line)) rule.parts.emplace_back(part);
        if (rule.parts.empty()) continue;
        rules_.push_back(std::move(rule));
    }
}

IgnoreRules IgnoreRules::load(const std::filesystem::path& folder) {
    std::optional<std::string> text = Files::read(folder / kFileName);
    return text ? IgnoreRules(*text) : IgnoreRules();
}

bool IgnoreRules::matchesLast(const std::vector<std::string_view>& parts, bool isFolder) const {
    for (auto rule = rules_.rbegin(); rule != rules_.rend(); ++rule) {
        if (rule->folderOnly && !isFolder) continue;
        bool hit =
            rule->anchored ? matchParts(rule->parts, 0, parts, 0) : matchParts(rule->parts, 0, {parts.back()}, 0);
        if (hit) return !rule->negated;
    }
    return false;
}

bool IgnoreRules::ignores(std::string_view path, bool isFolder) const {
    if (rules_.empty()) return false;
    std::vector<std::string_view> parts = split(path);
    if (parts.empty()) return false;
    // An ignored folder hides everything below it, whatever later lines say.
    for (size_t depth = 1; depth < parts.size(); ++depth) {
        std::vector<std::string_view> above(parts.begin(), parts.begin() + static_cast<long>(depth));
        if (matchesLast(above, true)) return true;
    }
    return matchesLast(parts, isFolder);
}

}  // namespace brindle
