#include "app/CommandLine.h"

#include <iostream>

#include "app/Modes.h"
#include "common/Text.h"

namespace brindle::CommandLine {

namespace {

struct Entry {
    const char* flag;
    int (*mode)(const Modes::Args&);
};

// Modes by exact argument count, in the order they are tried.
const std::vector<Entry> kCountTwo{{"--sync-once", Modes::syncOnce},
                                   {"--morsel-clipboard", Modes::morselClipboard},
                                   {"--shared-folder-check", Modes::sharedFolderCheck},
                                   {"--brindle-status", Modes::brindleStatus},
                                   {"--brindle-logout", Modes::brindleLogout},
                                   {"--help", Modes::help},
                                   {"--version", Modes::version},
                                   {"--preview", Modes::preview}};
const std::vector<Entry> kCountThree{{"--plaud-once", Modes::plaudOnce},
                                     {"--contacts-once", Modes::contactsOnce},
                                     {"--brindle-login", Modes::brindleLogin},
                                     {"--settings-snapshot", Modes::settingsSnapshot},
                                     {"--confirm-deletions", Modes::confirmDeletions}};
const std::vector<Entry> kCountFour{{"--drive-add", Modes::driveAdd}};
const std::vector<Entry> kCountSix{{"--sync-once", Modes::syncOnceFolder}};
// Tried for every count of four or more, after the count-specific mode.
const std::vector<Entry> kFourOrMore{
    {"--share", Modes::share}, {"--plaud-once", Modes::plaudOnce}, {"--settings-snapshot", Modes::settingsSnapshot}};

const Entry* lookup(const std::vector<Entry>& table, const std::string& first) {
    for (const auto& entry : table)
        if (first == entry.flag) return &entry;
    return nullptr;
}

const Entry* choose(const std::vector<std::string>& args) {
    const size_t count = args.size();
    if (count < 2) return nullptr;
    const std::string& first = args[1];
    if (count == 2) return lookup(kCountTwo, first);
    if (count == 3) return lookup(kCountThree, first);
    const Entry* found = nullptr;
    if (count == 4) found = lookup(kCountFour, first);
    if (count == 6) found = lookup(kCountSix, first);
    return found ? found : lookup(kFourOrMore, first);
}

}  // namespace

Mode select(const std::vector<std::string>& args, std::string* chosenName) {
    const Entry* entry = choose(args);
    if (chosenName) *chosenName = entry ? entry->flag : "application";
    if (!entry) return Modes::startApplication;
    return entry->mode;
}

int run(const std::vector<std::string>& args) {
    Mode mode = select(args);
    try {
        int status = mode(args);
        std::cout.flush();
        return status;
    } catch (const std::exception& failure) {
        std::cout.flush();
        // Descriptions carry server texts: one line, no terminal controls.
        std::cerr << "error: " << Text::printable(failure.what()) << std::endl;
        return 1;
    }
}

}  // namespace brindle::CommandLine
