#include "support/ScriptedDesktop.h"

#include <algorithm>

#include "common/Error.h"
#include "service/Brindle.h"

namespace brindle::test {

ScriptedDesktop::ScriptedDesktop(MainLoop& loop, std::filesystem::path pasteboardFolder)
    : loop_(loop), pasteboard_((std::filesystem::create_directories(pasteboardFolder), pasteboardFolder)) {}

Desktop::AlertId ScriptedDesktop::showAlert(const Alert& alert, Answered answered) {
    alerts.push_back({nextId_++, alert, true, Brindle::account().has_value(), std::move(answered)});
    AlertId id = alerts.back().id;
    auto found =
        std::find_if(script_.begin(), script_.end(), [&](auto& each) { return each.message == alert.message; });
    if (found != script_.end()) {
        AlertAnswer answer = found->answer;
        script_.erase(found);
        deliver(alerts.back(), answer);
    }
    return id;
}

void ScriptedDesktop::deliver(Shown& shown, AlertAnswer answer) {
    loop_.post([this, id = shown.id, answer] {
        for (Shown& each : alerts) {
            if (each.id != id || !each.open) continue;
            each.open = false;
            Answered answered = each.answered;  // the answer may show the next alert and move this one
            return answered(answer);
        }
    });
}

void ScriptedDesktop::answerOpen(const std::string& message, int button, std::vector<std::string> texts) {
    for (Shown& each : alerts)
        if (each.open && each.alert.message == message) return deliver(each, {button, std::move(texts), 0});
    throw Error("no open alert \"" + message + "\"");
}

void ScriptedDesktop::closeAlert(AlertId alert) {
    for (Shown& each : alerts) each.open &= each.id != alert;
}

void ScriptedDesktop::choose(const FileChooser& chooser, Chosen chosen) {
    choosers.push_back(chooser);
    loop_.post([chosen] { chosen({}); });  // cancelled
}

std::vector<std::string> ScriptedDesktop::messages() const {
    std::vector<std::string> out;
    for (const Shown& each : alerts) out.push_back(each.alert.message);
    return out;
}

const ScriptedDesktop::Shown* ScriptedDesktop::last(const std::string& message) const {
    for (auto it = alerts.rbegin(); it != alerts.rend(); ++it)
        if (it->alert.message == message) return &*it;
    return nullptr;
}

void ScriptedDesktop::setOpensAtLogin(bool on) {
    if (!loginFailure.empty()) throw Error(loginFailure);
    loginItem = on;
}

}  // namespace brindle::test
