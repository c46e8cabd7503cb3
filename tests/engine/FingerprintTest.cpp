#include "engine/Fingerprint.h"

#include <gtest/gtest.h>
#include "support/TempDir.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;

TEST(FingerprintTest, ChangesWithEveryKindOfEdit) {
    test::TempDir temp;
    fs::path folder = temp / "Larder";
    EXPECT_EQ(fingerprint(folder), fingerprint(temp / "missing-too"));  // a missing folder hashes as empty
    test::writeFile(folder / "a.txt", "one");
    test::writeFile(folder / "sub" / "b.txt", "two");
    std::vector<size_t> seen{fingerprint(folder)};
    auto changed = [&] {
        seen.push_back(fingerprint(folder));
        return std::count(seen.begin(), seen.end(), seen.back()) == 1;
    };
    EXPECT_FALSE(changed());
    fs::last_write_time(folder / "a.txt", fs::last_write_time(folder / "a.txt") + std::chrono::milliseconds(1));
    EXPECT_TRUE(changed());  // same size, new time within the same second
    fs::rename(folder / "sub" / "b.txt", folder / "sub" / "renamed.txt");
    EXPECT_TRUE(changed());
}

}  // namespace
}  // namespace brindle
