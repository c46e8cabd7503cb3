#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

// The user's ignore rules: the ".brindleignore" file at the root of the
// folder, in gitignore syntax ("#" comments, "!" negation, a leading or inner
// "/" anchors to the root, "**" spans folders, a trailing "/" matches folders
// only; the last matching line wins, and nothing below an ignored folder can
// be taken back). Paths are "/"-separated and relative to the root.
class IgnoreRules {
public:
    // The name of the rules file at the root of the folder. It is synced
    // like any other file.
    static constexpr const char* kFileName = ".brindleignore";

    IgnoreRules() = default;
    // Rules from the text of a rules file.
    explicit IgnoreRules(std::string_view text);
    // The rules in folder's rules file; none when it is missing or unreadable.
    static IgnoreRules load(const std::filesystem::path& folder);

    bool empty() const { return rules_.empty(); }
    // true when path (a folder when isFolder) or a folder above it is ignored.
    bool ignores(std::string_view path, bool isFolder = false) const;
    // The lines of the rules file that git reads as they are (for a
    // repository's exclude file).
    const std::string& text() const { return text_; }

private:
    struct Rule {
        std::vector<std::string> parts;  // pattern split at "/"; "**" spans folders
        bool negated = false;
        bool anchored = false;    // matches the whole path, not only the last name
        bool folderOnly = false;  // matches folders only
    };
    // true when the last matching rule ignores path; false when none matches
    // or the last match is negated.
    bool matchesLast(const std::vector<std::string_view>& parts, bool isFolder) const;

    std::vector<Rule> rules_;
    std::string text_;
};

}  // namespace brindle
