#include "integrations/Integrations.h"

#include <langinfo.h>

#include <ctime>

#include "common/Log.h"
#include "common/SerialQueue.h"
#include "common/Text.h"
#include "integrations/IntegrationError.h"

namespace brindle {

namespace fs = std::filesystem;

namespace {

constexpr size_t kShownMessageLength = 70;

Integrations::Runners withDefaults(Integrations::Runners runners) {
    if (!runners.plaud)
        runners.plaud = [](const fs::path& meetings, bool backfill, const PlaudSync::Progress& progress) {
            return PlaudSync(meetings).run(backfill, std::nullopt, progress);
        };
    if (!runners.contacts) runners.contacts = [](const fs::path& contacts) { return ContactsSync::run(contacts); };
    if (!runners.now) runners.now = std::chrono::system_clock::now;
    return runners;
}

}  // namespace

std::string shortLocalTime(std::chrono::system_clock::time_point time) {
    std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm local{};
    localtime_r(&seconds, &local);
    // Locales with an AM/PM marker read the hour on a 12-hour clock.
    const char* am = nl_langinfo(AM_STR);
    bool twelveHour = am && *am;
    char text[32];
    std::strftime(text, sizeof text, twelveHour ? "%I:%M %p" : "%H:%M", &local);
    std::string shown = text;
    if (twelveHour && shown[0] == '0') shown.erase(0, 1);
    return shown;
}

std::shared_ptr<Integrations> Integrations::create(fs::path root, MainLoop& loop, Runners runners) {
    return std::shared_ptr<Integrations>(new Integrations(std::move(root), loop, std::move(runners)));
}

Integrations::Integrations(fs::path root, MainLoop& loop, Runners runners)
    : root_(std::move(root)),
      meetings_(root_ / "Meetings"),
      contacts_(root_ / "Contacts"),
      loop_(loop),
      runners_(withDefaults(std::move(runners))),
      queue_(std::make_unique<SerialQueue>("larder.integrations")) {}

Integrations::~Integrations() {
    for (auto timer : timers_) loop_.cancel(timer);
    queue_.reset();  // lets queued imports finish while the members still exist
}

void Integrations::setOnChange(std::function<void()> onChange) {
    onChange_ = std::move(onChange);
}

void Integrations::start() {
    for (auto timer : timers_) loop_.cancel(timer);
    std::weak_ptr<Integrations> weak = weak_from_this();
    timers_ = {
        loop_.every(kPlaudPeriod,
                    [weak] {
                        if (auto self = weak.lock()) self->syncPlaud(false, 0);
                    }),
        loop_.every(kContactsPeriod,
                    [weak] {
                        if (auto self = weak.lock()) self->syncContacts(0);
                    }),
    };
    syncPlaud(false, 10);
    syncContacts(15);
}

void Integrations::wake() {
    syncPlaud(false, 20);
    syncContacts(30);
}

void Integrations::syncPlaud(bool backfill, double after) {
    schedule("plaud", after, [this, backfill] { runPlaud(backfill); });
}

void Integrations::syncContacts(double after) {
    schedule("contacts", after, [this] { runContacts(); });
}

void Integrations::schedule(const std::string& name, double after, std::function<void()> work) {
    std::weak_ptr<Integrations> weak = weak_from_this();
    loop_.after(after, [weak, name, work = std::move(work)] {
        auto self = weak.lock();
        if (!self) return;
        {
            std::lock_guard<std::mutex> guard(self->runningMutex_);
            // One of this kind is already queued or under way: it will pick
            // up whatever this request wanted.
            if (!self->running_.insert(name).second) return;
        }
        Integrations* raw = self.get();
        raw->queue_->async([raw, name, work] {
            work();
            std::lock_guard<std::mutex> guard(raw->runningMutex_);
            raw->running_.erase(name);
        });
    });
}

void Integrations::runPlaud(bool backfill) {
    setPlaud("Plaud: syncing\u2026");
    try {
        PlaudSync::Progress progress;
        if (backfill) progress = [this](const std::string& text) { setPlaud("Plaud: " + text); };
        PlaudSync::Result result = runners_.plaud(meetings_, backfill, progress);
        std::string line =
            result.written < 1 ? "Plaud: up to date" : "Plaud: " + std::to_string(result.written) + " new";
        if (result.notReady >= 1) line += ", " + std::to_string(result.notReady) + " still processing";
        setPlaud(line + timeSuffix());
        if (result.written >= 1) Log::write("Plaud: wrote " + std::to_string(result.written) + " note(s)");
    } catch (const std::exception& failure) {
        report(failure, "Plaud", &Integrations::setPlaud);
    }
}

void Integrations::runContacts() {
    setContacts("Contacts: syncing\u2026");
    try {
        ContactsSync::Result result = runners_.contacts(contacts_);
        std::string created = std::to_string(result.created), updated = std::to_string(result.updated);
        bool changed = result.created + result.updated >= 1;
        setContacts((changed ? "Contacts: " + created + " new, " + updated + " updated" : "Contacts: up to date") +
                    timeSuffix());
        if (changed) Log::write("Contacts: " + created + " created, " + updated + " updated");
    } catch (const std::exception& failure) {
        report(failure, "Contacts", &Integrations::setContacts);
    }
}

void Integrations::report(const std::exception& failure, const std::string& prefix,
                          void (Integrations::*set)(const std::string&)) {
    std::string message = failure.what();
    auto integration = dynamic_cast<const IntegrationError*>(&failure);
    if (!integration || !integration->notConfigured()) Log::write(prefix + " error: " + message);
    (this->*set)(prefix + ": " + Text::firstCharacters(message, kShownMessageLength));
}

std::string Integrations::timeSuffix() const {
    return " \u00b7 " + shortLocalTime(runners_.now());
}

void Integrations::setPlaud(const std::string& text) {
    setLine(&Integrations::plaudLine_, text);
}
void Integrations::setContacts(const std::string& text) {
    setLine(&Integrations::contactsLine_, text);
}

void Integrations::setLine(std::string Integrations::*line, const std::string& text) {
    std::weak_ptr<Integrations> weak = weak_from_this();
    loop_.post([weak, line, text] {
        auto self = weak.lock();
        if (!self) return;
        {
            std::lock_guard<std::mutex> guard(self->linesMutex_);
            (*self).*line = text;
        }
        if (self->onChange_) self->onChange_();
    });
}

std::string Integrations::plaudLine() const {
    std::lock_guard<std::mutex> guard(linesMutex_);
    return plaudLine_;
}

std::string Integrations::contactsLine() const {
    std::lock_guard<std::mutex> guard(linesMutex_);
    return contactsLine_;
}

void Integrations::waitUntilIdle() {
    queue_->sync([] {});
}

}  // namespace brindle
