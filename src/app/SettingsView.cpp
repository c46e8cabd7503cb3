#include "app/SettingsView.h"

namespace brindle {

SettingsView SettingsView::make(bool signedIn, bool opensAtLogin, const std::string& host, const std::string& version) {
    SettingsView view;
    view.signedIn = signedIn;
    view.opensAtLogin = opensAtLogin;
    if (signedIn) {
        view.accountLabel = "You're signed in to Brindle. Your Larder settings come from your account on " + host + ".";
        view.accountButton = "Sign Out of Brindle";
    } else {
        view.accountLabel = "You're not signed in. Sign in to use the account you made on " + host + ".";
        view.accountButton = "Sign In to Brindle\u2026";
    }
    view.tokenControlsHidden = signedIn;
    view.versionLabel = "Brindle " + version;
    return view;
}

const char* brindleVersion() {
    return BRINDLE_VERSION;
}

}  // namespace brindle
