#pragma once
#include <string>
#include <vector>

// The whole program after the entry point: `arguments` (UTF-8, without the program name)
// in, the exit status out.
int runCli(const std::vector<std::string>& arguments);
