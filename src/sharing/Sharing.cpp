#include "sharing/Sharing.h"

#include "common/Text.h"
#include "sharing/SharedFolder.h"

namespace brindle::Sharing {

Brindle::ShareOutcome share(const std::vector<std::filesystem::path>& files, const std::vector<std::string>& emails,
                            const std::string& note, const std::filesystem::path& root,
                            const Brindle::Account& account, const SyncStep& sync, const WaitStep& wait,
                            const SaidStep& said) {
    // Refuse a share that could reach nobody before copying or syncing anything.
    const std::vector<std::string> addresses = Brindle::splitEmails(emails);
    if (addresses.empty()) throw Brindle::ShareFailure("", "Add at least one e-mail address to share with.");
    const std::vector<std::string> paths = SharedFolder::place(files, root, said);
    if (sync) sync();
    for (int retries = 0;; ++retries) {
        try {
            return Brindle::share(account, paths, addresses, note);
        } catch (const Brindle::ShareFailure& failure) {
            if (failure.code() != "not_found" || retries >= kNotFoundRetries) throw;
        }
        if (wait) wait(kNotFoundWait);
    }
}

std::string outcomeText(const std::vector<std::string>& fileNames, const Brindle::ShareOutcome& outcome,
                        const std::string& server) {
    std::string text = "\u201C" + Text::joined(fileNames, ", ") + "\u201D is shared with " +
                       Text::joined(outcome.shared, ", ") + ". They were emailed a link that works for 3 days.";
    if (!outcome.emailFailed.empty())
        text += " We couldn't email " + Text::joined(outcome.emailFailed, ", ") + "; they can ask for a link at " +
                server + "/shared/link.";
    return text;
}

}  // namespace brindle::Sharing
