#pragma once

#include "common/Error.h"

namespace brindle {

class GitHubError : public Error {
public:
    using Error::Error;
};

}  // namespace brindle
