#include <gtest/gtest.h>

#include "common/DropboxHash.h"
#include "common/Error.h"
#include "support/Expect.h"
#include "support/TempDir.h"

using namespace brindle;

TEST(DropboxHash, FilesHashLikeTheirBytesInFourMegabyteBlocks) {
    EXPECT_EQ(DropboxHash::ofBytes("hello"), "9595c9df90075148eb06860365df33584b75bff782a510c6cd4883a419833d50");
    EXPECT_EQ(DropboxHash::ofBytes(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    test::TempDir folder;
    for (size_t size : {size_t{0}, DropboxHash::kBlockSize - 1, DropboxHash::kBlockSize, DropboxHash::kBlockSize + 1}) {
        std::string content(size, 'a');
        if (size) content[size / 2] = 'z';
        test::writeFile(folder / "f", content);
        EXPECT_EQ(DropboxHash::of(folder / "f"), DropboxHash::ofBytes(content)) << size;
    }
    EXPECT_THROW_WITH(DropboxHash::of("/no/such/file"), Error, "/no/such/file");
}
