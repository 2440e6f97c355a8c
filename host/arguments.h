// psdhost's command line: the options and positionals after the command
// name, and the names of what a command writes.
#pragma once

#include <stddef.h>

#include <functional>
#include <string>
#include <vector>

// A name for the output of the `index`-th document of a batch:
// "0007-picture.psd" from index 7 and ".../picture.psd".
std::string BatchName(size_t index, const std::string& path);

// Whether a name is safe to use as a file name inside an output directory:
// not empty, no separators, not "." or "..", no control characters.
bool IsPlainFileName(const std::string& name);

// The command line after the command name.
struct Arguments {
  std::vector<std::string> positional;
  std::string output;  // -o
  std::string files;   // --files: a file that lists more FILE arguments
  bool memory = false;
  bool memory_output = false;
  bool batch = false;
  size_t limit = 0;  // --limit N: at most N entries a document (0: all)
};

// Runs `each` on every FILE of a command that takes FILE...; returns 2 (a
// usage error, said on standard error) when there is none, else 1 when
// `each` failed for any of them, else 0.
int ForEachFile(const Arguments& args, const char* command,
                const std::function<bool(const std::string& path)>& each);

// Splits arguments into positionals and options. "--" ends the options.
// Fails on an unknown option or on -o without a value.
bool ParseArguments(const std::vector<std::string>& args, Arguments* parsed,
                    std::string* error);
