// psdhost script: many commands in one process. Starting a Windows program
// under an emulator costs far more than the work of a command, so a whole
// comparison runs as one list of commands, each with its own folder and
// its own files for standard output, standard error and exit status.
#include <stdio.h>

#include <string>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "host/commands.h"
#include "host/host_files.h"

namespace {

#if defined(_WIN32)
int Duplicate(int fd) { return _dup(fd); }
int DuplicateOnto(int fd, int onto) { return _dup2(fd, onto); }
int CloseDescriptor(int fd) { return _close(fd); }
#else
int Duplicate(int fd) { return dup(fd); }
int DuplicateOnto(int fd, int onto) { return dup2(fd, onto); }
int CloseDescriptor(int fd) { return close(fd); }
#endif

// Sends standard output and standard error into files for as long as it
// lives.
class Capture {
 public:
  Capture(const std::string& out_path, const std::string& err_path) {
    fflush(stdout);
    fflush(stderr);
    int out = OpenDescriptorForWriting(out_path);
    int err = OpenDescriptorForWriting(err_path);
    if (out >= 0 && err >= 0) {
      saved_out_ = Duplicate(1);
      saved_err_ = Duplicate(2);
      ok_ = saved_out_ >= 0 && saved_err_ >= 0 && DuplicateOnto(out, 1) >= 0 &&
            DuplicateOnto(err, 2) >= 0;
    }
    if (out >= 0) CloseDescriptor(out);
    if (err >= 0) CloseDescriptor(err);
  }
  ~Capture() {
    fflush(stdout);
    fflush(stderr);
    if (saved_out_ >= 0) {
      DuplicateOnto(saved_out_, 1);
      CloseDescriptor(saved_out_);
    }
    if (saved_err_ >= 0) {
      DuplicateOnto(saved_err_, 2);
      CloseDescriptor(saved_err_);
    }
  }
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;
  bool ok() const { return ok_; }

 private:
  int saved_out_ = -1;
  int saved_err_ = -1;
  bool ok_ = false;
};

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> words;
  size_t start = 0;
  while (true) {
    size_t tab = line.find('\t', start);
    words.push_back(line.substr(start, tab - start));
    if (tab == std::string::npos) return words;
    start = tab + 1;
  }
}

// Runs one line's command inside its folder NAME; NAME.out, NAME.err and
// NAME.exit take what it printed and its exit status.
bool RunLine(const std::vector<std::string>& words) {
  const std::string& name = words[0];
  if (!MakeDirectory(name) || !ChangeDirectory(name)) {
    Error(name + ": cannot enter the command's folder");
    return false;
  }
  int status;
  {
    Capture capture("../" + name + ".out", "../" + name + ".err");
    if (!capture.ok()) {
      Error(name + ": cannot capture the command's output");
      ChangeDirectory("..");
      return false;
    }
    status = RunPluginCommand(
        std::vector<std::string>(words.begin() + 1, words.end()));
  }
  ChangeDirectory("..");
  std::string exit_text = std::to_string(status) + "\n";
  printf("%s: exit %d\n", name.c_str(), status);
  fflush(stdout);
  return WriteWholeFile(
      name + ".exit",
      {{reinterpret_cast<const uint8_t*>(exit_text.data()), exit_text.size()}});
}

}  // namespace

int CommandScript(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    Error("script needs one LIST");
    return 2;
  }
  std::vector<std::string> lines;
  if (!ReadFileList(args[0], &lines)) return 2;
  int status = 0;
  size_t commands = 0;
  for (const std::string& line : lines) {
    if (line[0] == '#') continue;
    std::vector<std::string> words = SplitTabs(line);
    if (words.size() < 2 || !IsPlainFileName(words[0])) {
      Error(args[0] + ": not NAME<TAB>COMMAND...: " + line);
      status = 2;
      continue;
    }
    if (!RunLine(words)) status = 2;
    ++commands;
  }
  printf("script: %zu commands\n", commands);
  return status;
}
