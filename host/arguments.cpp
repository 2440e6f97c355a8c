#include "host/arguments.h"

#include <stdio.h>

#include "host/text.h"

std::string BatchName(size_t index, const std::string& path) {
  size_t cut = path.find_last_of("/\\");
  std::string base = cut == std::string::npos ? path : path.substr(cut + 1);
  return Format("%04zu-", index) + base;
}

bool IsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || c == '/' || c == '\\' || c == ':') return false;
  }
  return true;
}

bool ParseArguments(const std::vector<std::string>& args, Arguments* parsed,
                    std::string* error) {
  *parsed = Arguments();
  bool options = true;
  bool have_output = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options && a == "--") {
      options = false;
    } else if (options && a == "-o") {
      if (i + 1 >= args.size()) {
        *error = "-o needs a value";
        return false;
      }
      if (have_output) {
        *error = "-o given twice";
        return false;
      }
      parsed->output = args[++i];
      have_output = true;
    } else if (options && a == "--files") {
      if (i + 1 >= args.size()) {
        *error = "--files needs a value";
        return false;
      }
      parsed->files = args[++i];
    } else if (options && a == "--limit") {
      const std::string value = i + 1 < args.size() ? args[i + 1] : "";
      size_t limit = 0;
      bool ok = !value.empty() && value.size() <= 9;
      for (char c : value) {
        if (c < '0' || c > '9') ok = false;
        limit = limit * 10 + static_cast<size_t>(c - '0');
      }
      if (!ok || limit < 2) {
        *error = "--limit needs a number of at least 2";
        return false;
      }
      parsed->limit = limit;
      ++i;
    } else if (options && a == "--memory") {
      parsed->memory = true;
    } else if (options && a == "--memory-output") {
      parsed->memory_output = true;
    } else if (options && a == "--batch") {
      parsed->batch = true;
    } else if (options && a.size() > 1 && a[0] == '-') {
      *error = "unknown option " + a;
      return false;
    } else {
      parsed->positional.push_back(a);
    }
  }
  return true;
}

int ForEachFile(const Arguments& args, const char* command,
                const std::function<bool(const std::string& path)>& each) {
  if (args.positional.empty()) {
    Error(std::string(command) + " needs at least one FILE");
    return 2;
  }
  int status = 0;
  for (const std::string& path : args.positional) {
    if (!each(path)) status = 1;
  }
  return status;
}
