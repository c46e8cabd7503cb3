#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brindle::test {

// Sets environment variables (or unsets those given no value) for the life of
// the object, then puts back what was there before.
class ScopedEnv {
public:
    using Values = std::vector<std::pair<std::string, std::optional<std::string>>>;

    explicit ScopedEnv(const Values& values = {});
    ScopedEnv(const std::string& name, const std::optional<std::string>& value) : ScopedEnv(Values{{name, value}}) {}
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    // Sets one more variable, restored with the others.
    void set(const std::string& name, const std::optional<std::string>& value);

private:
    Values saved_;
};

}  // namespace brindle::test
