#include "ui/AutostartEntry.h"

#include "common/Error.h"
#include "common/Files.h"

namespace brindle::ui::AutostartEntry {

namespace fs = std::filesystem;

fs::path file() {
    return Files::xdgDir("XDG_CONFIG_HOME", ".config") / "autostart" / "brindle.desktop";
}

bool enabled() {
    std::optional<std::string> text = Files::read(file());
    return text && text->find("\nHidden=true") == std::string::npos;
}

void setEnabled(bool on, const std::string& program) {
    std::error_code error;
    if (!on) {
        fs::remove(file(), error);
        if (error) throw Error("Couldn't remove " + file().string() + ": " + error.message());
        // Switching off leaves the home as it was: an autostart folder with
        // nothing in it is only ever ours.
        fs::remove(file().parent_path(), error);
        return;
    }
    fs::create_directories(file().parent_path(), error);
    if (error) throw Error("Couldn't create " + file().parent_path().string() + ": " + error.message());
    // The Exec key's quoting: inside double quotes, these four need a backslash.
    std::string quoted = "\"";
    for (char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += "\"";
    Files::writeAtomically(file(),
                           "[Desktop Entry]\nType=Application\nName=Brindle\nComment=Keeps your Larder folder "
                           "in step\nExec=" +
                               quoted +
                               "\nIcon=brindle\nTerminal=false\n"
                               "X-GNOME-Autostart-enabled=true\n");
}

}  // namespace brindle::ui::AutostartEntry
