#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "sharing/Sharing.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace brindle {
namespace {

namespace fs = std::filesystem;
using devserver::Fault;
using nlohmann::json;

const Fault kNotFound{Fault::Kind::Status, 404, R"({"error":"not_found","message":"Shared/a.txt isn't in your Larder yet."})", {}};

// The sharing flow in-process against the stand-in, with a wait that only
// counts, so the retries take no real time.
class SharingTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_.start();
        account_ = {server_.url(), "tok"};
        test::writeFile(outside_ / "a.txt", "a");
    }
    Brindle::ShareOutcome share(const std::vector<std::string>& emails = {"Ann@X.org"}) {
        return Sharing::share(
            {outside_ / "a.txt"}, emails, "see this", root_, account_, [this] { steps_.push_back("sync"); },
            [this](double seconds) { waits_.push_back(seconds); },
            [this](const std::string& line) { steps_.push_back(line); });
    }

    devserver::DevServer server_;
    Brindle::Account account_;  // on the stand-in once it listens
    test::TempDir home_;
    fs::path root_ = home_ / "Larder";
    test::TempDir outside_;
    std::vector<double> waits_;
    std::vector<std::string> steps_;
};

TEST_F(SharingTest, CopiesSyncsThenSharesWithTheNote) {
    share();
    EXPECT_EQ(steps_, (std::vector<std::string>{"Copied a.txt into your Larder (Shared/).", "sync"}));
    EXPECT_EQ(server_.brindle().shares().at(0)["note"], "see this");
}

TEST_F(SharingTest, NotFoundIsRetriedFourTimesFifteenSecondsApart) {
    server_.injectFault("/api/v1/shares", kNotFound, 4);
    EXPECT_EQ(share().shared, (std::vector<std::string>{"ann@x.org"}));
    EXPECT_EQ(waits_, (std::vector<double>{15, 15, 15, 15}));
    EXPECT_EQ(std::count(steps_.begin(), steps_.end(), "sync"), 1);

    waits_.clear();
    server_.clearRequests();
    server_.injectFault("/api/v1/shares", kNotFound, 5);
    try {
        share();
        ADD_FAILURE() << "shared";
    } catch (const Brindle::ShareFailure& failure) {
        EXPECT_EQ(failure.code(), "not_found");
        EXPECT_EQ(std::string(failure.what()), "Shared/a.txt isn't in your Larder yet.");
    }
    EXPECT_EQ(waits_.size(), 4u);
    EXPECT_EQ(server_.requestsTo("/api/v1/shares").size(), 5u);
}

TEST_F(SharingTest, OtherRefusalsAreNotRetried) {
    server_.injectFault("/api/v1/shares", Fault{Fault::Kind::Status, 500, "<html>oops</html>", {}});
    try {
        share();
        ADD_FAILURE() << "shared";
    } catch (const Brindle::ShareFailure& failure) {
        EXPECT_EQ(failure.code(), "");
        EXPECT_EQ(std::string(failure.what()), "Brindle couldn't share that (HTTP 500).");
    }
    server_.injectFault("/api/v1/shares", Fault{Fault::Kind::Status, 401, "{}", {}});
    EXPECT_THROW(share(), Brindle::Failure);
    EXPECT_TRUE(waits_.empty());
}

TEST_F(SharingTest, AnswerFieldsAreReadLeniently) {
    server_.injectFault("/api/v1/shares", Fault{Fault::Kind::Status, 200, R"({"result":{"email_failed":["b@y.org", 3]}})", {}});
    Brindle::ShareOutcome outcome = Brindle::share(account_, {"x"}, {"a@x.org", "b@y.org"}, "");
    EXPECT_EQ(outcome.shared, (std::vector<std::string>{"a@x.org", "b@y.org"}));
    EXPECT_EQ(outcome.emailFailed, (std::vector<std::string>{"b@y.org"}));
}

TEST(OutcomeTextTest, NamesFilesAddressesAndFailedEmails) {
    EXPECT_EQ(Sharing::outcomeText({"a.pdf", "b.txt"}, {{"ann@x.org", "bob@y.org"}, {}}, "https://s"),
              "\u201Ca.pdf, b.txt\u201D is shared with ann@x.org, bob@y.org. They were emailed a link that works for "
              "3 days.");
    EXPECT_EQ(Sharing::outcomeText({"a.pdf"}, {{"ann@x.org"}, {"bob@y.org", "cy@z.org"}}, "https://s"),
              "\u201Ca.pdf\u201D is shared with ann@x.org. They were emailed a link that works for 3 days. We couldn't "
              "email bob@y.org, cy@z.org; they can ask for a link at https://s/shared/link.");
}

}  // namespace
}  // namespace brindle
