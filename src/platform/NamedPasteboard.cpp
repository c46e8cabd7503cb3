#include "platform/NamedPasteboard.h"

#include "common/Error.h"
#include "common/Files.h"

#include <algorithm>
#include <system_error>

namespace brindle {

namespace fs = std::filesystem;

NamedPasteboard::NamedPasteboard(fs::path folder) : folder_(std::move(folder)) {
    std::error_code error;
    if (!fs::is_directory(folder_, error))
        throw Error("The pasteboard folder " + folder_.string() + " doesn't exist.");
}

std::vector<std::string> NamedPasteboard::types() {
    std::vector<std::string> found;
    std::error_code error;
    for (fs::directory_iterator it(folder_, error), end; !error && it != end; it.increment(error)) {
        std::error_code kindError;
        if (it->is_regular_file(kindError)) found.push_back(it->path().filename().string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::optional<std::string> NamedPasteboard::data(const std::string& type) {
    // A type is a plain name; anything that would leave the folder is absent.
    if (type.empty() || type == "." || type == ".." || type.find('/') != std::string::npos) return std::nullopt;
    fs::path path = folder_ / type;
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return std::nullopt;
    return Files::read(path);
}

}  // namespace brindle
