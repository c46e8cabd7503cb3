#include "integrations/StagedFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/Error.h"
#include "common/Files.h"

namespace brindle {

namespace fs = std::filesystem;

namespace {

void flushFolder(const fs::path& folder, bool everything) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    // One flush of the whole file system costs far less than one per file.
    if (everything)
        ::syncfs(fd);
    else
        ::fsync(fd);
    ::close(fd);
}

}  // namespace

StagedFiles::~StagedFiles() {
    try {
        commit();
    } catch (const std::exception&) {
        for (auto& pending : pending_) ::unlink(pending.temporary.c_str());
    }
}

void StagedFiles::stage(const fs::path& target, std::string_view bytes) {
    fs::path temporary = folder_ / Files::temporaryName();
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) throw Error(Files::errnoText("Could not create", temporary));
    if (!Files::writeAll(fd, bytes)) {
        std::string text = Files::errnoText("Could not write", target);
        ::close(fd);
        ::unlink(temporary.c_str());
        throw Error(text);
    }
    if (::close(fd) != 0) {
        std::string text = Files::errnoText("Could not write", target);
        ::unlink(temporary.c_str());
        throw Error(text);
    }
    pending_.push_back({temporary, target});
}

void StagedFiles::commit() {
    if (pending_.empty()) return;
    flushFolder(folder_, true);
    std::vector<Pending> pending;
    pending.swap(pending_);
    for (size_t i = 0; i < pending.size(); ++i) {
        if (::rename(pending[i].temporary.c_str(), pending[i].target.c_str()) != 0) {
            std::string text = Files::errnoText("Could not replace", pending[i].target);
            for (size_t j = i; j < pending.size(); ++j) ::unlink(pending[j].temporary.c_str());
            flushFolder(folder_, false);
            throw Error(text);
        }
    }
    flushFolder(folder_, false);
}

}  // namespace brindle
