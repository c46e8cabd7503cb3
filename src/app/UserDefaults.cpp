#include "app/UserDefaults.h"

#include <nlohmann/json.hpp>

#include "common/Files.h"

namespace brindle {

namespace {

nlohmann::json readObject(const std::filesystem::path& file) {
    std::optional<std::string> text = Files::read(file);
    if (!text) return nlohmann::json::object();
    nlohmann::json parsed = nlohmann::json::parse(*text, nullptr, false);
    return parsed.is_object() ? parsed : nlohmann::json::object();
}

}  // namespace

UserDefaults::UserDefaults(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path UserDefaults::defaultFile() {
    return Files::xdgDir("XDG_CONFIG_HOME", ".config") / "brindle" / "settings.json";
}

std::optional<bool> UserDefaults::boolean(const std::string& key) const {
    nlohmann::json object = readObject(file_);
    auto found = object.find(key);
    if (found == object.end() || !found->is_boolean()) return std::nullopt;
    return found->get<bool>();
}

void UserDefaults::setBoolean(const std::string& key, bool value) {
    nlohmann::json object = readObject(file_);
    object[key] = value;
    std::error_code ignored;
    std::filesystem::create_directories(file_.parent_path(), ignored);
    Files::writeAtomically(file_, object.dump(2) + "\n");
}

}  // namespace brindle
