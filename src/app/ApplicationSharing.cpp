#include <chrono>
#include <thread>

#include "app/Application.h"
#include "common/Log.h"
#include "common/Text.h"
#include "service/Brindle.h"
#include "sharing/BrindleShares.h"
#include "sharing/ShareOffers.h"
#include "sharing/Sharing.h"

namespace brindle {

namespace fs = std::filesystem;

namespace {

std::string shareTitle(const std::string& name) {
    return "Share \u201c" + name + "\u201d";
}

}  // namespace

void Application::shareAFile() {
    desktop_.activate();
    FileChooser chooser;
    chooser.message = "Choose the file(s) to share. A file outside your Larder is copied into its Shared folder.";
    chooser.start = options_.engine.folder;
    chooser.multiple = true;
    std::weak_ptr<Application> weak = weak_from_this();
    desktop_.choose(chooser, [weak](const std::vector<fs::path>& files) {
        auto self = weak.lock();
        if (!self || files.empty()) return;
        std::string title = files.size() == 1 ? shareTitle(files.front().filename().string())
                                              : "Share " + std::to_string(files.size()) + " files";
        self->promptForRecipients(title, [weak, files](std::vector<std::string> emails, std::string note) {
            if (auto app = weak.lock()) app->shareFiles(files, emails, note);
        });
    });
}

void Application::promptForRecipients(const std::string& title,
                                      std::function<void(std::vector<std::string>, std::string)> chosen) {
    desktop_.activate();
    Alert ask;
    ask.message = title;
    ask.informative =
        "Who should get it? They'll get an email with a link. The file stays in your Larder, and you can stop "
        "sharing any time.";
    ask.fields = {{AlertField::Kind::text, "name@example.com (separate several with commas)", "", {}, 0, 32, 340, 24},
                  {AlertField::Kind::text, "A note (optional)", "", {}, 0, 0, 340, 24}};
    ask.accessoryWidth = 340;
    ask.accessoryHeight = 58;
    ask.focusField = 0;
    ask.buttons = {"Share", "Cancel"};
    desktop_.showAlert(ask, [chosen](const AlertAnswer& answer) {
        if (answer.button != 0 || answer.texts.empty()) return;
        std::vector<std::string> emails = Brindle::splitEmails({answer.texts[0]});
        if (emails.empty()) return;
        chosen(emails, Text::trim(answer.texts.size() > 1 ? answer.texts[1] : ""));
    });
}

void Application::shareFiles(const std::vector<fs::path>& files, const std::vector<std::string>& emails,
                             const std::string& note) {
    std::optional<Brindle::Account> account = Brindle::account();
    if (!account) return tell("Sign in first", "Open Settings\u2026 and sign in to Brindle, then share the file.");
    std::shared_ptr<SyncEngine> engine = engine_;
    fs::path root = options_.engine.folder;
    auto wait = options_.shareWait ? options_.shareWait : [](double seconds) {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    };
    inBackground([=]() -> std::function<void(Application&)> {
        try {
            auto sync = [engine] { engine->syncOnceExclusive(); };
            Brindle::ShareOutcome outcome =
                Sharing::share(files, emails, note, root, *account, sync, wait, [](const std::string&) {});
            std::vector<std::string> names;
            for (const fs::path& file : files) names.push_back(file.filename().string());
            std::string text = Sharing::outcomeText(names, outcome, account->server);
            return [text](Application& self) { self.tell("Shared", text); };
        } catch (const std::exception& failure) {
            std::string text = failure.what();
            return [text](Application& self) { self.tell("Couldn't share", text); };
        }
    });
}

void Application::tell(const std::string& title, const std::string& body) {
    if (desktop_.notificationsAvailable()) {
        Notification note;
        note.title = title;
        note.body = body;
        desktop_.postNotification(note);
        return;
    }
    desktop_.activate();
    alert(title, body);
}

void Application::offerNewSharedFiles() {
    if (offering_) return;
    if (!offers_) {
        offers_ = std::make_shared<ShareOffers>(options_.engine.folder / "Shared",
                                                options_.engine.stateDir / "shared-offered.json");
    }
    offering_ = true;
    std::shared_ptr<ShareOffers> offers = offers_;
    inBackground([offers]() -> std::function<void(Application&)> {
        std::vector<std::string> fresh;
        if (Brindle::account()) fresh = offers->check();
        return [fresh](Application& self) {
            self.offering_ = false;
            for (const std::string& rel : fresh) self.askAboutSharing(rel);
        };
    });
}

void Application::askAboutSharing(const std::string& rel) {
    if (!desktop_.notificationsAvailable()) return askInBox(rel);
    Notification note;
    note.identifier = "share-" + rel;
    note.title = "New file in Shared";
    note.body = shareTitle(fs::path(rel).filename().string()) + " with someone? Type their email address.";
    note.shareActions = true;
    note.rel = rel;
    desktop_.postNotification(note);
}

void Application::askInBox(const std::string& rel) {
    std::weak_ptr<Application> weak = weak_from_this();
    fs::path file = options_.engine.folder / rel;
    promptForRecipients(shareTitle(fs::path(rel).filename().string()),
                        [weak, file](std::vector<std::string> emails, std::string note) {
                            if (auto self = weak.lock()) self->shareFiles({file}, emails, note);
                        });
}

void Application::notificationAnswered(const std::string& rel, const std::string& action, const std::string& text) {
    // Only files of the Shared folder are ever offered.
    if (!Text::startsWith(rel, "Shared/") || rel.find("..") != std::string::npos) return;
    if (action == "share") {
        std::vector<std::string> emails = Brindle::splitEmails({text});
        if (emails.empty()) return askInBox(rel);
        return shareFiles({options_.engine.folder / rel}, emails, "");
    }
    if (action.empty()) askInBox(rel);
    // "skip" or a dismissal: nothing; the file is offered again only when it changes.
}

}  // namespace brindle
