// The account operations that say what the device syncs with and hand out
// short-lived access: configuration, Google tokens and sync reports.
#include "common/Files.h"
#include "common/Log.h"
#include "service/Brindle.h"
#include "service/JsonFields.h"

namespace brindle::Brindle {

namespace {

using nlohmann::json;

Answer readConfig(const Account& account) {
    return api("GET", "/api/v1/config", account);
}

// 200 passes; 401 is signed out; anything else cannot be used.
void requireConfig(const Answer& answer) {
    if (answer.status == 200) return;
    if (answer.status == 401) throw Failure::signedOut();
    throw Failure(Problem::other, "Brindle couldn't be reached" + httpSuffix(answer.status));
}

std::vector<std::string> storeList(const json& config) {
    const json* larder = JsonFields::object(config, "larder");
    const json* listed = larder ? JsonFields::array(*larder, "stores") : nullptr;
    if (listed && !listed->empty()) {
        std::vector<std::string> names;
        for (const json& entry : *listed)
            if (std::optional<std::string> provider = JsonFields::text(entry, "provider")) names.push_back(*provider);
        return names;
    }
    if (larder && JsonFields::isTrue(*larder, "connected"))
        if (std::optional<std::string> provider = JsonFields::text(*larder, "provider")) return {*provider};
    const json* connections = JsonFields::object(config, "connections");
    const json* github = connections ? JsonFields::object(*connections, "github") : nullptr;
    if (github && JsonFields::isTrue(*github, "connected")) return {"github"};
    return {};
}

std::vector<Drive> driveList(const json& config) {
    std::vector<Drive> drives;
    const json* listed = JsonFields::array(config, "drives");
    if (!listed) return drives;
    for (const json& entry : *listed) {
        std::optional<std::string> id = JsonFields::text(entry, "drive_id");
        std::optional<std::string> label = JsonFields::text(entry, "label");
        // The id names state files here: anything but a plain UUID could
        // lead outside the state folder.
        if (id && label && Files::isLowerUUID(*id))
            drives.push_back({*id, *label});
        else if (id && label)
            Log::write("Ignoring a drive from the service whose id is not a UUID");
    }
    return drives;
}

}  // namespace

std::vector<std::string> stores(const Account& account) {
    Answer answer = readConfig(account);
    requireConfig(answer);
    return storeList(answer.json);
}

LarderConfig larderConfig(const Account& account) {
    Answer answer = readConfig(account);
    requireConfig(answer);
    return {storeList(answer.json), driveList(answer.json)};
}

std::optional<std::string> connectedRepo(const Account& account) {
    Answer answer = readConfig(account);
    if (answer.status == 401) throw Failure::signedOut();
    const json* connections = JsonFields::object(answer.json, "connections");
    const json* github = connections ? JsonFields::object(*connections, "github") : nullptr;
    if (!github || !JsonFields::isTrue(*github, "connected")) return std::nullopt;
    return JsonFields::text(*github, "repo");
}

std::vector<GoogleAccount> googleAccounts(const Account& account) {
    Answer answer = readConfig(account);
    requireConfig(answer);
    std::vector<GoogleAccount> found;
    const json* connections = JsonFields::object(answer.json, "connections");
    if (!connections) return found;
    if (const json* listed = JsonFields::array(*connections, "google_accounts")) {
        for (const json& entry : *listed)
            if (std::optional<std::string> email = JsonFields::text(entry, "account"))
                found.push_back({*email, JsonFields::text(entry, "label").value_or("")});
        return found;
    }
    if (const json* emails = JsonFields::array(*connections, "google")) {
        for (const json& entry : *emails)
            if (entry.is_string()) found.push_back({entry.get<std::string>(), ""});
    }
    return found;
}

std::string googleToken(const std::string& email, const Account& account) {
    Answer answer = api("POST", "/api/v1/google/token", account, json{{"account", email}});
    if (answer.status == 200)
        if (std::optional<std::string> token = JsonFields::text(answer.json, "token")) return *token;
    if (answer.status == 401) throw Failure::signedOut();
    std::optional<std::string> code = answer.error();
    if (code == "google_needs_reconnect")
        throw Failure(Problem::other,
                      "Google needs you to reconnect " + email + ". Do that on " + defaultHost() + "/connections.");
    if (code == "google_not_connected")
        throw Failure(Problem::other,
                      email + " isn't connected any more. Connect it on " + defaultHost() + "/connections.");
    throw Failure(Problem::other, "Brindle couldn't get access to " + email + httpSuffix(answer.status));
}

void report(const Account& account, const std::vector<json>& events, const std::vector<json>& status) {
    if (events.empty() && status.empty()) return;
    try {
        api("POST", "/api/v1/sync/report", account, json{{"events", events}, {"status", status}});
    } catch (const std::exception&) {
        // A lost report changes nothing for the sync itself.
    }
}

}  // namespace brindle::Brindle
