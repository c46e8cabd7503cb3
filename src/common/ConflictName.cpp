#include "common/ConflictName.h"

#include <algorithm>
#include <utility>

namespace brindle::ConflictName {

std::string stamp(std::time_t when) {
    std::tm local{};
    ::localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H%M", &local);
    return text;
}

namespace {

// relativePath split into the text before its extension and the extension.
std::pair<std::string, std::string> stemAndExtension(const std::string& relativePath) {
    std::string extension = std::filesystem::path(relativePath).extension().string();
    if (extension == ".") extension.clear();
    return {relativePath.substr(0, relativePath.size() - extension.size()), extension};
}

}  // namespace

std::string make(const std::filesystem::path& folder, const std::string& relativePath, const std::string& device,
                 const std::string& stamp) {
    auto [stem, extension] = stemAndExtension(relativePath);
    std::string dev = device;
    for (char& c : dev)
        if (c == '/') c = '-';

    std::string candidate = stem + " (conflict from " + dev + " " + stamp + ")" + extension;
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(std::filesystem::symlink_status(folder / candidate, ec)); ++n)
        candidate = stem + " (conflict from " + dev + " " + stamp + " " + std::to_string(n) + ")" + extension;
    return candidate;
}

std::vector<std::string> existing(const std::filesystem::path& folder, const std::string& relativePath) {
    auto [stem, extension] = stemAndExtension(relativePath);
    std::filesystem::path relative(relativePath);
    std::string prefix = std::filesystem::path(stem).filename().string() + " (conflict from ";
    std::string suffix = ")" + extension;
    std::vector<std::string> copies;
    std::error_code ec;
    std::filesystem::path parent = relative.parent_path();
    for (std::filesystem::directory_iterator it(folder / parent, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.size() >= prefix.size() + suffix.size() && name.starts_with(prefix) && name.ends_with(suffix))
            copies.push_back((parent / name).generic_string());
    }
    std::sort(copies.begin(), copies.end());
    return copies;
}

}  // namespace brindle::ConflictName
