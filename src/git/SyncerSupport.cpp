#include "git/SyncerSupport.h"

#include <charconv>

#include "common/Text.h"

namespace brindle::SyncerSupport {

std::vector<Record> parseRecords(const std::vector<std::string>& fields) {
    std::vector<Record> records;
    for (size_t i = 0; i < fields.size();) {
        const std::string& status = fields[i];
        size_t paths = (!status.empty() && (status[0] == 'R' || status[0] == 'C')) ? 2 : 1;
        if (status.empty() || i + paths >= fields.size()) break;
        records.push_back({status, fields[i + paths]});
        i += paths + 1;
    }
    return records;
}

std::map<std::string, long long> treeSizes(const std::vector<std::string>& fields) {
    std::map<std::string, long long> sizes;
    for (const std::string& field : fields) {
        size_t tab = field.find('\t');
        if (tab == std::string::npos) continue;
        std::vector<std::string> pieces;
        for (std::string& piece : Text::split(std::string_view(field).substr(0, tab), ' '))
            if (!piece.empty()) pieces.push_back(std::move(piece));
        if (pieces.size() < 4) continue;
        long long size = 0;
        const std::string& text = pieces[3];
        auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), size);
        if (failure != std::errc() || end != text.data() + text.size()) continue;
        sizes[field.substr(tab + 1)] = size;
    }
    return sizes;
}

std::string relativePath(const std::filesystem::path& folder, const std::filesystem::path& item) {
    std::string base = folder.lexically_normal().string();
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    std::string full = item.lexically_normal().string();
    if (!Text::startsWith(full, base + "/")) return "";
    return full.substr(base.size() + 1);
}

long long fileSize(const std::filesystem::path& path) {
    std::error_code ec;
    auto size = std::filesystem::file_size(path, ec);
    return ec ? 0 : static_cast<long long>(size);
}

}  // namespace brindle::SyncerSupport
