// Runs a helper program in a given directory with extra environment variables and collects
// its standard output; used to put the server's data operations under a fault shim.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct ChildResult {
    int exitCode = -1; // -1 when it did not exit normally
    int signal = 0;    // the signal that ended it, if any
    std::string out;
    std::string err;
};

ChildResult runChild(const std::string& program, const std::vector<std::string>& args,
                     const std::string& dir,
                     const std::vector<std::pair<std::string, std::string>>& env);
