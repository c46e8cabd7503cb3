#include <iostream>

#include "app/Application.h"
#include "app/SignInFlow.h"
#include "common/Files.h"
#include "common/Log.h"
#include "common/Text.h"
#include "morsels/Morsels.h"
#include "service/Brindle.h"
#include "service/BrindleSignIn.h"
#include "service/Keychain.h"

namespace brindle {

namespace {

constexpr int kStoreWatchTurns = 120;
constexpr double kStoreWatchPeriod = 5;

std::vector<std::string> storesOrNone(const Brindle::Account& account) {
    try {
        return Brindle::stores(account);
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace

void Application::startSignIn() {
    if (signingIn_) return;
    signingIn_ = true;
    if (!signIn_) signIn_ = std::make_shared<SignInFlow>(*this, loop_, desktop_);
    signIn_->requestCode(1);
}

void Application::finishSignIn(const Brindle::Account& account) {
    engine_->resetAccount();
    refreshAccountItems();
    inBackground([account]() -> std::function<void(Application&)> {
        bool hasStore = !storesOrNone(account).empty();
        return [account, hasStore](Application& self) {
            self.engine_->requestSync(0, true);
            if (hasStore) {
                self.alert("You're signed in",
                           "Brindle is now keeping your Larder folder in step. You can see how it's going from the "
                           "icon in the menu bar.");
                return;
            }
            self.desktop_.openURL(account.server + "/connections");
            self.alert("You're signed in",
                       "One more step: connect GitHub or Dropbox on the Brindle page that just opened. This computer "
                       "starts syncing as soon as you do.");
            self.watchForStore(account, kStoreWatchTurns);
        };
    });
}

// Looks every 5 seconds (at most 10 minutes) for the store the user is
// connecting, and syncs once it is there; stops when the sign-in changes.
void Application::watchForStore(const Brindle::Account& account, int turnsLeft) {
    if (turnsLeft <= 0) return;
    std::weak_ptr<Application> weak = weak_from_this();
    loop_.after(kStoreWatchPeriod, [weak, account, turnsLeft] {
        auto self = weak.lock();
        if (!self) return;
        self->inBackground([account, turnsLeft]() -> std::function<void(Application&)> {
            if (Brindle::account() != account) return {};
            bool hasStore = !storesOrNone(account).empty();
            return [account, turnsLeft, hasStore](Application& app) {
                if (hasStore) return app.engine_->requestSync(0, true);
                app.watchForStore(account, turnsLeft - 1);
            };
        });
    });
}

void Application::signOut() {
    std::optional<Brindle::Account> account = Brindle::account();
    if (!account) return;
    Brindle::forgetAccount();
    engine_->resetAccount();
    refreshAccountItems();
    engine_->requestSync(0, true);
    inBackground([account]() -> std::function<void(Application&)> {
        Brindle::revoke(*account);
        return {};
    });
}

void Application::promptFirstRun() {
    desktop_.activate();
    Alert welcome;
    welcome.message = "Welcome to Brindle";
    welcome.informative =
        "Sign in with your Brindle account to connect GitHub once and use it on every device. No token to create or "
        "paste.";
    welcome.buttons = {"Sign In to Brindle", "Use a GitHub Token\u2026", "Later"};
    std::weak_ptr<Application> weak = weak_from_this();
    desktop_.showAlert(welcome, [weak](const AlertAnswer& answer) {
        auto self = weak.lock();
        if (!self) return;
        if (answer.button == 0) self->startSignIn();
        if (answer.button == 1) self->promptForToken();
    });
}

void Application::promptForToken() {
    desktop_.activate();
    Alert prompt;
    prompt.message = "Connect Brindle to GitHub";
    prompt.informative =
        "Paste a GitHub personal access token (classic) with the \"repo\" scope. It's stored on this computer and "
        "used only to sync your private \"Larder\" repository.\n\nClick \"Create Token on GitHub\" to open the right "
        "page with the scope pre-selected. Use the same token (or a new one) on each computer.";
    prompt.buttons = {"Save", "Cancel", "Create Token on GitHub"};
    prompt.fields = {{AlertField::Kind::secure, "ghp_\u2026", "", {}, 0, 0, 340, 24}};
    prompt.accessoryWidth = 340;
    prompt.accessoryHeight = 24;
    prompt.focusField = 0;
    std::weak_ptr<Application> weak = weak_from_this();
    desktop_.showAlert(prompt, [weak](const AlertAnswer& answer) {
        auto self = weak.lock();
        if (!self) return;
        if (answer.button == 2) {
            self->desktop_.openURL(std::string(kGitHubWebBase) + "/settings/tokens/new?scopes=repo&description=Larder");
            return self->promptForToken();
        }
        if (answer.button != 0) return;
        std::string token = Text::trim(answer.texts.empty() ? "" : answer.texts.front());
        if (token.empty()) return;
        Keychain::setToken(token);
        self->engine_->resetAccount();
        self->engine_->requestSync(0, false);
    });
}

void Application::toggleLogin() {
    try {
        desktop_.setOpensAtLogin(!desktop_.opensAtLogin());
    } catch (const std::exception& failure) {
        alert(failure.what(), "You can also add Brindle to your desktop's startup applications in its settings.");
    }
    refreshAccountItems();
}

void Application::applyMorselHotkey() {
    bool on = defaults_.boolean(kMorselHotkeyEnabled).value_or(true);
    if (on) {
        int status = desktop_.registerHotKey();
        if (status != 0) std::cerr << "Morsels hotkey could not be registered (" << status << ")." << std::endl;
    } else {
        desktop_.unregisterHotKey();
    }
    menu_.find(MenuId::toggleMorselHotkey)->checked = on;
    publishMenu();
}

void Application::toggleMorselHotkey() {
    bool on = defaults_.boolean(kMorselHotkeyEnabled).value_or(true);
    try {
        defaults_.setBoolean(kMorselHotkeyEnabled, !on);
    } catch (const std::exception& failure) {
        Log::write(failure.what());
    }
    applyMorselHotkey();
}

void Application::hotKeyPressed() {
    sendClipboardToMorsels();
}

void Application::sendClipboardToMorsels() {
    std::optional<Brindle::Account> account = Brindle::account();
    if (!account) return morselsOutcome(Morsels::kSignInFirst, false);
    Morsels::Clip clip;
    try {
        // The clipboard belongs to the main loop; only the upload moves away.
        clip = Morsels::clip(desktop_.pasteboard());
    } catch (const std::exception& failure) {
        return morselsOutcome(failure.what(), false);
    }
    inBackground([account, clip]() -> std::function<void(Application&)> {
        Morsels::Outcome outcome;
        try {
            outcome = {Morsels::send(*account, clip), true};
        } catch (const std::exception& failure) {
            outcome = {failure.what(), false};
        }
        return [outcome](Application& self) { self.morselsOutcome(outcome.message, outcome.ok); };
    });
}

void Application::morselsOutcome(const std::string& message, bool ok) {
    if (!desktop_.notificationsAvailable()) {
        Log::write(std::string(ok ? "Morsels: " : "Not added to Morsels: ") + message);
        return;
    }
    Notification note;
    note.identifier = "morsel-" + Files::newUUID();
    note.title = ok ? "Morsels" : "Not added to Morsels";
    note.body = message;
    desktop_.postNotification(note);
}

}  // namespace brindle
