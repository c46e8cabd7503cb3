#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace brindle::ContactsSync {

struct Result {
    int accounts = 0;   // Google accounts the service listed
    int fetched = 0;    // contact records read over all accounts, before merging
    int created = 0;    // files created
    int updated = 0;    // files changed
    int unchanged = 0;  // people whose file needed no change
};

// The service's side of a run: who is signed in, which Google accounts are
// connected and a fresh access token for each. run() uses the stored sign-in
// and the Brindle service; tests may lay their own over it.
struct Service {
    struct GoogleAccount {
        std::string email;
        std::string label;
    };
    // false when nobody is signed in to Brindle on this machine.
    std::function<bool()> signedIn;
    std::function<std::vector<GoogleAccount>()> googleAccounts;
    std::function<std::string(const std::string& email)> googleToken;
    // Host name of the service, for the "connect one on …" message.
    std::function<std::string()> host;
    // Removes Google sign-ins that older versions stored on this machine.
    std::function<void()> retireLocalGoogleSignIn;
    std::function<std::chrono::system_clock::time_point()> now = std::chrono::system_clock::now;
};

// The service of the stored Brindle sign-in.
Service brindleService();

// One complete contacts import into the Contacts folder dir: every contact of
// every connected Google account, merged by e-mail address, one file per
// person. Nothing is written unless every account was read. Throws
// IntegrationError (not configured when signed out or no account is
// connected), the service's failures, People API failures and brindle::Error
// for the file system. Blocking; runs on the integrations queue.
Result run(const std::filesystem::path& dir, const Service& service);
Result run(const std::filesystem::path& dir);

}  // namespace brindle::ContactsSync
