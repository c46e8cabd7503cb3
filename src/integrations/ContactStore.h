#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <unordered_map>

#include "integrations/GoogleContact.h"
#include "integrations/StagedFiles.h"

namespace brindle {

// One JSON file per person in the Contacts folder, found again by the Google
// resource names and e-mail addresses it records, so a renamed person keeps
// their file. The store owns only the keys it writes; every other key (id,
// created_at, enrichment, anything a user added) is carried over untouched.
// Built per run; not thread-safe.
class ContactStore {
public:
    enum class Status { created, updated, unchanged };

    // Creates dir (with its parents) and indexes the files already there;
    // unreadable or malformed files are skipped. Throws brindle::Error when
    // the folder cannot be created.
    explicit ContactStore(std::filesystem::path dir);

    // Creates or updates the person's file. Files are written atomically, in
    // batches: call commit() at the end of the run (the destructor does it
    // too, swallowing failures). Throws brindle::Error when writing fails;
    // what was written before stays.
    Status upsert(const MergedContact& person, const std::string& syncedAt);
    void commit();

    // The file of a person: by resource name first, then by e-mail address.
    std::optional<std::filesystem::path> find(const MergedContact& person) const;

    // A contact file's bytes: pretty, keys sorted, "/" not escaped, final LF.
    static std::string serialise(const nlohmann::json& document);

private:
    void index(const std::filesystem::path& file, const nlohmann::json& document);
    void save(const nlohmann::json& document, const std::filesystem::path& file);
    std::filesystem::path newFile(const std::string& displayName, std::string& id) const;

    std::optional<nlohmann::json> load(const std::filesystem::path& file) const;

    std::filesystem::path dir_;
    // Files written in this run and not yet moved into place, by path.
    std::unordered_map<std::string, nlohmann::json> staged_;
    std::unordered_map<std::string, std::filesystem::path> byEmail_;
    std::unordered_map<std::string, std::filesystem::path> byResource_;
    StagedFiles files_;  // last: commits while the rest still exists
};

}  // namespace brindle
