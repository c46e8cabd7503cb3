#include <charconv>
#include <iostream>
#include <optional>

#include "app/Modes.h"
#include "integrations/ContactsSync.h"
#include "integrations/PlaudSync.h"

namespace brindle::Modes {

namespace {

// A whole number of days, or nothing so that the import picks its own.
std::optional<int> wholeDays(const std::string& text) {
    int days = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), days);
    if (error != std::errc() || end != text.data() + text.size() || days < 0) return std::nullopt;
    return days;
}

}  // namespace

int plaudOnce(const Args& args) {
    std::optional<int> days = args.size() > 3 ? wholeDays(args[3]) : std::nullopt;
    PlaudSync::Result result =
        PlaudSync(args[2]).run(false, days, [](const std::string& line) { std::cout << line << std::endl; });
    std::cout << "found " << result.found << ", written " << result.written << ", already had " << result.alreadyHad
              << ", not ready " << result.notReady << std::endl;
    return 0;
}

int contactsOnce(const Args& args) {
    ContactsSync::Result result = ContactsSync::run(args[2]);
    std::cout << "accounts " << result.accounts << ", fetched " << result.fetched << ", created " << result.created
              << ", updated " << result.updated << ", unchanged " << result.unchanged << std::endl;
    return 0;
}

}  // namespace brindle::Modes
