#include "threeway/JournaledFile.h"

#include "common/Error.h"
#include "common/Files.h"
#include "common/Text.h"
#include "threeway/RecordJSON.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>

namespace brindle {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kJournalHeader = "brindle journal 1";
// The journal is folded into the file once it holds this share of the
// file's size: loading then reads at most half as much again.
constexpr int64_t kJournalShare = 2;
constexpr int64_t kJournalFloor = 1 << 20;
// Changes to more records than this share of them are written whole.
constexpr size_t kFewChanges = 8;

// An entry: "<length> <checksum>\n<bytes>\n".
std::string entryOf(std::string_view bytes) {
    return std::to_string(bytes.size()) + " " + std::to_string(Text::checksum(bytes)) + "\n" + std::string(bytes) +
           "\n";
}

// The entry at the start of rest: its bytes and its whole length, or
// nothing when it is cut short or damaged.
std::optional<std::pair<std::string_view, size_t>> entryAt(std::string_view rest) {
    size_t newline = rest.find('\n');
    if (newline == std::string_view::npos) return std::nullopt;
    std::string_view line = rest.substr(0, newline);
    size_t space = line.find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    size_t length = 0;
    uint64_t sum = 0;
    auto lengthRead = std::from_chars(line.data(), line.data() + space, length);
    auto sumRead = std::from_chars(line.data() + space + 1, line.data() + line.size(), sum);
    if (lengthRead.ec != std::errc() || lengthRead.ptr != line.data() + space || sumRead.ec != std::errc() ||
        sumRead.ptr != line.data() + line.size())
        return std::nullopt;
    size_t start = newline + 1;
    if (rest.size() - start < length + 1 || rest[start + length] != '\n') return std::nullopt;
    std::string_view bytes = rest.substr(start, length);
    if (Text::checksum(bytes) != sum) return std::nullopt;
    return std::pair(bytes, start + length + 1);
}

}  // namespace

JournaledFile::JournaledFile(fs::path file) : file_(std::move(file)), journal_(file_.string() + "-journal") {}

std::optional<JournaledFile::Stamp> JournaledFile::stampOf(const fs::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) return std::nullopt;
    return Stamp{info.st_dev, info.st_ino, info.st_size, Files::mtimeNs(info)};
}

std::string JournaledFile::header() const {
    return std::string(kJournalHeader) + " " + std::to_string(main_->device) + " " + std::to_string(main_->inode) +
           " " + std::to_string(main_->size) + " " + std::to_string(main_->mtimeNs) + "\n";
}

bool JournaledFile::load(const std::function<bool(std::string_view)>& decode,
                         const std::function<bool(std::string_view)>& apply) {
    main_.reset();
    written_.reset();
    journalBytes_ = 0;
    auto before = stampOf(file_);
    {
        RecordJSON::MappedFile mapped(file_.string());
        if (!mapped.readable() || !decode(mapped.bytes())) return false;
    }
    // Replaced while being read: the journal cannot be matched to it.
    if (before != stampOf(file_)) return true;
    main_ = before;
    if (main_) applyJournal(apply);
    return true;
}

void JournaledFile::applyJournal(const std::function<bool(std::string_view)>& apply) {
    auto stamp = stampOf(journal_);
    std::optional<std::string> bytes = Files::read(journal_);
    if (!stamp || !bytes) return;
    std::string expected = header();
    // A journal made against another file is not ours to extend.
    if (bytes->compare(0, expected.size(), expected) != 0) return;
    size_t at = expected.size();
    while (at < bytes->size()) {
        auto entry = entryAt(std::string_view(*bytes).substr(at));
        // A half-written last entry (a crash while appending) ends the journal.
        if (!entry || !apply(entry->first)) break;
        at += entry->second;
    }
    written_ = stamp;
    journalBytes_ = static_cast<int64_t>(at);
}

void JournaledFile::saveAll(const Encoder& encode) {
    std::error_code error;
    fs::create_directories(file_.parent_path(), error);
    if (error) throw Error("Could not create " + file_.parent_path().string() + ": " + error.message());
    // Written as it is encoded: a large file is never held twice in memory.
    Files::AtomicFile out(file_);
    std::string text;
    encode(text, [&](std::string& done) { out.writeWhenFull(done); });
    out.write(text);
    out.commit();
    main_ = stampOf(file_);
    // A journal left behind by a crash here names the old file and is
    // ignored when loading.
    if (::unlink(journal_.c_str()) != 0 && errno != ENOENT) throw Error(Files::errnoText("Could not remove", journal_));
    written_.reset();
    journalBytes_ = 0;
}

bool JournaledFile::saveChanges(std::string_view changes) {
    if (!main_ || stampOf(file_) != main_) return false;
    std::string entry = entryOf(changes);
    int64_t limit = std::max(kJournalFloor, main_->size / kJournalShare);
    if (journalBytes_ + static_cast<int64_t>(entry.size()) > limit) return false;

    if (written_ && stampOf(journal_) != written_) return false;  // not the journal we know
    if (!written_) {
        // No journal of ours yet (one left over from an earlier file is
        // replaced): start one in a single step.
        std::string bytes = header() + entry;
        Files::writeAtomically(journal_, bytes);
        written_ = stampOf(journal_);
        journalBytes_ = static_cast<int64_t>(bytes.size());
        return true;
    }
    int fd = ::open(journal_.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) throw Error(Files::errnoText("Could not open", journal_));
    // Whatever follows the sound part (a half-written entry) goes first.
    bool ok = ::ftruncate(fd, journalBytes_) == 0 && ::lseek(fd, journalBytes_, SEEK_SET) == journalBytes_ &&
              Files::writeAll(fd, entry) && ::fdatasync(fd) == 0;
    std::string failure = ok ? "" : Files::errnoText("Could not write", journal_);
    ::close(fd);
    if (!ok) {
        // What was appended may be partly on disk: the next save writes the
        // whole file rather than extend this journal.
        main_.reset();
        written_.reset();
        throw Error(failure);
    }
    journalBytes_ += static_cast<int64_t>(entry.size());
    written_ = stampOf(journal_);
    return true;
}

void JournaledFile::save(size_t changed, size_t records, const std::function<std::string()>& changes,
                         const Encoder& whole) {
    if (changed > records / kFewChanges || !saveChanges(changes())) saveAll(whole);
}

bool JournaledFile::unchanged() const {
    if (!main_ || stampOf(file_) != main_) return false;
    return stampOf(journal_) == written_;
}

}  // namespace brindle
