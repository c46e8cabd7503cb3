#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/BackgroundWork.h"
#include "app/Desktop.h"
#include "app/MenuModel.h"
#include "app/SettingsView.h"
#include "app/UserDefaults.h"
#include "engine/EngineConfig.h"
#include "engine/SyncEngine.h"
#include "integrations/Integrations.h"

namespace brindle {

class FolderWatcher;
class ShareOffers;
class SignInFlow;
class WakeObserver;

// The tray application without its widgets: owns the sync engine, the
// integrations, the folder watcher, the wake observer, the 60-second tick and
// the user settings; runs the launch sequence and every flow of the menu, the
// sign-in window, the drive and import dialogs, the settings window, sharing
// and notifications. It decides what the menu says and which alert comes
// next; the Desktop only draws and asks.
//
// Create with create(); every member runs on the main loop. Blocking work
// goes to background threads that hold the application weakly and hop back
// to the main loop.
class Application : public std::enable_shared_from_this<Application> {
public:
    struct Options {
        EngineConfig engine = EngineConfig::fromEnvironment();
        Integrations::Runners integrations;        // default: the real imports
        std::function<void(double)> shareWait;     // default: a real sleep
        std::function<void(SyncEngine&)> prepare;  // test seam, before launch
        bool watchFolder = true;
    };

    static std::shared_ptr<Application> create(MainLoop& loop, Desktop& desktop, Options options);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The launch sequence: icon and menu, state rendering, the first-run
    // prompt (or the sign-in window when BRINDLE_TEST_AUTOSIGNIN is "1"), the
    // "Shared" folder, the hot key, the watcher, the tick, the wake observer,
    // a first sync and the integrations' timers. Call once.
    void launch();

    // What the desktop reports.
    void trigger(MenuId item);
    void settingsAction(SettingsAction action);
    void hotKeyPressed();
    // The user answered a notification about rel: action "share" (text: the
    // typed addresses), "skip", or "" for a click on the notification.
    void notificationAnswered(const std::string& rel, const std::string& action, const std::string& text);
    // The computer woke from sleep.
    void woke();

    // Renders one published engine state into the menu and the icon.
    void render(const EngineState& state, const std::vector<std::string>& skipped);

    // The flows, also reachable from tests.
    void startSignIn();
    void signOut();
    void promptFirstRun();
    void promptForToken();
    void toggleLogin();
    void toggleMorselHotkey();
    void addDrive();
    void importLoft();
    void shareAFile();
    void offerNewSharedFiles();
    void shareFiles(const std::vector<std::filesystem::path>& files, const std::vector<std::string>& emails,
                    const std::string& note);
    // Tells the user something: a notification when a server is there,
    // else an alert.
    void tell(const std::string& title, const std::string& body);

    const Menu& menu() const { return menu_; }
    SettingsView settingsView() const;
    bool signingIn() const { return signingIn_; }
    SyncEngine& engine() { return *engine_; }
    Integrations& integrations() { return *integrations_; }
    // Blocks until no background work of the application is running.
    void waitForBackground() { background_.waitUntilIdle(); }
    bool backgroundIdle() { return background_.idle(); }

    // The add-drive dialog offering volumes by their folder names.
    static Alert addDriveAlert(const std::vector<std::string>& names);

    // The service's host name shown in texts.
    static std::string host();

private:
    Application(MainLoop& loop, Desktop& desktop, Options options);
    friend class SignInFlow;

    // Runs work in the background, then done on the main loop if the
    // application still lives.
    void inBackground(std::function<std::function<void(Application&)>()> work);
    void alert(const std::string& message, const std::string& informative, Desktop::Answered answered = {});
    void publishMenu();
    void refreshAccountItems();
    void applyMorselHotkey();
    void sendClipboardToMorsels();
    void openCreating(const std::filesystem::path& folder);
    void openOnServer(const std::string& path);
    void updateIntegrationLines();
    void startTimers();

    void finishSignIn(const Brindle::Account& account);
    void watchForStore(const Brindle::Account& account, int turnsLeft);
    void morselsOutcome(const std::string& message, bool ok);

    // Dialog steps.
    void chooseDrive(std::vector<std::filesystem::path> candidates, const Brindle::Account& account);
    void confirmDrive(const std::filesystem::path& volume, const std::string& name, const Brindle::Account& account);
    void registerDrive(const std::filesystem::path& volume, const std::string& name, const Brindle::Account& account);
    void promptForRecipients(const std::string& title,
                             std::function<void(std::vector<std::string> emails, std::string note)> chosen);
    void askAboutSharing(const std::string& rel);
    // One alert per store whose mass deletion waits, while none is open for
    // it: "Delete Them Here Too" or "Keep Them", recorded for the store's
    // next pass, which starts at once (ApplicationDeletions.cpp).
    void askAboutDeletions(const std::vector<std::pair<std::string, std::string>>& held);
    void askInBox(const std::string& rel);

    MainLoop& loop_;
    Desktop& desktop_;
    Options options_;
    std::shared_ptr<SyncEngine> engine_;
    std::shared_ptr<Integrations> integrations_;
    std::shared_ptr<ShareOffers> offers_;  // created on first use; checked in the background, one check at a time
    std::unique_ptr<FolderWatcher> watcher_;
    std::unique_ptr<WakeObserver> wake_;
    std::optional<MainLoop::TimerId> tick_;
    std::shared_ptr<SignInFlow> signIn_;
    UserDefaults defaults_;
    Menu menu_;
    bool signingIn_ = false;
    bool offering_ = false;                  // a share-offer check is running
    std::set<std::string> askingDeletions_;  // stores whose deletion alert is open

    // Last member: destroyed first, waiting for work that may still post.
    BackgroundWork background_;
};

// The period of the sync tick.
inline constexpr double kSyncTick = 60;

}  // namespace brindle
