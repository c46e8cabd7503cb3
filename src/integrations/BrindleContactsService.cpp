// The contacts run's view of the Brindle service.
#include "integrations/ContactsSync.h"
#include "integrations/IntegrationError.h"

namespace brindle::ContactsSync {

Service brindleService() {
    Service service;
    service.signedIn = [] { return false; };
    service.googleAccounts = [] { return std::vector<Service::GoogleAccount>{}; };
    service.googleToken = [](const std::string&) -> std::string { throw IntegrationError("no service"); };
    service.host = [] { return std::string(); };
    return service;
}

}  // namespace brindle::ContactsSync
