#include "app/Application.h"

#include "common/DeletionGuard.h"
#include "common/Error.h"

namespace brindle {

namespace {

constexpr const char* kDeleteThem = "Delete Them Here Too";
constexpr const char* kKeepThem = "Keep Them";

}  // namespace

void Application::askAboutDeletions(const std::vector<std::pair<std::string, std::string>>& held) {
    for (const auto& [heldStore, message] : held) {
        const std::string& store = heldStore;
        if (!askingDeletions_.insert(store).second) continue;
        Alert alert;
        alert.message = message;
        alert.informative =
            "Delete them on the other side as well, or keep them and put them back where they are gone.";
        alert.buttons = {kDeleteThem, kKeepThem};
        std::weak_ptr<Application> weak = weak_from_this();
        desktop_.showAlert(alert, [weak, store](const AlertAnswer& answer) {
            auto self = weak.lock();
            if (!self) return;
            self->askingDeletions_.erase(store);
            if (answer.button != 0 && answer.button != 1) return;
            try {
                DeletionGuard::answer(
                    self->engine_->config().stateDir, store,
                    answer.button == 0 ? DeletionGuard::Answer::deleteThem : DeletionGuard::Answer::keepThem);
            } catch (const Error& error) {
                return self->alert("Couldn't note your answer", error.what());
            }
            self->engine_->requestSync(0, true);
        });
    }
}

}  // namespace brindle
