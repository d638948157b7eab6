#pragma once
// Runs a program as a user does and collects what it printed.

#include <string>
#include <vector>

struct ProgramRun {
    int status;       // exit status, or 128 + signal number if killed
    std::string out;  // standard output
    std::string err;  // standard error
};

ProgramRun run_program(const std::string& path, const std::vector<std::string>& args);

// Standard output with every timing figure ("time=0.000123", "avg=...")
// replaced by "#", so that a whole report can be compared exactly.
std::string mask_times(const std::string& report);
