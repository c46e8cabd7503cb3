#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "common/MainLoop.h"
#include "integrations/ContactsSync.h"
#include "integrations/PlaudSync.h"

namespace brindle {

class SerialQueue;

// Runs the two background imports beside folder syncing, Plaud meeting notes
// into root/"Meetings" and Google contacts into root/"Contacts": at start, on
// timers (15 minutes, 6 hours), after a wake and on demand. One import of a
// kind never runs twice at once, and the two never overlap: both run on the
// serial queue "larder.integrations". Keeps one status line per import for
// the menu. Timers and posted tasks hold the object weakly.
//
// Create with create(); call the members from the main loop's thread unless
// a member says otherwise.
class Integrations : public std::enable_shared_from_this<Integrations> {
public:
    // What a run does; replaceable so the scheduling can be checked on its own.
    struct Runners {
        std::function<PlaudSync::Result(const std::filesystem::path& meetings, bool backfill,
                                        const PlaudSync::Progress& progress)>
            plaud;
        std::function<ContactsSync::Result(const std::filesystem::path& contacts)> contacts;
        std::function<std::chrono::system_clock::time_point()> now;
    };

    static constexpr double kPlaudPeriod = 900;       // 15 minutes
    static constexpr double kContactsPeriod = 21600;  // 6 hours

    // Creates nothing on disk. Default runners run PlaudSync and ContactsSync.
    static std::shared_ptr<Integrations> create(std::filesystem::path root, MainLoop& loop, Runners runners = {});
    ~Integrations();
    Integrations(const Integrations&) = delete;
    Integrations& operator=(const Integrations&) = delete;

    // Called after the menu changes a status line, on the main loop.
    void setOnChange(std::function<void()> onChange);

    // Arms the two repeating timers and the first runs (Plaud after 10 s,
    // contacts after 15 s). Call once, after setOnChange.
    void start();
    // The computer woke from sleep: Plaud after 20 s, contacts after 30 s.
    void wake();

    void syncPlaud(bool backfill, double after);
    void syncContacts(double after);

    // Copies a Loft notes checkout ("meetings", "contacts",
    // "corvane-intelligence") into the matching Larder folders, never
    // replacing what is there and skipping entries whose name starts with
    // ".". Returns the number of entries copied. Throws IntegrationError when
    // the folder is no checkout, brindle::Error on the first file-system
    // failure (what was copied stays). Blocking: call it off the main loop.
    int importLoft(const std::filesystem::path& from);

    const std::filesystem::path& root() const { return root_; }
    const std::filesystem::path& meetingsURL() const { return meetings_; }
    const std::filesystem::path& contactsURL() const { return contacts_; }
    std::string plaudLine() const;
    std::string contactsLine() const;

    // Blocks until every import queued so far has finished. Any thread but
    // the queue's own.
    void waitUntilIdle();

private:
    Integrations(std::filesystem::path root, MainLoop& loop, Runners runners);

    void schedule(const std::string& name, double after, std::function<void()> work);
    void runPlaud(bool backfill);
    void runContacts();
    // Turns a failed run into its status line and, unless not configured, a log line.
    void report(const std::exception& failure, const std::string& prefix,
                void (Integrations::*set)(const std::string&));
    void setPlaud(const std::string& text);
    void setContacts(const std::string& text);
    void setLine(std::string Integrations::*line, const std::string& text);
    std::string timeSuffix() const;

    std::filesystem::path root_, meetings_, contacts_;
    MainLoop& loop_;
    Runners runners_;
    std::function<void()> onChange_;
    std::vector<MainLoop::TimerId> timers_;

    mutable std::mutex linesMutex_;  // guards plaudLine_ and contactsLine_
    std::string plaudLine_ = "Plaud: waiting\u2026";
    std::string contactsLine_ = "Contacts: waiting\u2026";

    std::mutex runningMutex_;  // guards running_
    std::set<std::string> running_;

    // Last member: destroyed first, finishing queued imports while the rest
    // of the object is still alive.
    std::unique_ptr<SerialQueue> queue_;
};

// The local time of day as the menu shows it, e.g. "9:41 AM".
std::string shortLocalTime(std::chrono::system_clock::time_point time);

}  // namespace brindle
