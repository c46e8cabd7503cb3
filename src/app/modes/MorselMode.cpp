#include "app/Modes.h"
#include "common/Files.h"
#include "morsels/Morsels.h"
#include "platform/NamedPasteboard.h"
#include "service/Brindle.h"

#include <iostream>
#include <memory>

namespace brindle::Modes {

namespace {

// A system clipboard this build cannot read: it reads as empty.
class NoSystemPasteboard final : public Pasteboard {
public:
    std::vector<std::string> types() override { return {}; }
    std::optional<std::string> data(const std::string&) override { return std::nullopt; }
};

PasteboardOpener systemPasteboard = nullptr;

// The pasteboard BRINDLE_TEST_PASTEBOARD names, else the system clipboard.
// When the system clipboard cannot be read, says why on standard error; it
// then reads as empty.
std::unique_ptr<Pasteboard> openPasteboard() {
    if (std::optional<std::string> named = Files::env("BRINDLE_TEST_PASTEBOARD"); named && !named->empty())
        return std::make_unique<NamedPasteboard>(*named);
    if (systemPasteboard) return systemPasteboard();
    std::cerr << "This build of Brindle can't read the system clipboard." << std::endl;
    return std::make_unique<NoSystemPasteboard>();
}

}  // namespace

void installSystemPasteboard(PasteboardOpener open) {
    systemPasteboard = open;
}

int morselClipboard(const Args&) {
    std::optional<Brindle::Account> account = Brindle::account();
    if (!account) throw Error(Morsels::kSignInFirst);
    std::unique_ptr<Pasteboard> pasteboard = openPasteboard();
    Morsels::Clip clip = Morsels::clip(*pasteboard);
    Morsels::notify(Morsels::send(*account, clip), true);
    return 0;
}

}  // namespace brindle::Modes
