#pragma once

#include <string>
#include <vector>

// The process's command-line arguments without the program name, as UTF-8, for the Dart entry
// point. An argument that is not valid UTF-16 (an unpaired surrogate) becomes an empty string in
// its own position, so the arguments after it keep theirs.
std::vector<std::string> CollectEntrypointArguments();

// One argument to UTF-8 with the rules above; exposed for tests.
std::string ArgumentToUtf8(const wchar_t* argument);
