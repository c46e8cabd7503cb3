#include "threeway/SyncState.h"

#include "threeway/RecordJSON.h"

#include <algorithm>

namespace brindle {

namespace {

using RecordJSON::Record;

constexpr unsigned kRemoteFields = Record::kPath | Record::kHash | Record::kRev | Record::kSize;
constexpr unsigned kBaseFields = kRemoteFields | Record::kMtimeNs;

void appendField(std::string& out, const char* name, const std::string& text) {
    out += '"';
    out += name;
    out += "\":";
    RecordJSON::appendString(out, text);
}

// `{"path":…,"hash":…,"rev":…,"size":…` — the fields remote and base
// records share; the caller adds its time field and the closing brace.
void appendRecordStart(std::string& out, const std::string& path, const ContentHash& hash, const std::string& rev,
                       int64_t size) {
    out += '{';
    appendField(out, "path", path);
    out += ',';
    appendField(out, "hash", hash.str());
    out += ',';
    appendField(out, "rev", rev);
    out += ",\"size\":";
    RecordJSON::appendNumber(out, size);
}

void appendRemote(std::string& out, bool& first, const std::string& key, const RemoteFile* file) {
    RecordJSON::appendMember(out, first, key, file != nullptr);
    if (!file) return;
    appendRecordStart(out, file->path, file->hash, file->rev, file->size);
    out += ",\"modified\":";
    RecordJSON::appendNumber(out, file->modified);
    out += '}';
}

void appendBase(std::string& out, bool& first, const std::string& key, const SyncBase* entry) {
    RecordJSON::appendMember(out, first, key, entry != nullptr);
    if (!entry) return;
    appendRecordStart(out, entry->path, entry->hash, entry->rev, entry->size);
    out += ",\"mtimeNs\":";
    RecordJSON::appendNumber(out, entry->mtimeNs);
    out += '}';
}

// The records a decoded record stands for; both take its texts over.
RemoteFile remoteFrom(Record& record) {
    return {std::move(record.path), std::move(record.hash), std::move(record.rev), record.size, record.modified};
}
SyncBase baseFrom(Record& record) {
    return {std::move(record.path), std::move(record.hash), std::move(record.rev), record.size, record.mtimeNs};
}

}  // namespace

std::optional<SyncState> SyncState::decode(std::string_view bytes) {
    SyncState state;
    bool haveAccount = false;
    RecordJSON::Reader reader;
    reader.topString = [&](const std::string& key, const std::string& value) {
        if (key == "account")
            state.account = value, haveAccount = true;
        else if (key == "cursor")
            state.cursor = value;
    };
    reader.record = [&](const std::string& section, std::string& key, Record&& record) {
        if (section == "remote") {
            if (!record.has(kRemoteFields)) return false;
            state.remote.emplace_hint(state.remote.end(), std::move(key), remoteFrom(record));
        } else if (section == "base") {
            if (!record.has(kBaseFields)) return false;
            state.base.emplace_hint(state.base.end(), std::move(key), baseFrom(record));
        }
        return true;
    };
    reader.restart = [&] {
        state = SyncState();
        haveAccount = false;
    };
    auto objects = RecordJSON::parse(bytes, reader);
    if (!objects || !haveAccount) return std::nullopt;
    auto has = [&](const char* key) { return std::find(objects->begin(), objects->end(), key) != objects->end(); };
    if (!has("remote") || !has("base")) return std::nullopt;
    return state;
}

std::string SyncState::encode() const {
    std::string out;
    out.reserve(64 + (remote.size() + base.size()) * 200);
    encode(out, [](std::string&) {});
    return out;
}

void SyncState::encode(std::string& out, const std::function<void(std::string&)>& pieces) const {
    out += '{';
    appendField(out, "account", account);
    if (cursor) {
        out += ',';
        appendField(out, "cursor", *cursor);
    }
    out += ",\"remote\":{";
    bool first = true;
    for (const auto& [key, file] : remote) {
        appendRemote(out, first, key, &file);
        pieces(out);
    }
    out += "},\"base\":{";
    first = true;
    for (const auto& [key, entry] : base) {
        appendBase(out, first, key, &entry);
        pieces(out);
    }
    out += "}}";
}

std::string SyncState::encodeChanges(const std::set<std::string>& keys) const {
    std::string out = "{";
    if (cursor) {
        appendField(out, "cursor", *cursor);
        out += ',';
    }
    out += "\"remote\":{";
    bool first = true;
    for (const std::string& key : keys) {
        auto file = remote.find(key);
        appendRemote(out, first, key, file == remote.end() ? nullptr : &file->second);
    }
    out += "},\"base\":{";
    first = true;
    for (const std::string& key : keys) {
        auto entry = base.find(key);
        appendBase(out, first, key, entry == base.end() ? nullptr : &entry->second);
    }
    out += "}}";
    return out;
}

bool SyncState::applyChanges(std::string_view bytes) {
    RecordJSON::Reader reader;
    reader.topString = [&](const std::string& key, const std::string& value) {
        if (key == "cursor") cursor = value;
    };
    reader.record = [&](const std::string& section, std::string& key, Record&& record) {
        if (section == "remote") {
            if (!record.has(kRemoteFields)) return false;
            remote.insert_or_assign(std::move(key), remoteFrom(record));
        } else if (section == "base") {
            if (!record.has(kBaseFields)) return false;
            base.insert_or_assign(std::move(key), baseFrom(record));
        }
        return true;
    };
    reader.removed = [&](const std::string& section, const std::string& key) {
        if (section == "remote") remote.erase(key);
        if (section == "base") base.erase(key);
    };
    // The full parser reads an unusual entry again from the start; setting
    // a record twice and erasing it twice come to the same.
    return RecordJSON::parse(bytes, reader).has_value();
}

std::optional<SyncState> SyncState::load(JournaledFile& file) {
    std::optional<SyncState> state;
    bool loaded = file.load(
        [&](std::string_view bytes) {
            state = decode(bytes);
            return state.has_value();
        },
        [&](std::string_view changes) { return state->applyChanges(changes); });
    return loaded ? std::move(state) : std::nullopt;
}

std::optional<SyncState> SyncState::load(const std::filesystem::path& file) {
    JournaledFile journaled(file);
    return load(journaled);
}

void SyncState::save(JournaledFile& file) const {
    file.saveAll([this](std::string& out, const std::function<void(std::string&)>& pieces) { encode(out, pieces); });
}

void SyncState::save(const std::filesystem::path& file) const {
    JournaledFile journaled(file);
    save(journaled);
}

bool SyncState::saveChanges(JournaledFile& file, const std::set<std::string>& keys) const {
    return file.saveChanges(encodeChanges(keys));
}

void SyncState::save(JournaledFile& file, const std::set<std::string>& changedKeys) const {
    file.save(
        changedKeys.size(), remote.size() + base.size(), [&] { return encodeChanges(changedKeys); },
        [this](std::string& out, const std::function<void(std::string&)>& pieces) { encode(out, pieces); });
}

}  // namespace brindle
