// Integrations::importLoft: copying an existing notes checkout into the
// Larder folder.
#include "common/Files.h"
#include "common/Log.h"
#include "integrations/IntegrationError.h"
#include "integrations/Integrations.h"

namespace brindle {

namespace fs = std::filesystem;

namespace {

const std::pair<const char*, const char*> kLoftFolders[] = {
    {"meetings", "Meetings"},
    {"contacts", "Contacts"},
    {"corvane-intelligence", "Corvane Intelligence"},
};

[[noreturn]] void fail(const std::string& what, const fs::path& path, const std::error_code& error) {
    throw Error("Couldn't " + what + " " + path.string() + ": " + error.message());
}

// Copies one file or folder under a temporary name and renames it into
// place, so the folder sync never sees half a copy.
void copyEntry(const fs::path& source, const fs::path& target) {
    fs::path temporary = target.parent_path() / Files::temporaryName();
    std::error_code error;
    fs::copy(source, temporary, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
    if (!error) fs::rename(temporary, target, error);
    if (error) {
        std::error_code ignored;
        fs::remove_all(temporary, ignored);
        fail("copy", source, error);
    }
}

}  // namespace

int Integrations::importLoft(const fs::path& from) {
    int copied = 0;
    for (const auto& [sourceName, targetName] : kLoftFolders) {
        fs::path source = from / sourceName;
        std::error_code error;
        if (!fs::is_directory(source, error)) continue;
        fs::path target = root_ / targetName;
        fs::create_directories(target, error);
        if (error) fail("create", target, error);
        fs::directory_iterator it(source, error);
        if (error) fail("read", source, error);
        for (fs::directory_iterator end; it != end; it.increment(error)) {
            std::string name = it->path().filename().string();
            if (name.empty() || name[0] == '.') continue;
            // Existing files are the user's: never replace them.
            std::error_code missing;
            if (fs::exists(fs::symlink_status(target / name, missing))) continue;
            copyEntry(it->path(), target / name);
            ++copied;
        }
        if (error) fail("read", source, error);
    }
    std::error_code ignored;
    if (copied == 0 && !fs::exists(from / "meetings", ignored))
        throw IntegrationError("That folder doesn't look like a loft checkout (no meetings folder).");
    Log::write("Imported " + std::to_string(copied) + " file(s) from " + from.string());
    return copied;
}

}  // namespace brindle
