#pragma once

#include <functional>
#include <map>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "integrations/GoogleContact.h"

namespace brindle {

// Reads every connection of one Google account through the People API. It
// holds no credentials: tokenProvider fetches a fresh access token (from the
// Brindle service), and is asked once more when Google answers 401. One
// client per account per run; blocking, so never on the main loop.
class GoogleContactsClient {
public:
    using TokenProvider = std::function<std::string()>;

    GoogleContactsClient(std::string label, TokenProvider tokenProvider);

    // Every connection over all pages, in People API order. Throws
    // IntegrationError "People API failed for “label” (HTTP n)" on an error
    // status or when a page token comes back a second time (a listing that
    // would never end), HTTP::TransportError when the request cannot
    // complete, and whatever tokenProvider throws.
    std::vector<GoogleContact> list();

    // The flat record of one People API person object.
    GoogleContact parse(const nlohmann::json& person) const;

    // $BRINDLE_PEOPLE_URL without trailing "/", else Google's own base URL.
    // Throws IntegrationError when the override is not an http(s) URL.
    static std::string baseURL();

private:
    nlohmann::json get(const std::map<std::string, std::string>& query);

    std::string label_;
    TokenProvider tokenProvider_;
    std::optional<std::string> accessToken_;
};

}  // namespace brindle
