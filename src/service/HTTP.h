#pragma once

#include "common/Error.h"

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brindle::HTTP {

// A request to send. The body comes from `body`, or is streamed from
// `bodyFile` when that is set; the answer's body is kept in memory, or
// streamed into `downloadTo` when that is set (the file is created or
// truncated; on a transport error it holds whatever arrived).
struct Request {
    std::string method = "GET";
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::optional<std::filesystem::path> bodyFile;
    std::optional<std::filesystem::path> downloadTo;
    // Idle time-out in seconds: the transfer fails when no byte moves for
    // this long (and connecting takes at most this long). Never a cap on the
    // whole transfer.
    double timeout = 30;
};

struct Response {
    int status = 0;
    std::map<std::string, std::string> headers;  // names lower-cased
    std::string body;                             // empty when streamed to a file
    std::string header(const std::string& lowerName) const;
};

// The request could not be completed: no connection, a time-out, a dropped
// connection, a truncated body. Not thrown for HTTP error statuses.
class TransportError : public Error {
public:
    using Error::Error;
};

// Sends request and blocks until the whole answer arrived. Every HTTP status
// (4xx and 5xx included) is returned; transport failures throw
// TransportError with curl's description. Safe from any thread; never call
// it on the main loop.
Response send(const Request& request);

}  // namespace brindle::HTTP
