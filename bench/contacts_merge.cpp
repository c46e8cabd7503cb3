// Merging contact records from three Google accounts and bringing an existing
// Contacts folder up to date: the whole local half of a contacts run (no
// network). Each size runs in a child process so that its peak memory is its
// own. Writes contacts_merge.md into $BRINDLE_BENCH_RESULTS.
#include <sys/resource.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "common/IsoDate.h"
#include "BenchMachine.h"
#include "common/Files.h"
#include "integrations/ContactStore.h"
#include "integrations/ContactsMerge.h"
#include "integrations/NoteText.h"

using namespace brindle;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Row {
    char where[16] = {};
    int records = 0;
    int existing = 0;
    int people = 0;
    int created = 0, updated = 0, unchanged = 0;
    double mergeSeconds = 0, loadSeconds = 0, upsertSeconds = 0;
    double cpuSeconds = 0;  // user + system time of the measured part
    long peakKB = 0;
};

double cpuTime() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

GoogleContact record(const std::string& account, int person, int copy) {
    GoogleContact contact;
    contact.account = account;
    contact.resourceName = "people/" + account + "-" + std::to_string(person);
    contact.etag = "%E" + std::to_string(person * 7 + copy);
    contact.displayName = "Person " + std::to_string(person) + (copy == 2 ? " Smith" : "");
    contact.givenName = "Person";
    contact.familyName = std::to_string(person);
    contact.emails = {"p" + std::to_string(person) + "@example.com"};
    if (copy == 1) contact.emails.push_back("p" + std::to_string(person) + "@work.example");
    contact.phones = {"+1 555 " + std::to_string(1000000 + person)};
    contact.organizations = {"Engineer at Company " + std::to_string(person % 300)};
    if (person % 5 == 0) contact.addresses = {std::to_string(person) + " Main Street\nSpringfield"};
    if (person % 3 == 0) contact.photoURL = "https://lh3.example/photo/" + std::to_string(person);
    return contact;
}

// records spread over three accounts (50%, 30%, 20%) drawn from a pool of
// people sized so that about a fifth of them appear in two accounts.
std::vector<GoogleContact> records(int count) {
    std::vector<GoogleContact> all;
    all.reserve(count);
    int first = count / 2, second = count * 3 / 10, third = count - first - second;
    for (int i = 0; i < first; ++i) all.push_back(record("home@gmail.com", i, 0));
    for (int i = 0; i < second; ++i) all.push_back(record("Work", first - second / 2 + i, 1));
    for (int i = 0; i < third; ++i) all.push_back(record("club@gmail.com", first + second / 2 + i, 2));
    return all;
}

Row measure(const fs::path& base, int count, int existing) {
    Row row;
    row.records = count;
    row.existing = existing;
    fs::path folder = base / ("brindle-bench-" + Files::newUUID().substr(0, 8)) / "Contacts";
    std::vector<GoogleContact> input = records(count);
    {
        // The folder as an earlier run left it: the first `existing` people.
        std::vector<MergedContact> earlier = ContactsMerge::merge(input);
        earlier.resize(std::min<size_t>(earlier.size(), existing));
        for (size_t i = 0; i < earlier.size(); i += 4) earlier[i].displayName += " (old name)";
        ContactStore seed(folder);
        for (const auto& person : earlier) seed.upsert(person, "2025-01-01T00:00:00Z");
        seed.commit();
    }
    ::sync();

    double cpuBefore = cpuTime();
    auto start = Clock::now();
    std::vector<MergedContact> merged = ContactsMerge::merge(input);
    auto mergedAt = Clock::now();
    ContactStore store(folder);
    auto loadedAt = Clock::now();
    std::string syncedAt = IsoDate::format(std::chrono::system_clock::now());
    for (const auto& person : merged) {
        switch (store.upsert(person, syncedAt)) {
            case ContactStore::Status::created:
                ++row.created;
                break;
            case ContactStore::Status::updated:
                ++row.updated;
                break;
            case ContactStore::Status::unchanged:
                ++row.unchanged;
                break;
        }
    }
    store.commit();
    auto doneAt = Clock::now();
    row.cpuSeconds = cpuTime() - cpuBefore;

    row.people = static_cast<int>(merged.size());
    row.mergeSeconds = std::chrono::duration<double>(mergedAt - start).count();
    row.loadSeconds = std::chrono::duration<double>(loadedAt - mergedAt).count();
    row.upsertSeconds = std::chrono::duration<double>(doneAt - loadedAt).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    row.peakKB = usage.ru_maxrss;
    std::error_code ignored;
    fs::remove_all(folder.parent_path(), ignored);
    return row;
}

// Runs measure() in a child process and reads its row back through a pipe.
Row measureApart(const fs::path& base, int count, int existing) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) std::exit(1);
    pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        // Each changed file writes a log line; keep them out of the table and any real log.
        ::setenv("LARDER_LOG", "/dev/null", 1);
        ::freopen("/dev/null", "w", stderr);
        Row row = measure(base, count, existing);
        std::snprintf(row.where, sizeof row.where, "%s", base == "/dev/shm" ? "memory" : "disk");
        ::write(pipeEnds[1], &row, sizeof row);
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    Row row;
    if (::read(pipeEnds[0], &row, sizeof row) != sizeof row) std::cerr << "child failed\n";
    ::close(pipeEnds[0]);
    ::waitpid(child, nullptr, 0);
    return row;
}

std::string fixed(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace

int main() {
    // The disk is where the Larder folder lives; /dev/shm (memory) shows the
    // program's own share of the time without the disk's.
    std::vector<Row> rows;
    for (const fs::path& base : {fs::temp_directory_path(), fs::path("/dev/shm")}) {
        if (!fs::is_directory(base)) continue;
        rows.push_back(measureApart(base, 20000, 15000));
        rows.push_back(measureApart(base, 40000, 30000));
    }
    std::ostringstream table;
    table << "## Contacts merge and store\n\n"
          << "Merging contact records of three accounts and bringing an existing Contacts folder up to date "
             "(load and index the folder, upsert every person, move the written files into place). "
          << "Machine: " << bench::machine() << ". Date: " << IsoDate::format(std::chrono::system_clock::now())
          << ".\n\n"
          << "| folder on | records | existing files | people | created / updated / unchanged | merge (s) | load (s) | "
             "upsert + write (s) | total (s) | CPU (s) | peak memory (MB) |\n"
          << "|---|---:|---:|---:|---|---:|---:|---:|---:|---:|---:|\n";
    for (const auto& row : rows) {
        double total = row.mergeSeconds + row.loadSeconds + row.upsertSeconds;
        table << "| " << row.where << " | " << row.records << " | " << row.existing << " | " << row.people << " | "
              << row.created << " / " << row.updated << " / " << row.unchanged << " | " << fixed(row.mergeSeconds, 3)
              << " | " << fixed(row.loadSeconds, 3) << " | " << fixed(row.upsertSeconds, 3) << " | " << fixed(total, 3)
              << " | " << fixed(row.cpuSeconds, 3) << " | " << fixed(row.peakKB / 1024.0, 1) << " |\n";
    }
    table << "\nGoal: under 2 s for 20,000 records, growing about linearly.\n";
    std::cout << table.str();
    if (const char* folder = std::getenv("BRINDLE_BENCH_RESULTS")) {
        fs::create_directories(folder);
        std::ofstream(fs::path(folder) / "contacts_merge.md") << table.str();
    }
    return 0;
}
