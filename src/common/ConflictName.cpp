#include "common/ConflictName.h"

namespace brindle::ConflictName {

std::string stamp(std::time_t when) {
    std::tm local{};
    ::localtime_r(&when, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H%M", &local);
    return text;
}

std::string make(const std::filesystem::path& folder, const std::string& relativePath, const std::string& device,
                 const std::string& stamp) {
    std::string extension = std::filesystem::path(relativePath).extension().string();
    if (extension == ".") extension.clear();
    std::string stem = relativePath.substr(0, relativePath.size() - extension.size());
    std::string dev = device;
    for (char& c : dev)
        if (c == '/') c = '-';

    std::string candidate = stem + " (conflict from " + dev + " " + stamp + ")" + extension;
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(std::filesystem::symlink_status(folder / candidate, ec)); ++n)
        candidate = stem + " (conflict from " + dev + " " + stamp + " " + std::to_string(n) + ")" + extension;
    return candidate;
}

}  // namespace brindle::ConflictName
