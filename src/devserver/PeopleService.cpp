#include "devserver/PeopleService.h"

#include <httplib.h>

namespace brindle::devserver {

void PeopleService::install(httplib::Server&) {}

}  // namespace brindle::devserver
