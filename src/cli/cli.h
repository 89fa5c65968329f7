// rzt2, the command-line face of the batch jobs.
#pragma once

#include <string>
#include <vector>

namespace rzt2 {

// Runs one command line (without the program name); returns the exit status.
int RunCli(const std::vector<std::string>& args);

}  // namespace rzt2
