#include "integrations/ContactStore.h"

#include "common/Error.h"
#include "common/Files.h"
#include "common/Log.h"
#include "common/Text.h"
#include "integrations/NoteText.h"

namespace brindle {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr size_t kSlugLength = 60;
constexpr size_t kBatch = 2000;  // files moved into place per disk flush

// The keys compared to decide whether a file needs writing, in log order.
const char* const kComparedKeys[] = {"display_name",  "given_name", "family_name", "emails",    "phones",
                                     "organizations", "addresses",  "notes",       "photo_url", "sources"};

json fields(const MergedContact& person, const std::string& syncedAt) {
    json sources = json::array();
    for (const auto& source : person.sources) sources.push_back(json(source));
    return json{{"display_name", person.displayName},
                {"given_name", person.givenName},
                {"family_name", person.familyName},
                {"emails", person.emails},
                {"phones", person.phones},
                {"organizations", person.organizations},
                {"addresses", person.addresses},
                {"notes", person.notes},
                {"photo_url", person.photoURL ? json(*person.photoURL) : json(nullptr)},
                {"sources", sources},
                {"synced_at", syncedAt}};
}

// Two values are the same when their canonical JSON texts (keys sorted) are:
// arrays compare in order, objects regardless of key order, and numbers by
// their written form. Compared structurally, without writing the text.
bool sameValue(const json& a, const json& b) {
    if (a.is_number() && b.is_number()) return a.dump() == b.dump();
    if (a.type() != b.type()) return false;
    if (a.is_array()) {
        if (a.size() != b.size()) return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (!sameValue(a[i], b[i])) return false;
        return true;
    }
    if (a.is_object()) {
        if (a.size() != b.size()) return false;
        for (auto it = a.begin(); it != a.end(); ++it) {
            auto other = b.find(it.key());
            if (other == b.end() || !sameValue(it.value(), *other)) return false;
        }
        return true;
    }
    return a == b;
}

bool differs(const json& before, const json& after, const char* key) {
    auto old = before.find(key), now = after.find(key);
    if (old == before.end() || now == after.end()) return (old == before.end()) != (now == after.end());
    // Google hands out a new photo link now and then for the same picture;
    // a changed link alone is not worth rewriting the file.
    if (std::string_view(key) == "photo_url" && old->is_string() && now->is_string()) return false;
    return !sameValue(*old, *now);
}

}  // namespace

ContactStore::ContactStore(fs::path dir) : dir_(std::move(dir)), files_(dir_) {
    std::error_code error;
    fs::create_directories(dir_, error);
    if (error) throw Error("Couldn't create " + dir_.string() + ": " + error.message());
    for (fs::directory_iterator it(dir_, error), end; !error && it != end; it.increment(error)) {
        if (it->path().extension() != ".json") continue;
        auto text = Files::read(it->path());
        if (!text) continue;
        json document = json::parse(*text, nullptr, false);
        if (document.is_object()) index(it->path(), document);
    }
}

void ContactStore::index(const fs::path& file, const json& document) {
    auto emails = document.find("emails");
    if (emails != document.end() && emails->is_array())
        for (const auto& email : *emails)
            if (email.is_string()) byEmail_[NoteText::lowered(Text::trim(email.get<std::string>()))] = file;
    auto sources = document.find("sources");
    if (sources != document.end() && sources->is_array()) {
        for (const auto& source : *sources) {
            if (!source.is_object()) continue;
            auto name = source.find("resource_name");
            if (name != source.end() && name->is_string() && !name->get<std::string>().empty())
                byResource_[name->get<std::string>()] = file;
        }
    }
}

std::optional<fs::path> ContactStore::find(const MergedContact& person) const {
    for (const auto& source : person.sources) {
        auto name = source.find("resource_name");
        if (name == source.end()) continue;
        if (auto hit = byResource_.find(name->second); hit != byResource_.end()) return hit->second;
    }
    for (const auto& email : person.emails)
        if (auto hit = byEmail_.find(email); hit != byEmail_.end()) return hit->second;
    return std::nullopt;
}

std::string ContactStore::serialise(const json& document) {
    // nlohmann keeps object keys sorted and never escapes "/".
    return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

void ContactStore::save(const json& document, const fs::path& file) {
    if (files_.staged() >= kBatch) commit();
    files_.stage(file, serialise(document));
    staged_[file.string()] = document;
    index(file, document);
}

void ContactStore::commit() {
    staged_.clear();
    files_.commit();
}

std::optional<json> ContactStore::load(const fs::path& file) const {
    if (auto staged = staged_.find(file.string()); staged != staged_.end()) return staged->second;
    auto text = Files::read(file);
    json document = text ? json::parse(*text, nullptr, false) : json();
    if (!document.is_object()) return std::nullopt;
    return document;
}

fs::path ContactStore::newFile(const std::string& displayName, std::string& id) const {
    std::string slug = NoteText::slugify(displayName, kSlugLength);
    if (slug == "untitled") slug = "contact";
    std::error_code error;
    fs::path file;
    do {  // a fresh id never lands on an existing file
        std::string uuid = Files::newUUID();
        uuid.erase(std::remove(uuid.begin(), uuid.end(), '-'), uuid.end());
        id = Text::lowerASCII(uuid.substr(0, 8));
        file = dir_ / (slug + "-" + id + ".json");
    } while (fs::exists(file, error) || staged_.count(file.string()));
    return file;
}

ContactStore::Status ContactStore::upsert(const MergedContact& person, const std::string& syncedAt) {
    json updated = fields(person, syncedAt);
    auto existing = find(person);
    if (!existing) {
        std::string id;
        fs::path file = newFile(person.displayName, id);
        json document = updated;
        document["id"] = id;
        document["created_at"] = syncedAt;
        document["enrichment"] = json::object();
        save(document, file);
        return Status::created;
    }

    auto loaded = load(*existing);
    if (!loaded) return Status::unchanged;
    json& document = *loaded;

    std::string changed;
    for (const char* key : kComparedKeys)
        if (differs(document, updated, key)) changed += (changed.empty() ? "" : ", ") + std::string(key);
    if (changed.empty()) return Status::unchanged;

    Log::write("Contact " + existing->filename().string() + " changed: " + changed);
    for (auto& [key, value] : updated.items()) document[key] = value;
    if (!document.contains("enrichment")) document["enrichment"] = json::object();
    save(document, *existing);
    return Status::updated;
}

}  // namespace brindle
