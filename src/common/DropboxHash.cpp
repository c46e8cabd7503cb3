#include "common/DropboxHash.h"

#include "common/Error.h"

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <fcntl.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace brindle::DropboxHash {

namespace {

// Files are read in chunks of this size; each 4 MiB block is hashed as its
// chunks arrive, so memory stays at one chunk per thread.
constexpr size_t kChunk = size_t{1024} * 1024;

// The digest machinery of one thread, set up once: fetching the algorithm
// and allocating contexts per file would dominate the cost of small files.
class Hasher {
public:
    Hasher()
        : sha256_(EVP_MD_fetch(nullptr, "SHA256", nullptr)),
          inner_(EVP_MD_CTX_new()),
          outer_(EVP_MD_CTX_new()),
          chunk_(new unsigned char[kChunk]) {}
    ~Hasher() {
        EVP_MD_CTX_free(inner_);
        EVP_MD_CTX_free(outer_);
        EVP_MD_free(sha256_);
    }
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;

    unsigned char* chunk() { return chunk_.get(); }

    void start() {
        EVP_DigestInit_ex(outer_, sha256_, nullptr);
        EVP_DigestInit_ex(inner_, sha256_, nullptr);
        inBlock_ = 0;
    }
    // Feeds bytes that never cross a block boundary.
    void add(const unsigned char* data, size_t size) {
        EVP_DigestUpdate(inner_, data, size);
        inBlock_ += size;
        if (inBlock_ == kBlockSize) endBlock();
    }
    size_t roomInBlock() const { return kBlockSize - inBlock_; }
    std::string finish() {
        if (inBlock_ > 0) endBlock();
        unsigned char digest[SHA256_DIGEST_LENGTH];
        unsigned int length = 0;
        EVP_DigestFinal_ex(outer_, digest, &length);
        static const char* kDigits = "0123456789abcdef";
        std::string text(size_t{2} * length, '0');
        for (size_t i = 0; i < length; ++i) {
            text[2 * i] = kDigits[digest[i] >> 4];
            text[2 * i + 1] = kDigits[digest[i] & 15];
        }
        return text;
    }

private:
    void endBlock() {
        unsigned char digest[SHA256_DIGEST_LENGTH];
        unsigned int length = 0;
        EVP_DigestFinal_ex(inner_, digest, &length);
        EVP_DigestUpdate(outer_, digest, length);
        EVP_DigestInit_ex(inner_, sha256_, nullptr);
        inBlock_ = 0;
    }

    EVP_MD* sha256_;
    EVP_MD_CTX* inner_;
    EVP_MD_CTX* outer_;
    std::unique_ptr<unsigned char[]> chunk_;
    size_t inBlock_ = 0;
};

Hasher& hasher() {
    thread_local Hasher perThread;
    return perThread;
}

struct FileCloser {
    int fd;
    ~FileCloser() { ::close(fd); }
};

}  // namespace

std::string of(const std::filesystem::path& file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw Error("Could not read " + file.string() + ": " + std::strerror(errno));
    FileCloser closer{fd};
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return ofOpen(fd, file.string());
}

std::string ofOpen(int fd, const std::string& name) {
    Hasher& digest = hasher();
    digest.start();
    for (off_t at = 0;;) {
        ssize_t got = ::pread(fd, digest.chunk(), std::min(kChunk, digest.roomInBlock()), at);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw Error("Could not read " + name + ": " + std::strerror(errno));
        if (got == 0) break;
        digest.add(digest.chunk(), static_cast<size_t>(got));
        at += got;
    }
    return digest.finish();
}

std::string ofBytes(std::string_view bytes) {
    Hasher& digest = hasher();
    digest.start();
    auto data = reinterpret_cast<const unsigned char*>(bytes.data());
    for (size_t at = 0; at < bytes.size();) {
        size_t size = std::min(digest.roomInBlock(), bytes.size() - at);
        digest.add(data + at, size);
        at += size;
    }
    return digest.finish();
}

}  // namespace brindle::DropboxHash
