#pragma once

#include "sharing/BrindleShares.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// The one flow that shares files by e-mail, used by the menu, by the answer
// to a share offer and by "--share".
namespace brindle::Sharing {

using SyncStep = std::function<void()>;
using WaitStep = std::function<void(double seconds)>;
using SaidStep = std::function<void(const std::string& line)>;

// How often and how long to wait when the service does not find a path yet
// (the sync has not reached the cloud store).
inline constexpr int kNotFoundRetries = 4;
inline constexpr double kNotFoundWait = 15;

// Shares files with the addresses found in emails (as typed; see
// Brindle::splitEmails): files outside root are copied into its "Shared"
// folder first (reported to said), the folder is synced once through sync
// when given, then the service is asked to share; while it answers
// "not_found", waits kNotFoundWait seconds through wait and asks again, up
// to kNotFoundRetries times. Throws Brindle::ShareFailure when emails hold
// no address (before anything is copied), when a file is not a regular file
// (before anything is copied), or with the service's refusal;
// Brindle::Failure when signed out; brindle::Error when a copy fails;
// HTTP::TransportError when the service cannot be reached. Blocks.
Brindle::ShareOutcome share(const std::vector<std::filesystem::path>& files, const std::vector<std::string>& emails,
                            const std::string& note, const std::filesystem::path& root,
                            const Brindle::Account& account, const SyncStep& sync, const WaitStep& wait,
                            const SaidStep& said);

// The text that tells the user how a share went: “a.pdf, b.txt” is shared
// with ... . They were emailed a link that works for 3 days. and, when some
// e-mails failed, where those people can ask for a link on server.
std::string outcomeText(const std::vector<std::string>& fileNames, const Brindle::ShareOutcome& outcome,
                        const std::string& server);

}  // namespace brindle::Sharing
