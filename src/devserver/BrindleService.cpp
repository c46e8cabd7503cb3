#include "devserver/BrindleService.h"

#include <httplib.h>

namespace brindle::devserver {

void BrindleService::install(httplib::Server&) {}

}  // namespace brindle::devserver
