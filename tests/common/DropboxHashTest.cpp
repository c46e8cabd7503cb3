#include <gtest/gtest.h>

#include "common/DropboxHash.h"
#include "common/Error.h"
#include "support/Expect.h"
#include "support/TempDir.h"

using namespace brindle;

TEST(DropboxHash, EmptyFileIsTheHashOfNothing) {
    test::TempDir folder;
    test::writeFile(folder / "empty", "");
    EXPECT_EQ(DropboxHash::of(folder / "empty"), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(DropboxHash::ofBytes(""), DropboxHash::of(folder / "empty"));
}

TEST(DropboxHash, BlockBoundariesMatchTheInMemoryHash) {
    test::TempDir folder;
    for (size_t size : {DropboxHash::kBlockSize - 1, DropboxHash::kBlockSize, DropboxHash::kBlockSize + 1}) {
        std::string content(size, 'a');
        content[size / 2] = 'z';
        test::writeFile(folder / "f", content);
        std::string hash = DropboxHash::of(folder / "f");
        EXPECT_EQ(hash, DropboxHash::ofBytes(content));
        EXPECT_EQ(hash.size(), 64u);
        EXPECT_EQ(hash.find_first_not_of("0123456789abcdef"), std::string::npos);
    }
    // one block of 4 MiB is the hash of that block's digest; a byte more adds a second block
    EXPECT_NE(DropboxHash::ofBytes(std::string(DropboxHash::kBlockSize, 'a')),
              DropboxHash::ofBytes(std::string(DropboxHash::kBlockSize + 1, 'a')));
}

TEST(DropboxHash, KnownValueOfDropboxsScheme) {
    // sha256(sha256("hello")) for a single block
    EXPECT_EQ(DropboxHash::ofBytes("hello"), "9595c9df90075148eb06860365df33584b75bff782a510c6cd4883a419833d50");
}

TEST(DropboxHash, UnreadableFileThrowsNamingIt) {
    EXPECT_THROW_WITH(DropboxHash::of("/no/such/file"), Error, "/no/such/file");
}
