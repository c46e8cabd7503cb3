#include "sharing/ShareOffers.h"

#include "common/Files.h"
#include "common/Log.h"
#include "common/Text.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <sys/stat.h>

namespace brindle {

namespace fs = std::filesystem;

namespace {

constexpr auto kSettleTime = std::chrono::seconds(3);

bool leftOutByName(const std::string& name) {
    if (name.empty() || name[0] == '.') return true;  // hidden, and our own ".brindle-tmp-" files
    for (const char* suffix : {".part", ".crdownload", ".tmp", "~", ".icloud"})
        if (Text::endsWith(name, suffix)) return true;
    return name == "Icon\r";
}

std::optional<ShareOffers::Signatures> stored(const fs::path& state) {
    std::optional<std::string> text = Files::read(state);
    if (!text) return std::nullopt;
    nlohmann::json json = nlohmann::json::parse(*text, nullptr, false);
    if (!json.is_object()) return std::nullopt;
    ShareOffers::Signatures map;
    for (const auto& [key, value] : json.items()) {
        if (!value.is_string()) return std::nullopt;
        map[key] = value.get<std::string>();
    }
    return map;
}

}  // namespace

ShareOffers::ShareOffers(fs::path dir, fs::path state, std::function<Clock::time_point()> now)
    : dir_(std::move(dir)), state_(std::move(state)), now_(std::move(now)) {}

bool ShareOffers::eligible(const fs::directory_entry& entry, Clock::time_point now) const {
    std::error_code error;
    if (!entry.is_regular_file(error) || leftOutByName(entry.path().filename().string())) return false;
    struct stat info {};
    if (::stat(entry.path().c_str(), &info) != 0) return false;
    // To the nanosecond: a file written at 10.9 s is not settled at 13.5 s.
    auto modified = Clock::time_point(std::chrono::duration_cast<Clock::duration>(
        std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec)));
    return modified + kSettleTime <= now;
}

ShareOffers::Signatures ShareOffers::signatures() const {
    Signatures map;
    std::error_code error;
    // Walk the resolved folder, so that keys do not depend on how it was reached.
    fs::path root = fs::canonical(dir_, error);
    if (error) return map;
    const Clock::time_point now = now_();
    auto options = fs::directory_options::skip_permission_denied;
    for (fs::recursive_directory_iterator it(root, options, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (!name.empty() && name[0] == '.') {
            if (it->is_directory(error)) it.disable_recursion_pending();
            error.clear();
            continue;
        }
        if (!eligible(*it, now)) continue;
        struct stat info {};
        if (::stat(it->path().c_str(), &info) != 0) continue;
        std::string relative = it->path().lexically_relative(root).generic_string();
        if (!Text::isValidUTF8(relative)) {
            // The state file is JSON, which holds only UTF-8 names.
            Log::write("Share offers: left out " + Text::lossyUTF8(relative) + ": its name is not valid UTF-8");
            continue;
        }
        // Whole seconds, truncated toward zero also before 1970.
        long long seconds = info.st_mtim.tv_sec + (info.st_mtim.tv_sec < 0 && info.st_mtim.tv_nsec > 0 ? 1 : 0);
        map["Shared/" + relative] = std::to_string(info.st_size) + ":" + std::to_string(seconds);
    }
    return map;
}

std::vector<std::string> ShareOffers::check() {
    std::vector<std::string> fresh = pending();
    if (!fresh.empty()) markOffered(fresh);
    return fresh;
}

std::vector<std::string> ShareOffers::pending() {
    seen_ = signatures();
    std::optional<Signatures> known = stored(state_);
    if (!known) {
        save(seen_);
        return {};
    }
    std::vector<std::string> fresh;
    for (const auto& [key, signature] : seen_) {
        auto found = known->find(key);
        if (found == known->end() || found->second != signature) fresh.push_back(key);
    }
    return fresh;  // already sorted: the map's keys are in byte order
}

void ShareOffers::markOffered(const std::vector<std::string>& keys) {
    Signatures known = stored(state_).value_or(Signatures{});
    for (const std::string& key : keys) {
        auto seen = seen_.find(key);
        if (seen != seen_.end()) known[key] = seen->second;
    }
    save(known);
}

void ShareOffers::save(const Signatures& map) const {
    std::error_code error;
    fs::create_directories(state_.parent_path(), error);
    try {
        Files::writeAtomically(state_, nlohmann::json(map).dump());
    } catch (const std::exception& failure) {
        // The next check sees the old state and may offer the same files again.
        Log::write("Share offers: could not save " + state_.string() + ": " + failure.what());
    }
}

}  // namespace brindle
