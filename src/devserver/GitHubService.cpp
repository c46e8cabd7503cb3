#include "devserver/GitHubService.h"

#include <httplib.h>

namespace brindle::devserver {

void GitHubService::install(httplib::Server&) {}

}  // namespace brindle::devserver
