#pragma once

#include "devserver/PeopleService.h"

namespace brindle::test {

// count persons "people/<prefix>N" named "<prefix> Person N" with the address
// "<prefix>N@example.com", or "sharedN@example.com" for the first `shared`.
inline std::vector<nlohmann::json> peopleData(const std::string& prefix, int count, int shared = 0) {
    std::vector<nlohmann::json> people;
    for (int n = 0; n < count; ++n)
        people.push_back(devserver::PeopleService::person(
            "people/" + prefix + std::to_string(n), prefix + " Person " + std::to_string(n),
            {(n < shared ? "shared" : prefix) + std::to_string(n) + "@example.com"}));
    return people;
}

}  // namespace brindle::test
