#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brindle::test {

// Sets environment variables (or unsets those given no value) for the life of
// the object, then puts back what was there before, newest first.
class ScopedEnv {
public:
    using Values = std::vector<std::pair<std::string, std::optional<std::string>>>;

    explicit ScopedEnv(const Values& values = {}) {
        for (const auto& [name, value] : values) set(name, value);
    }
    ScopedEnv(const std::string& name, const std::optional<std::string>& value) : ScopedEnv(Values{{name, value}}) {}
    ~ScopedEnv() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) put(it->first, it->second);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    void set(const std::string& name, const std::optional<std::string>& value) {
        const char* old = std::getenv(name.c_str());
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        put(name, value);
    }

private:
    static void put(const std::string& name, const std::optional<std::string>& value) {
        value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }
    Values saved_;
};

}  // namespace brindle::test
