#include "devserver/DropboxService.h"

#include <httplib.h>

namespace brindle::devserver {

void DropboxService::install(httplib::Server&) {}

}  // namespace brindle::devserver
