#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

namespace brindle {

// A content hash as the records keep it: lower-case hex text. A large folder
// holds several records per file, so a hash of 64 hex digits (a Dropbox
// content hash, the only kind the stores give) is kept as its 32 bytes
// rather than as text on the heap; any other text is kept as it is.
class ContentHash {
public:
    ContentHash() = default;
    // A hash is its text, so text converts to it without ceremony.
    // NOLINTNEXTLINE(google-explicit-constructor)
    ContentHash(std::string_view text);
    // NOLINTNEXTLINE(google-explicit-constructor)
    ContentHash(const std::string& text) : ContentHash(std::string_view(text)) {}
    // NOLINTNEXTLINE(google-explicit-constructor)
    ContentHash(const char* text) : ContentHash(std::string_view(text)) {}
    ContentHash(const ContentHash& other);
    ContentHash& operator=(const ContentHash& other);
    ContentHash(ContentHash&&) noexcept = default;
    ContentHash& operator=(ContentHash&&) noexcept = default;
    ~ContentHash() = default;

    std::string str() const;
    bool empty() const { return !text_ && bytes_ == std::array<uint8_t, 32>{}; }

    friend bool operator==(const ContentHash& a, const ContentHash& b);

private:
    // Without text_, bytes_ holds the hash, or is all zeros for no hash (a
    // hash of 64 zeros is kept as text); 40 bytes in all.
    std::array<uint8_t, 32> bytes_{};
    std::unique_ptr<std::string> text_;  // a hash of any other form
};

std::ostream& operator<<(std::ostream& out, const ContentHash& hash);

}  // namespace brindle
