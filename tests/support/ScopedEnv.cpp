#include "support/ScopedEnv.h"

#include <cstdlib>

#include "common/Files.h"

namespace brindle::test {

ScopedEnv::ScopedEnv(const Values& values) {
    for (const auto& [name, value] : values) set(name, value);
}

ScopedEnv::~ScopedEnv() {
    // Newest first, so a variable set twice ends as it was before both.
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (it->second)
            ::setenv(it->first.c_str(), it->second->c_str(), 1);
        else
            ::unsetenv(it->first.c_str());
    }
}

void ScopedEnv::set(const std::string& name, const std::optional<std::string>& value) {
    saved_.emplace_back(name, Files::env(name.c_str()));
    if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name.c_str());
}

}  // namespace brindle::test
