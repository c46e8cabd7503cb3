#pragma once

#include <string>
#include <vector>

namespace brindle {

// Every item of the status menu: the five state lines (which do nothing when
// chosen) and the commands.
enum class MenuId {
    none,  // separators
    statusLine,
    skippedLine,
    syncNow,
    openFolder,
    openRepo,
    shareAFile,
    sendClipboardToMorsels,
    toggleMorselHotkey,
    openMorsels,
    openSharedLarder,
    connections,
    openSettings,
    quit,
    plaudLine,
    contactsLine,
    drivesLine,
    addDrive,
    syncPlaudNow,
    backfillPlaud,
    openMeetings,
    syncContactsNow,
    openGoogleAccounts,
    openContacts,
    importLoft,
};

// One item as the desktop draws it. shortcut is a key sequence in Qt's
// portable text form ("Ctrl+S"), empty for none.
struct MenuItem {
    MenuId id = MenuId::none;
    std::string title;
    bool separator = false;
    bool enabled = true;
    bool hidden = false;
    bool checkable = false;
    bool checked = false;
    std::string shortcut;
    std::vector<MenuItem> submenu;

    static MenuItem line();
};

// The status menu, top to bottom.
struct Menu {
    std::vector<MenuItem> items;

    // The item with id, searching submenus too; nullptr when absent.
    MenuItem* find(MenuId id);
    const MenuItem* find(MenuId id) const;

    // The menu as it is before any state is rendered; host is the service's
    // host name shown in the Google accounts item.
    static Menu initial(const std::string& host);
};

}  // namespace brindle
