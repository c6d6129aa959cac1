// Runs a program for a test, without a shell: arguments as a list, standard input from a string,
// standard output and error collected separately, in a chosen folder, with a time limit.
#pragma once

#include <string>
#include <vector>

namespace VelmoraTest {

struct RunOptions {
    std::string workingDirectory;         // empty: the test's own
    std::string input;                    // what the program reads on standard input
    std::vector<std::string> environment; // "NAME=value" on top of the test's
    double timeoutSeconds = 300.0;        // then it is ended, and the status is -1
};

struct RunResult {
    int status = -1; // the exit status; -1 when it could not start or did not end by itself
    std::string out;
    std::string err;
};

RunResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                     const RunOptions& options = RunOptions());

// A program found on the PATH (with the platform's suffix), or empty.
std::string findProgram(const std::string& name);

} // namespace VelmoraTest
