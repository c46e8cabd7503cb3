#include "sharing/Sharing.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "devserver/BrindleService.h"
#include "devserver/DevServer.h"
#include "sharing/BrindleShares.h"
#include "support/TempDir.h"

namespace brindle {
namespace {

using devserver::Fault;
using Strings = std::vector<std::string>;

const Fault kNotFound{
    Fault::Kind::Status, 404, R"({"error":"not_found","message":"Shared/a.txt isn't in your Larder yet."})", {}};

// The sharing flow against the stand-in; the wait only counts.
class SharingTest : public ::testing::Test {
protected:
    void SetUp() override {
        server_.start();
        account_ = {server_.url(), "tok"};
        test::writeFile(outside_ / "a.txt", "a");
    }
    Brindle::ShareOutcome share() {
        return Sharing::share(
            {outside_ / "a.txt"}, {"Ann@X.org"}, "see this", home_ / "Larder", account_,
            [this] { steps_.push_back("sync"); }, [this](double seconds) { waits_.push_back(seconds); },
            [this](const std::string& line) { steps_.push_back(line); });
    }
    std::string refusal() {
        try {
            share();
        } catch (const Brindle::ShareFailure& failure) {
            return failure.code() + ": " + failure.what();
        }
        return "shared";
    }

    devserver::DevServer server_;
    Brindle::Account account_;
    test::TempDir home_, outside_;
    std::vector<double> waits_;
    Strings steps_;
};

TEST_F(SharingTest, CopiesSyncsThenSharesRetryingNotFoundFourTimesFifteenSecondsApart) {
    server_.injectFault("/api/v1/shares", kNotFound, 4);
    EXPECT_EQ(share().shared, Strings{"ann@x.org"});
    EXPECT_EQ(steps_, (Strings{"Copied a.txt into your Larder (Shared/).", "sync"}));
    EXPECT_EQ(server_.brindle().shares().at(0)["note"], "see this");
    EXPECT_EQ(waits_, (std::vector<double>{15, 15, 15, 15}));
    waits_.clear();
    server_.clearRequests();
    server_.injectFault("/api/v1/shares", kNotFound, 5);
    EXPECT_EQ(refusal(), "not_found: Shared/a.txt isn't in your Larder yet.");
    EXPECT_EQ(std::to_string(waits_.size()) + " waits, " + std::to_string(server_.requestsTo("/api/v1/shares").size()) +
                  " requests",
              "4 waits, 5 requests");
}

TEST(SharingTextTest, AddressesAreSplitTrimmedAndLoweredAndTheOutcomeNamesFailedEmails) {
    EXPECT_EQ(Brindle::splitEmails({"Ann@Example.COM, bob@x.org;ann@example.com", "\tÉLODIE@x.fr\n\nbob@x.org ;",
                                    "\u00A0Ann@example.com\u00A0", "ann@example.com\u202F"}),  // pasted no-break spaces
              (Strings{"ann@example.com", "bob@x.org", "élodie@x.fr"}));
    EXPECT_EQ(Sharing::outcomeText({"a.pdf"}, {{"ann@x.org"}, {"bob@y.org", "cy@z.org"}}, "https://s"),
              "\u201Ca.pdf\u201D is shared with ann@x.org. They were emailed a link that works for 3 days. We couldn't "
              "email bob@y.org, cy@z.org; they can ask for a link at https://s/shared/link.");
}

}  // namespace
}  // namespace brindle
