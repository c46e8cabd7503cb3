#include "app/Application.h"

#include <cstdlib>
#include <iostream>

#include "app/SignInFlow.h"
#include "app/StatusView.h"
#include "common/Log.h"
#include "platform/FolderWatcher.h"
#include "platform/WakeObserver.h"
#include "service/Brindle.h"
#include "service/Keychain.h"
#include "sharing/ShareOffers.h"

namespace brindle {

namespace fs = std::filesystem;

std::shared_ptr<Application> Application::create(MainLoop& loop, Desktop& desktop, Options options) {
    return std::shared_ptr<Application>(new Application(loop, desktop, std::move(options)));
}

Application::Application(MainLoop& loop, Desktop& desktop, Options options)
    : loop_(loop), desktop_(desktop), options_(std::move(options)), menu_(Menu::initial(host())) {
    engine_ = SyncEngine::create(options_.engine, &loop_);
    if (options_.prepare) options_.prepare(*engine_);
    integrations_ = Integrations::create(options_.engine.folder, loop_, options_.integrations);
}

Application::~Application() {
    // The engine's destructor waits for a running pass to reach its end.
    if (tick_) loop_.cancel(*tick_);
}

std::string Application::host() {
    return Brindle::defaultHost();
}

void Application::launch() {
    std::weak_ptr<Application> weak = weak_from_this();
    integrations_->setOnChange([weak] {
        if (auto self = weak.lock()) self->updateIntegrationLines();
    });
    desktop_.setIcon(kIconLaunch);
    publishMenu();
    refreshAccountItems();
    engine_->setOnChange([weak](const EngineState& state, const std::vector<std::string>& skipped) {
        if (auto self = weak.lock()) self->render(state, skipped);
    });
    const char* autoSignIn = std::getenv("BRINDLE_TEST_AUTOSIGNIN");
    if (autoSignIn && std::string(autoSignIn) == "1") {
        startSignIn();
    } else if (!Brindle::account() && !Keychain::token()) {
        promptFirstRun();
    }
    std::error_code ignored;
    fs::create_directories(options_.engine.folder / "Shared", ignored);
    applyMorselHotkey();
    startTimers();
    engine_->requestSync(0, false);
    integrations_->start();
}

void Application::startTimers() {
    std::weak_ptr<Application> weak = weak_from_this();
    if (options_.watchFolder) {
        watcher_ = std::make_unique<FolderWatcher>(loop_, options_.engine.folder.string(), [weak] {
            if (auto self = weak.lock()) self->engine_->requestSync(2, false);
        });
        watcher_->start();
    }
    tick_ = loop_.every(kSyncTick, [weak] {
        if (auto self = weak.lock()) self->engine_->requestSync(0, false);
    });
    wake_ = std::make_unique<WakeObserver>(loop_, [weak] {
        if (auto self = weak.lock()) self->woke();
    });
}

void Application::woke() {
    engine_->requestSync(5, false);
    integrations_->wake();
}

void Application::render(const EngineState& state, const std::vector<std::string>& skipped) {
    StatusView view =
        StatusView::render(state, skipped, engine_->storeNames(), engine_->driveLines(), host(), shortLocalTime);
    menu_.find(MenuId::statusLine)->title = view.statusTitle;
    MenuItem* skippedLine = menu_.find(MenuId::skippedLine);
    skippedLine->title = view.skippedTitle;
    skippedLine->hidden = view.skippedHidden;
    menu_.find(MenuId::drivesLine)->title = view.drivesTitle;
    if (view.icon) desktop_.setIcon(*view.icon);
    publishMenu();
    if (state.kind == EngineState::Kind::needsSignIn) refreshAccountItems();
    if (state.kind == EngineState::Kind::synced) offerNewSharedFiles();
    if (!state.heldDeletions.empty()) askAboutDeletions(state.heldDeletions);
}

void Application::updateIntegrationLines() {
    menu_.find(MenuId::plaudLine)->title = integrations_->plaudLine();
    menu_.find(MenuId::contactsLine)->title = integrations_->contactsLine();
    publishMenu();
}

void Application::publishMenu() {
    desktop_.setMenu(menu_);
}

void Application::trigger(MenuId item) {
    switch (item) {
        case MenuId::syncNow:
            engine_->requestSync(0, true);
            break;
        case MenuId::openFolder:
            desktop_.openPath(options_.engine.folder);
            break;
        case MenuId::openRepo:
            if (auto url = engine_->larderWebURL()) desktop_.openURL(*url);
            break;
        case MenuId::shareAFile:
            shareAFile();
            break;
        case MenuId::sendClipboardToMorsels:
            sendClipboardToMorsels();
            break;
        case MenuId::toggleMorselHotkey:
            toggleMorselHotkey();
            break;
        case MenuId::openMorsels:
            openOnServer("/morsels");
            break;
        case MenuId::openSharedLarder:
            openOnServer("/shared");
            break;
        case MenuId::addDrive:
            addDrive();
            break;
        case MenuId::syncPlaudNow:
            integrations_->syncPlaud(false, 0);
            break;
        case MenuId::backfillPlaud:
            integrations_->syncPlaud(true, 0);
            break;
        case MenuId::openMeetings:
            openCreating(integrations_->meetingsURL());
            break;
        case MenuId::syncContactsNow:
            integrations_->syncContacts(0);
            break;
        case MenuId::openGoogleAccounts:
            desktop_.openURL(Brindle::serverURL() + "/connections#source-google");
            break;
        case MenuId::openContacts:
            openCreating(integrations_->contactsURL());
            break;
        case MenuId::importLoft:
            importLoft();
            break;
        case MenuId::openSettings:
            desktop_.showSettings(settingsView());
            break;
        case MenuId::quit:
            desktop_.quit();
            break;
        default:
            break;
    }
}

void Application::openOnServer(const std::string& path) {
    if (auto account = Brindle::account()) desktop_.openURL(account->server + path);
}

void Application::openCreating(const fs::path& folder) {
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    desktop_.openPath(folder);
}

void Application::settingsAction(SettingsAction action) {
    switch (action) {
        case SettingsAction::signIn:
            startSignIn();
            break;
        case SettingsAction::signOut:
            signOut();
            break;
        case SettingsAction::useToken:
            promptForToken();
            break;
        case SettingsAction::showLog:
            desktop_.openPath(Log::url());
            break;
        case SettingsAction::toggleLogin:
            toggleLogin();
            break;
    }
}

SettingsView Application::settingsView() const {
    return SettingsView::make(Brindle::account().has_value(), desktop_.opensAtLogin(), host(), brindleVersion());
}

void Application::refreshAccountItems() {
    desktop_.refreshSettings(settingsView());
}

void Application::inBackground(std::function<std::function<void(Application&)>()> work) {
    std::weak_ptr<Application> weak = weak_from_this();
    MainLoop* loop = &loop_;
    background_.run([weak, loop, work = std::move(work)] {
        std::function<void(Application&)> done = work();
        if (!done) return;
        loop->post([weak, done = std::move(done)] {
            if (auto self = weak.lock()) done(*self);
        });
    });
}

void Application::alert(const std::string& message, const std::string& informative, Desktop::Answered answered) {
    Alert shown;
    shown.message = message;
    shown.informative = informative;
    desktop_.showAlert(
        shown, answered ? std::move(answered) : [](const AlertAnswer&) {});
}

}  // namespace brindle
