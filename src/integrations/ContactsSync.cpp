#include "integrations/ContactsSync.h"

#include "common/Files.h"
#include "common/IsoDate.h"
#include "common/Log.h"
#include "integrations/ContactStore.h"
#include "integrations/ContactsMerge.h"
#include "integrations/GoogleContactsClient.h"
#include "integrations/IntegrationError.h"
#include "integrations/NoteText.h"

namespace brindle::ContactsSync {

namespace {

std::vector<GoogleContact> fetchAll(const Service& service, const std::vector<Service::GoogleAccount>& accounts) {
    std::vector<GoogleContact> all;
    for (const auto& account : accounts) {
        std::string name = account.label.empty() ? account.email : account.label;
        std::string email = account.email;
        GoogleContactsClient client(name, [&service, email] { return service.googleToken(email); });
        std::vector<GoogleContact> contacts = client.list();
        Log::write("Contacts [" + name + "]: fetched " + std::to_string(contacts.size()));
        all.insert(all.end(), std::make_move_iterator(contacts.begin()), std::make_move_iterator(contacts.end()));
    }
    return all;
}

}  // namespace

Result run(const std::filesystem::path& dir, const Service& service) {
    if (!service.signedIn()) throw IntegrationError("Sign in to Brindle in Settings\u2026 to sync contacts.", true);
    std::vector<Service::GoogleAccount> accounts = service.googleAccounts();
    if (accounts.empty())
        throw IntegrationError("No Google account is connected. Connect one on " + service.host() + "/connections.",
                               true);

    Result result;
    result.accounts = static_cast<int>(accounts.size());
    std::vector<GoogleContact> all = fetchAll(service, accounts);
    result.fetched = static_cast<int>(all.size());
    if (!Files::env("BRINDLE_TEST_ACCOUNT") && service.retireLocalGoogleSignIn) service.retireLocalGoogleSignIn();

    std::vector<MergedContact> people = ContactsMerge::merge(all);
    ContactStore store(dir);
    std::string syncedAt = IsoDate::format(service.now());
    for (const auto& person : people) {
        switch (store.upsert(person, syncedAt)) {
            case ContactStore::Status::created:
                ++result.created;
                break;
            case ContactStore::Status::updated:
                ++result.updated;
                break;
            case ContactStore::Status::unchanged:
                ++result.unchanged;
                break;
        }
    }
    store.commit();
    return result;
}

Result run(const std::filesystem::path& dir) {
    return run(dir, brindleService());
}

}  // namespace brindle::ContactsSync
