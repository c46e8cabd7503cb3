#include "app/MenuModel.h"

namespace brindle {

namespace {

MenuItem info(MenuId id, std::string title, bool hidden = false) {
    MenuItem item;
    item.id = id;
    item.title = std::move(title);
    item.enabled = false;
    item.hidden = hidden;
    return item;
}

MenuItem command(MenuId id, std::string title, std::string shortcut = {}) {
    MenuItem item;
    item.id = id;
    item.title = std::move(title);
    item.shortcut = std::move(shortcut);
    return item;
}

template <typename Items>
auto findIn(Items& items, MenuId id) -> decltype(&items.front()) {
    for (auto& item : items) {
        if (item.id == id) return &item;
        if (auto* inner = findIn(item.submenu, id)) return inner;
    }
    return nullptr;
}

MenuItem connections(const std::string& host) {
    MenuItem item = command(MenuId::connections, "Connections");
    item.submenu = {
        info(MenuId::plaudLine, "Plaud: waiting\u2026"),
        info(MenuId::contactsLine, "Contacts: waiting\u2026"),
        info(MenuId::drivesLine, "USB drives: none added"),
        MenuItem::line(),
        command(MenuId::addDrive, "Add a USB Drive\u2026"),
        MenuItem::line(),
        command(MenuId::syncPlaudNow, "Sync Plaud Now"),
        command(MenuId::backfillPlaud, "Download All Plaud History"),
        command(MenuId::openMeetings, "Open Meetings Folder"),
        MenuItem::line(),
        command(MenuId::syncContactsNow, "Sync Contacts Now"),
        command(MenuId::openGoogleAccounts, "Google Accounts on " + host + "\u2026"),
        command(MenuId::openContacts, "Open Contacts Folder"),
        MenuItem::line(),
        command(MenuId::importLoft, "Import from Loft Repo\u2026"),
    };
    return item;
}

}  // namespace

MenuItem MenuItem::line() {
    MenuItem item;
    item.separator = true;
    return item;
}

MenuItem* Menu::find(MenuId id) {
    return findIn(items, id);
}
const MenuItem* Menu::find(MenuId id) const {
    return findIn(items, id);
}

Menu Menu::initial(const std::string& host) {
    MenuItem hotkey = command(MenuId::toggleMorselHotkey, "Morsels Hotkey (\u2303\u2325T)");
    hotkey.checkable = true;
    Menu menu;
    menu.items = {
        info(MenuId::statusLine, "Starting\u2026"),
        info(MenuId::skippedLine, "", true),
        MenuItem::line(),
        command(MenuId::syncNow, "Sync Now", "Ctrl+S"),
        command(MenuId::openFolder, "Open Larder Folder", "Ctrl+O"),
        command(MenuId::openRepo, "Open Larder Online"),
        MenuItem::line(),
        command(MenuId::shareAFile, "Share a File\u2026"),
        command(MenuId::sendClipboardToMorsels, "Send Clipboard to Morsels"),
        hotkey,
        command(MenuId::openMorsels, "Open Morsels Online"),
        command(MenuId::openSharedLarder, "Open Shared Larder Online"),
        MenuItem::line(),
        connections(host),
        command(MenuId::openSettings, "Settings\u2026", "Ctrl+,"),
        MenuItem::line(),
        command(MenuId::quit, "Quit Brindle", "Ctrl+Q"),
    };
    return menu;
}

}  // namespace brindle
