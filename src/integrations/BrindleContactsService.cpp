// The contacts run's view of the Brindle service: the stored sign-in, its
// connected Google accounts and their access tokens.
#include <memory>

#include "integrations/ContactsSync.h"
#include "service/Brindle.h"
#include "service/Secrets.h"

namespace brindle::ContactsSync {

namespace {

constexpr const char* kOldGoogleService = "Larder Google";

// "https://host:port/path" -> "host:port".
std::string hostOf(const std::string& url) {
    size_t start = url.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    size_t end = url.find_first_of("/?#", start);
    return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

void retireOldGoogleItems() {
    for (const auto& name : Secrets::accounts(kOldGoogleService)) {
        if (name.rfind("refresh:", 0) == 0 || name == "client-id" || name == "client-secret")
            Secrets::remove(name, kOldGoogleService);
    }
}

}  // namespace

Service brindleService() {
    // The sign-in is read once, when the run asks whether there is one.
    auto account = std::make_shared<std::optional<Brindle::Account>>();
    Service service;
    service.signedIn = [account] {
        *account = Brindle::account();
        return account->has_value();
    };
    service.googleAccounts = [account] {
        std::vector<Service::GoogleAccount> accounts;
        for (const auto& google : Brindle::googleAccounts(account->value()))
            accounts.push_back({google.email, google.label});
        return accounts;
    };
    service.googleToken = [account](const std::string& email) { return Brindle::googleToken(email, account->value()); };
    // The user connects accounts on the service they signed in to.
    service.host = [account] { return hostOf(account->value().server); };
    service.retireLocalGoogleSignIn = retireOldGoogleItems;
    return service;
}

}  // namespace brindle::ContactsSync
