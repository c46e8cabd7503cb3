#pragma once

#include <filesystem>
#include <string>

// The guard against a pass that would delete most of a side at once: more
// than half of the files both sides last agreed on, and more than
// kFloor files. Such deletions wait for the user's answer, which a small
// file in the state folder carries to the store's next run.
namespace brindle::DeletionGuard {

constexpr long long kFloor = 50;

// true when deleting gone of known files needs the user's answer.
bool tooMany(long long gone, long long known);

enum class Answer {
    none,        // not asked: hold the deletions
    deleteThem,  // delete them on the other side too
    keepThem,    // put them back on the side they vanished from
};

// Records the answer for store's next run (store: its name, "Dropbox", a
// drive's label or "GitHub"). Throws brindle::Error when it cannot be written.
void answer(const std::filesystem::path& stateDir, const std::string& store, Answer answer);
// The recorded answer for store, removed as it is read: it holds for one run.
Answer take(const std::filesystem::path& stateDir, const std::string& store);

}  // namespace brindle::DeletionGuard
