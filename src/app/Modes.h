#pragma once

#include <memory>
#include <string>
#include <vector>

namespace brindle {
class Pasteboard;
}

// The headless modes of the command line. Each gets the whole argument list
// (program name first), writes its result lines to standard output and returns
// the exit status. A failure a user can meet is thrown as an exception whose
// what() is the text to show; the entry point prints "error: " + that text.
namespace brindle::Modes {

using Args = std::vector<std::string>;

int syncOnce(const Args& args);           // --sync-once (the account's stores)
int syncOnceFolder(const Args& args);     // --sync-once FOLDER GITDIR REMOTE DEVICE
int morselClipboard(const Args& args);    // --morsel-clipboard
int sharedFolderCheck(const Args& args);  // --shared-folder-check
int brindleStatus(const Args& args);      // --brindle-status
int brindleLogout(const Args& args);      // --brindle-logout
int preview(const Args& args);            // --preview
int brindleLogin(const Args& args);       // --brindle-login NAME
int plaudOnce(const Args& args);          // --plaud-once FOLDER [DAYS]
int contactsOnce(const Args& args);       // --contacts-once FOLDER
int settingsSnapshot(const Args& args);   // --settings-snapshot PATH [x]
int confirmDeletions(const Args& args);   // --confirm-deletions LABEL
int driveAdd(const Args& args);           // --drive-add FOLDER LABEL
int share(const Args& args);              // --share RECIPIENTS FILE...

// No mode matched: the tray application.
int startApplication(const Args& args);
int help(const Args& args);     // --help
int version(const Args& args);  // --version

// The window-system layer provides the tray application and the settings
// snapshot; without it those two say that this build has no windows.
using ModeFunction = int (*)(const Args&);
void installDesktop(ModeFunction application, ModeFunction snapshot);
// How --morsel-clipboard opens the system clipboard; without one it reads as
// empty, with a line on standard error.
using PasteboardOpener = std::unique_ptr<Pasteboard> (*)();
void installSystemPasteboard(PasteboardOpener open);

// Thrown by a mode that this build does not contain yet.
[[noreturn]] void notInThisBuild(const std::string& mode);

}  // namespace brindle::Modes
