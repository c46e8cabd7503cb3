#include <set>

#include "app/Application.h"
#include "common/Files.h"
#include "common/Text.h"
#include "drives/DriveRegistration.h"
#include "drives/Volumes.h"
#include "service/Brindle.h"

namespace brindle {

namespace fs = std::filesystem;

void Application::addDrive() {
    desktop_.activate();
    std::optional<Brindle::Account> account = Brindle::account();
    if (!account) return alert("Sign in first", "Open Settings\u2026 and sign in to Brindle, then add the drive.");
    inBackground([account]() -> std::function<void(Application&)> {
        std::set<std::string> excluded;
        try {
            for (const Brindle::Drive& drive : Brindle::larderConfig(*account).drives) excluded.insert(drive.id);
        } catch (const std::exception&) {
            // Without the account's list every mounted volume is offered.
        }
        std::vector<fs::path> candidates = Volumes::candidates(excluded);
        return [candidates, account](Application& self) { self.chooseDrive(candidates, *account); };
    });
}

Alert Application::addDriveAlert(const std::vector<std::string>& names) {
    Alert ask;
    ask.message = "Add a USB Drive";
    ask.informative =
        "Your Larder will be kept on this drive too, whenever it is plugged in. Your other files on the drive are "
        "left alone: Brindle uses a folder called \"Larder\".";
    ask.fields = {{AlertField::Kind::popup, "", names.front(), names, 0, 30, 340, 26},
                  {AlertField::Kind::text, "A name for the drive", names.front(), {}, 0, 0, 340, 24}};
    ask.accessoryWidth = 340;
    ask.accessoryHeight = 58;
    ask.buttons = {"Add Drive", "Cancel"};
    return ask;
}

void Application::chooseDrive(std::vector<fs::path> candidates, const Brindle::Account& account) {
    if (candidates.empty()) {
        return alert("No drive found",
                     "Plug in a USB drive, then choose Add a USB Drive\u2026 again. A drive that is already added "
                     "isn't listed.");
    }
    std::vector<std::string> names;
    for (const fs::path& volume : candidates) names.push_back(volume.filename().string());
    Alert ask = addDriveAlert(names);
    std::weak_ptr<Application> weak = weak_from_this();
    desktop_.showAlert(ask, [weak, candidates, account](const AlertAnswer& answer) {
        auto self = weak.lock();
        if (!self || answer.button != 0) return;
        size_t index = answer.selected >= 0 && static_cast<size_t>(answer.selected) < candidates.size()
                           ? static_cast<size_t>(answer.selected)
                           : 0;
        const fs::path& volume = candidates[index];
        std::string name = Text::trim(answer.texts.size() > 1 ? answer.texts[1] : "");
        if (name.empty()) name = volume.filename().string();
        self->confirmDrive(volume, name, account);
    });
}

void Application::confirmDrive(const fs::path& volume, const std::string& name, const Brindle::Account& account) {
    int64_t count = DriveRegistration::existingFiles(volume);
    if (count <= 0) return registerDrive(volume, name, account);
    Alert ask;
    ask.message = "This drive already has a Larder";
    ask.informative = "Its \"Larder\" folder holds " + std::to_string(count) +
                      " file(s). They will be merged with your Larder, and nothing is deleted.";
    ask.buttons = {"Add Anyway", "Cancel"};
    std::weak_ptr<Application> weak = weak_from_this();
    desktop_.showAlert(ask, [weak, volume, name, account](const AlertAnswer& answer) {
        auto self = weak.lock();
        if (self && answer.button == 0) self->registerDrive(volume, name, account);
    });
}

void Application::registerDrive(const fs::path& volume, const std::string& name, const Brindle::Account& account) {
    inBackground([volume, name, account]() -> std::function<void(Application&)> {
        try {
            DriveRegistration::registerDrive(volume, name, account);
        } catch (const std::exception& failure) {
            std::string text = failure.what();
            return [text](Application& self) { self.alert("Couldn't add the drive", text); };
        }
        return [name](Application& self) {
            std::weak_ptr<Application> weak = self.weak_from_this();
            self.alert("Drive added",
                       "\"" + name +
                           "\" is part of your Larder now. It is kept in step whenever it is plugged in; don't "
                           "unplug it while Brindle is syncing (check the menu).",
                       [weak](const AlertAnswer&) {
                           if (auto app = weak.lock()) app->engine_->requestSync(0, true);
                       });
        };
    });
}

void Application::importLoft() {
    desktop_.activate();
    FileChooser chooser;
    chooser.message = "Choose your local loft folder";
    chooser.start = Files::home() / "Documents" / "GitHub" / "loft";
    chooser.folders = true;
    std::weak_ptr<Application> weak = weak_from_this();
    desktop_.choose(chooser, [weak](const std::vector<fs::path>& chosen) {
        auto self = weak.lock();
        if (!self || chosen.empty()) return;
        std::shared_ptr<Integrations> integrations = self->integrations_;
        const fs::path& folder = chosen.front();
        self->inBackground([integrations, folder]() -> std::function<void(Application&)> {
            try {
                int count = integrations->importLoft(folder);
                return [count](Application& app) {
                    app.alert("Loft imported", std::to_string(count) +
                                                   " file(s) copied into your Larder folder. They'll sync to GitHub "
                                                   "shortly.");
                    app.engine_->requestSync(0, false);
                };
            } catch (const std::exception& failure) {
                std::string text = failure.what();
                return [text](Application& app) { app.alert("Import failed", text); };
            }
        });
    });
}

}  // namespace brindle
