#include "support/ScriptedDesktop.h"

#include <algorithm>

#include "common/Error.h"
#include "service/Brindle.h"

namespace brindle::test {

namespace {

std::filesystem::path created(std::filesystem::path folder) {
    std::filesystem::create_directories(folder);
    return folder;
}

}  // namespace

ScriptedDesktop::ScriptedDesktop(MainLoop& loop, std::filesystem::path pasteboardFolder)
    : loop_(loop), pasteboard_(created(std::move(pasteboardFolder))) {}

void ScriptedDesktop::script(const std::string& message, int button, std::vector<std::string> texts, int selected) {
    script_.push_back({message, {button, std::move(texts), selected}});
}

void ScriptedDesktop::scriptChooser(std::vector<std::filesystem::path> chosen) {
    chooserScript_.push_back(std::move(chosen));
}

Desktop::AlertId ScriptedDesktop::showAlert(const Alert& alert, Answered answered) {
    Shown shown{nextId_++, alert, true, Brindle::account().has_value(), std::move(answered)};
    alerts.push_back(shown);
    auto found = std::find_if(script_.begin(), script_.end(),
                              [&](const Scripted& each) { return each.message == alert.message; });
    if (found != script_.end()) {
        AlertAnswer answer = found->answer;
        script_.erase(found);
        deliver(alerts.back(), answer);
    }
    return shown.id;
}

void ScriptedDesktop::deliver(Shown& shown, AlertAnswer answer) {
    AlertId id = shown.id;
    loop_.post([this, id, answer] {
        for (Shown& each : alerts) {
            if (each.id != id || !each.open) continue;
            each.open = false;
            // The answer may show the next alert and move this one.
            Answered answered = each.answered;
            answered(answer);
            return;
        }
    });
}

void ScriptedDesktop::answerOpen(const std::string& message, int button, std::vector<std::string> texts) {
    for (Shown& each : alerts)
        if (each.open && each.alert.message == message) return deliver(each, {button, std::move(texts), 0});
    throw Error("no open alert \"" + message + "\"");
}

void ScriptedDesktop::closeAlert(AlertId alert) {
    for (Shown& each : alerts)
        if (each.id == alert) each.open = false;
}

void ScriptedDesktop::choose(const FileChooser& chooser, Chosen chosen) {
    choosers.push_back(chooser);
    std::vector<std::filesystem::path> answer;
    if (!chooserScript_.empty()) {
        answer = chooserScript_.front();
        chooserScript_.pop_front();
    }
    loop_.post([chosen, answer] { chosen(answer); });
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

std::vector<const ScriptedDesktop::Shown*> ScriptedDesktop::open() const {
    std::vector<const Shown*> out;
    for (const Shown& each : alerts)
        if (each.open) out.push_back(&each);
    return out;
}

void ScriptedDesktop::setOpensAtLogin(bool on) {
    if (!loginFailure.empty()) throw Error(loginFailure);
    loginItem = on;
}

int ScriptedDesktop::registerHotKey() {
    if (hotKeyStatus != 0) return hotKeyStatus;
    if (!hotKeyRegistered) ++hotKeyRegistrations;
    hotKeyRegistered = true;
    return 0;
}

void ScriptedDesktop::showSettings(const SettingsView& view) {
    settings = view;
    ++settingsShown;
}

}  // namespace brindle::test
