#include "platform/Pasteboard.h"

#include "common/Text.h"

namespace brindle {

std::vector<std::string> Pasteboard::urls() {
    std::vector<std::string> found;
    std::optional<std::string> list = data(kFileURL);
    if (!list) return found;
    for (const std::string& line : Text::split(*list, '\n')) {
        std::string url = Text::trim(line);
        if (!url.empty() && url[0] != '#') found.push_back(url);
    }
    return found;
}

}  // namespace brindle
