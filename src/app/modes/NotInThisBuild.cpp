#include <iostream>

#include "app/Modes.h"
#include "app/SettingsView.h"
#include "common/Error.h"

namespace brindle::Modes {

namespace {

ModeFunction installedApplication = nullptr;
ModeFunction installedSnapshot = nullptr;

}  // namespace

void notInThisBuild(const std::string& mode) {
    throw Error(mode + " is not part of this build yet.");
}

void installDesktop(ModeFunction application, ModeFunction snapshot) {
    installedApplication = application;
    installedSnapshot = snapshot;
}

int startApplication(const Args& args) {
    if (installedApplication) return installedApplication(args);
    std::cerr << "The tray application is not part of this build; use one of the command-line modes." << std::endl;
    return 2;
}

int settingsSnapshot(const Args& args) {
    if (installedSnapshot) return installedSnapshot(args);
    notInThisBuild("--settings-snapshot");
}

int version(const Args&) {
    std::cout << "Brindle " << brindleVersion() << std::endl;
    return 0;
}

int help(const Args& args) {
    std::string name = args.empty() ? "brindle" : args[0];
    std::cout << "Usage: " << name << " [MODE]\n"
              << "Without a mode, starts the tray application (one per user).\n\n"
              << "Modes:\n"
              << "  --sync-once                              one sync pass with the account's stores\n"
              << "  --sync-once FOLDER GITDIR REMOTE DEVICE  one git sync pass of a folder\n"
              << "  --brindle-login DEVICE-NAME              sign in to Brindle\n"
              << "  --brindle-logout                         sign out\n"
              << "  --brindle-status                         SIGNED_IN or SIGNED_OUT\n"
              << "  --preview                                what one pass would do, changing nothing\n"
              << "  --confirm-deletions LABEL                let the next pass of a store delete what it held back\n"
              << "  --drive-add FOLDER LABEL                 add a USB drive\n"
              << "  --plaud-once FOLDER [DAYS]               one Plaud import\n"
              << "  --contacts-once FOLDER                   one contacts import\n"
              << "  --morsel-clipboard                       send the clipboard to Morsels\n"
              << "  --share RECIPIENTS FILE...               share files by e-mail\n"
              << "  --shared-folder-check                    list or share new files in Shared\n"
              << "  --settings-snapshot PATH [x]             draw the settings window to a PNG\n"
              << "  --help, --version\n";
    return 0;
}

}  // namespace brindle::Modes
