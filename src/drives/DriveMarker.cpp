#include "drives/DriveMarker.h"

#include "common/Files.h"
#include "common/IsoDate.h"

#include <nlohmann/json.hpp>

namespace brindle::DriveMarker {

std::optional<std::string> read(const std::filesystem::path& root) {
    std::optional<std::string> bytes = Files::read(root / kFileName);
    if (!bytes) return std::nullopt;
    nlohmann::json marker = nlohmann::json::parse(*bytes, nullptr, false);
    if (!marker.is_object()) return std::nullopt;
    auto id = marker.find("drive_id");
    if (id == marker.end() || !id->is_string()) return std::nullopt;
    return id->get<std::string>();
}

void write(const std::filesystem::path& root, const std::string& id) {
    nlohmann::json marker = {{"v", 1}, {"drive_id", id}, {"created", IsoDate::formatSeconds(IsoDate::nowSeconds())}};
    Files::writeAtomically(root / kFileName, marker.dump());
}

}  // namespace brindle::DriveMarker
