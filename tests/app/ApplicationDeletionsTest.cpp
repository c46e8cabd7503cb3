#include "ApplicationFixture.h"

#include "common/DeletionGuard.h"
#include "common/DeletionsHeld.h"

namespace brindle {
namespace {

// The first pass holds back a mass deletion on the drive; later ones succeed.
class ApplicationDeletionsTest : public test::ApplicationFixture {
protected:
    Application::Options heldOnce() {
        Application::Options made = options();
        made.prepare = [this](SyncEngine& engine) {
            engine.setPassRunner([this] {
                if (++passes > 1) return SyncResult{};
                DeletionsHeld held("Stick", DeletionsHeld::Side::here, 1204, 2000);
                SyncResult result;
                result.failure = std::make_exception_ptr(held);
                result.heldDeletions = {{"Stick", held.what()}};
                return result;
            });
        };
        return made;
    }
};

TEST_F(ApplicationDeletionsTest, EachAnswerIsRecordedForTheStoreAndAPassFollows) {
    const std::string message = "1,204 of 2,000 files are gone from Stick; nothing was deleted here.";
    for (auto [button, expected] :
         {std::pair{0, DeletionGuard::Answer::deleteThem}, std::pair{1, DeletionGuard::Answer::keepThem}}) {
        passes = 0;
        desktop.alerts.clear();
        signIn();
        std::filesystem::create_directories(folder());
        app = Application::create(loop, desktop, heldOnce());
        app->launch();
        ASSERT_TRUE(passesReach(1));
        const auto* shown = desktop.last(message);
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(shown->alert.buttons, (std::vector<std::string>{"Delete Them Here Too", "Keep Them"}));

        desktop.answerOpen(message, button);
        settle();
        EXPECT_EQ(DeletionGuard::take(home.path() / "state", "Stick"), expected);
        EXPECT_TRUE(passesReach(2));
        app.reset();
    }
}

}  // namespace
}  // namespace brindle
