#include <iostream>

#include "app/Modes.h"
#include "common/Files.h"
#include "common/Text.h"
#include "engine/EngineConfig.h"
#include "engine/SyncEngine.h"
#include "morsels/Morsels.h"
#include "service/Brindle.h"
#include "sharing/ShareOffers.h"
#include "sharing/Sharing.h"

namespace brindle::Modes {

namespace {

Brindle::Account signedInAccount() {
    std::optional<Brindle::Account> account = Brindle::account();
    if (!account) throw Error(Morsels::kSignInFirst);
    return *account;
}

// One sync pass of the folder before the service is asked to share, so that
// copied files reach the cloud store; its outcome is not looked at (a path
// that did not arrive shows up as the service's "not found").
Sharing::SyncStep syncPass(const std::shared_ptr<SyncEngine>& engine) {
    return [engine] { engine->syncOnceExclusive(); };
}

}  // namespace

int share(const Args& args) {
    Brindle::Account account = signedInAccount();
    std::shared_ptr<SyncEngine> engine = SyncEngine::create();
    const EngineConfig& config = engine->config();
    std::vector<std::filesystem::path> files(args.begin() + 3, args.end());
    // The command line does not pause between "not found" answers: the sync
    // pass has already finished when the service is asked.
    Brindle::ShareOutcome outcome = Sharing::share(
        files, {args.at(2)}, "", config.folder, account, syncPass(engine), [](double) {},
        [](const std::string& line) { std::cout << line << std::endl; });
    std::cout << "Shared with " << Text::printable(Text::joined(outcome.shared, ", ")) << std::endl;
    return 0;
}

int sharedFolderCheck(const Args&) {
    EngineConfig config = EngineConfig::fromEnvironment();
    ShareOffers offers(config.folder / "Shared", config.stateDir / "shared-offered.json");
    std::optional<Brindle::Account> account = Brindle::account();
    std::optional<std::string> answer = Files::env("BRINDLE_SHARE_ANSWER");
    std::vector<std::string> addresses;
    if (account && answer && !answer->empty()) {
        addresses = Brindle::splitEmails({*answer});
        // Checked before the check records anything, so the files stay new.
        if (addresses.empty()) throw Error("BRINDLE_SHARE_ANSWER holds no e-mail address.");
    }
    if (addresses.empty()) {
        for (const std::string& file : offers.check()) std::cout << "NEW " << Text::printable(file) << std::endl;
        return 0;
    }
    // A file counts as offered only once it was shared: after a failure it
    // and the files after it come up again at the next check.
    for (const std::string& file : offers.pending()) {
        Brindle::share(*account, {file}, addresses, "");
        offers.markOffered({file});
        std::cout << "SHARED " << Text::printable(file) << std::endl;
    }
    return 0;
}

}  // namespace brindle::Modes
