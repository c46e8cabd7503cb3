#include "dropbox/DropboxHash.h"

#include "common/Error.h"

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace brindle::DropboxHash {

namespace {

struct DigestDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

// The running hash over the block digests.
class Outer {
public:
    Outer() : context_(EVP_MD_CTX_new()) { EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr); }
    void addBlock(const unsigned char* data, size_t size) {
        unsigned char digest[SHA256_DIGEST_LENGTH];
        unsigned int length = 0;
        EVP_Digest(data, size, digest, &length, EVP_sha256(), nullptr);
        EVP_DigestUpdate(context_.get(), digest, length);
    }
    std::string hex() {
        unsigned char digest[SHA256_DIGEST_LENGTH];
        unsigned int length = 0;
        EVP_DigestFinal_ex(context_.get(), digest, &length);
        static const char* kDigits = "0123456789abcdef";
        std::string text;
        for (unsigned int i = 0; i < length; ++i) {
            text += kDigits[digest[i] >> 4];
            text += kDigits[digest[i] & 15];
        }
        return text;
    }

private:
    std::unique_ptr<EVP_MD_CTX, DigestDeleter> context_;
};

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
    std::vector<unsigned char> block(kBlockSize);
    Outer outer;
    while (true) {
        // Fill a whole block unless the file ends first.
        size_t filled = 0;
        while (filled < kBlockSize) {
            ssize_t got = ::read(fd, block.data() + filled, kBlockSize - filled);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) throw Error("Could not read " + file.string() + ": " + std::strerror(errno));
            if (got == 0) break;
            filled += static_cast<size_t>(got);
        }
        if (filled == 0) break;
        outer.addBlock(block.data(), filled);
        if (filled < kBlockSize) break;
    }
    return outer.hex();
}

std::string ofBytes(std::string_view bytes) {
    Outer outer;
    for (size_t at = 0; at < bytes.size(); at += kBlockSize) {
        size_t size = std::min(kBlockSize, bytes.size() - at);
        outer.addBlock(reinterpret_cast<const unsigned char*>(bytes.data()) + at, size);
    }
    return outer.hex();
}

}  // namespace brindle::DropboxHash
