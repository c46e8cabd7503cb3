#pragma once

#include "devserver/PeopleService.h"

namespace brindle::test {

// count People API persons "people/<prefix>N", named "<Prefix> Person N",
// each with one address "<prefix>N@example.com", except that the first
// `shared` of them use "sharedN@example.com", so that two accounts made with
// the same shared count overlap in those people.
inline std::vector<nlohmann::json> peopleData(const std::string& prefix, int count, int shared = 0) {
    std::vector<nlohmann::json> people;
    for (int n = 0; n < count; ++n)
        people.push_back(devserver::PeopleService::person(
            "people/" + prefix + std::to_string(n), prefix + " Person " + std::to_string(n),
            {(n < shared ? "shared" : prefix) + std::to_string(n) + "@example.com"}));
    return people;
}

}  // namespace brindle::test
