#pragma once

#include <sys/utsname.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace brindle::bench {

// "AMD EPYC, 2 cores, Linux 6.1.0": what a benchmark table names as its machine.
inline std::string machine() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line, model = "unknown CPU";
    while (std::getline(cpuinfo, line))
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    utsname names{};
    ::uname(&names);
    return model + ", " + std::to_string(::sysconf(_SC_NPROCESSORS_ONLN)) + " cores, " + names.sysname + " " +
           names.release;
}

}  // namespace brindle::bench
