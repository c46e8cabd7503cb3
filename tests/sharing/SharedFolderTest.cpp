// Copies into "Shared": dates, links, and file systems that lack hard links.
#include "sharing/SharedFolder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/Error.h"
#include "support/Expect.h"
#include "support/TempDir.h"

namespace brindle {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;
using Names = std::vector<std::string>;

// place() in a child in which each listed system call fails with its errno;
// the shared path or the error.
std::string placeRefusing(const std::vector<std::pair<long, int>>& refused, const fs::path& file,
                          const fs::path& root) {
    int ends[2];
    if (::pipe(ends) != 0) return "no pipe";
    if (::fork() == 0) {
        std::vector<sock_filter> program{BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
        for (auto [call, error] : refused) {
            program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<__u32>(call), 0, 1));
            program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | static_cast<__u32>(error)));
        }
        program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
        sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter))
            ::_exit(1);
        std::string outcome;
        std::string failure = test::failureText([&] { outcome = SharedFolder::place({file}, root, nullptr).at(0); });
        if (outcome.empty()) outcome = failure;
        ::_exit(::write(ends[1], outcome.data(), outcome.size()) < 0);
    }
    ::close(ends[1]);
    std::string outcome(512, '\0');
    outcome.resize(std::max<ssize_t>(0, ::read(ends[0], outcome.data(), outcome.size())));
    ::close(ends[0]);
    ::wait(nullptr);
    return outcome;
}

Names namesIn(const fs::path& folder) {
    Names names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(SharedFolderTest, CopiesKeepOldDatesButAreNeverNewerThanAMinuteAgoAndLinksShareACopy) {
    test::TempDir root, outside;
    const Clock::time_point now = Clock::now();
    const time_t seconds = Clock::to_time_t(now);
    for (auto [name, written] : {std::pair{"old.txt", seconds - 600}, std::pair{"new.txt", seconds}}) {
        test::writeFile(outside / name, name);
        struct timespec times[2] = {{0, UTIME_OMIT}, {written, 0}};
        ::utimensat(AT_FDCWD, (outside / name).c_str(), times, 0);
    }
    fs::create_symlink(outside / "old.txt", root / "link.txt");
    EXPECT_EQ(SharedFolder::place({outside / "old.txt", outside / "new.txt", root / "link.txt"}, root.path(), {}, now),
              (Names{"Shared/old.txt", "Shared/new.txt", "Shared/link.txt"}));
    auto modified = [&](const char* name) {
        struct stat info {};
        return ::stat((root / "Shared" / name).c_str(), &info), info.st_mtim.tv_sec;
    };
    EXPECT_EQ(modified("old.txt"), seconds - 600);
    EXPECT_EQ(modified("new.txt"), seconds - 60);
    EXPECT_FALSE(fs::is_symlink(root / "Shared/link.txt"));
    EXPECT_EQ(namesIn(root / "Shared"), (Names{"link.txt", "new.txt", "old.txt"}));  // no temporary file left
}

TEST(SharedFolderTest, WithoutHardLinksACopyStillNeverReplacesAFile) {
    const std::vector<std::pair<long, int>> vfat{{SYS_link, EPERM}, {SYS_linkat, EPERM}};
    std::vector<std::pair<long, int>> fuse = vfat;  // nor a rename that refuses to replace
    fuse.push_back({SYS_renameat2, EINVAL});
    for (const auto& refused : {vfat, fuse}) {
        test::TempDir larder, outside;
        test::writeFile(larder / "Shared/report.pdf", "already shared");
        test::writeFile(outside / "report.pdf", "new report");
        EXPECT_EQ(placeRefusing(refused, outside / "report.pdf", larder.path()), "Shared/report (2).pdf");
        EXPECT_EQ(test::readFile(larder / "Shared/report.pdf") + "|" + test::readFile(larder / "Shared/report (2).pdf"),
                  "already shared|new report");
        EXPECT_EQ(namesIn(larder / "Shared"), (Names{"report (2).pdf", "report.pdf"}));
    }
}

}  // namespace
}  // namespace brindle
