#pragma once

#include <functional>
#include <string>
#include <vector>

namespace brindle::CommandLine {

using Mode = std::function<int(const std::vector<std::string>&)>;

// The mode that the argument list (program name first) selects: by the total
// count first, then by the first argument as an exact string. Returns the
// application start when nothing matches. The name of the chosen mode is
// stored in chosenName for tests.
Mode select(const std::vector<std::string>& args, std::string* chosenName = nullptr);

// Runs the selected mode and returns the exit status; a thrown error becomes
// "error: " + its text on standard error and status 1.
int run(const std::vector<std::string>& args);

}  // namespace brindle::CommandLine
