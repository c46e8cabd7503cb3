#pragma once

#include "platform/Pasteboard.h"

#include <filesystem>

namespace brindle {

// A pasteboard kept in a folder: each regular file directly inside is one
// type, its name the type identifier and its content the type's data. This
// is the pasteboard BRINDLE_TEST_PASTEBOARD names, so that the clipboard
// flow can run without a window system.
class NamedPasteboard final : public Pasteboard {
public:
    // Throws brindle::Error when folder does not exist or is not a folder,
    // so that a mistyped name is not mistaken for an empty clipboard.
    explicit NamedPasteboard(std::filesystem::path folder);

    std::vector<std::string> types() override;  // sorted by name
    std::optional<std::string> data(const std::string& type) override;

private:
    std::filesystem::path folder_;
};

}  // namespace brindle
