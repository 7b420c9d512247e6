// Paths of helper programs built beside the test programs (same output directory).
#pragma once

#include <string>

// The full path of `name` (without extension; ".exe" is added on Windows) in the directory of
// the running test program.
std::string SiblingProgramPath(const std::string& name);

// Sets an environment variable of the test process (inherited by the programs it starts).
void SetTestEnvironment(const std::string& name, const std::string& value);
