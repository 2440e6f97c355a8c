// psdhost: a command-line stand-in for the image viewer. It loads a plug-in,
// checks its interface code, calls its exports the way the viewer does and
// prints what comes back. Its standard output is the same bytes in every
// build (no addresses, no timing, paths as given), so the outputs of the
// Linux and the Windows builds can be compared directly.
#include <stdio.h>

#include <string>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

#include "host/commands.h"
#include "host/host_files.h"

#if !defined(PSD_VERSION)
#error "PSD_VERSION comes from the version in CMakeLists.txt"
#endif

namespace {

const char kUsage[] =
    "usage: psdhost COMMAND PLUGIN ARGUMENTS...\n"
    "       psdhost script LIST\n"
    "       psdhost --version\n"
    "\n"
    "Loads PLUGIN (a .so, .spi or .sph file), checks its interface code and\n"
    "calls its exports the way the image viewer does.\n"
    "\n"
    "commands:\n"
    "  about PLUGIN\n"
    "      identity strings 0 to 6 from GetPluginInfo and GetPluginInfoW, "
    "with\n"
    "      the length each call returned\n"
    "  probe PLUGIN FILE... [--memory]\n"
    "      IsSupported and IsSupportedW for each FILE, with the first 2048\n"
    "      bytes in memory and with an open file handle\n"
    "  info PLUGIN FILE... [--memory]\n"
    "      GetPictureInfo (and GetPictureInfoW) for each FILE; --memory "
    "passes\n"
    "      the whole file in memory (input mode 1)\n"
    "  picture PLUGIN FILE -o OUT.bmp [--memory]\n"
    "  picture PLUGIN FILE... --batch -o DIR [--memory]\n"
    "      GetPicture with a progress callback; writes the picture as a BMP\n"
    "      file (with --batch, DIR/NNNN-NAME.bmp for the NNNN-th FILE)\n"
    "  list PLUGIN FILE... [--memory]\n"
    "      GetArchiveInfo: the entries of each FILE and a total line\n"
    "  fileinfo PLUGIN FILE NAME... [--memory]\n"
    "      GetFileInfo for each entry NAME of FILE\n"
    "  extract PLUGIN FILE [ENTRY...] -o DIR [--memory-output]\n"
    "  extract PLUGIN FILE... --batch -o DIR [--memory-output]\n"
    "      GetFile for each ENTRY (an entry number or a name from the\n"
    "      listing; all entries when none is given). The plug-in writes the\n"
    "      files into DIR (output mode 0), or with --memory-output returns\n"
    "      each as a memory block that psdhost writes to DIR/NAME (output\n"
    "      mode 0x100). With --batch every FILE goes to DIR/NNNN-NAME/.\n"
    "      --limit N extracts at most N entries of each document, spread\n"
    "      evenly from the first to the last.\n"
    "\n"
    "  script LIST\n"
    "      runs the commands of LIST in this one process: one a line, words\n"
    "      separated by tabs, NAME COMMAND PLUGIN ARGUMENTS...; each runs in\n"
    "      the folder NAME (made when missing), its standard output and\n"
    "      error going to NAME.out and NAME.err and its exit status to\n"
    "      NAME.exit. Lines starting with # are skipped. psdhost prints\n"
    "      \"NAME: exit N\" for each and exits 0 when every line ran.\n"
    "\n"
    "Every command that takes FILE... also reads file names, one a line,\n"
    "from the file named by --files LIST (they follow the other FILEs).\n"
    "\n"
    "Names are UTF-8 (UTF-16 on the Windows command line). The wide calls\n"
    "get them as UTF-16, the narrow ones in the ANSI code page. A name with\n"
    "no exact form there goes to GetPictureW and GetPictureInfoW alone;\n"
    "list, fileinfo and probe then need --memory (probe's narrow calls get\n"
    "no name), and extract cannot take it.\n"
    "\n"
    "\"info\" and \"picture\" need a picture plug-in (interface code "
    "\"00IN\"),\n"
    "\"list\", \"fileinfo\" and \"extract\" an archive plug-in (\"00AM\").\n"
    "Exit status: 0 success, 1 a file could not be read or a call returned\n"
    "a failing result code, 2 a usage error or a plug-in that cannot be\n"
    "used (missing, not loadable, missing export, wrong interface code),\n"
    "3 (Linux) blocks or files the plug-in's platform layer still counts\n"
    "as live when the command ends.\n";

typedef int (*CommandFn)(const Plugin&, const Arguments&);

CommandFn FindCommand(const std::string& name) {
  struct {
    const char* name;
    CommandFn run;
  } const commands[] = {
      {"about", CommandAbout},     {"probe", CommandProbe},
      {"info", CommandInfo},       {"picture", CommandPicture},
      {"list", CommandList},       {"fileinfo", CommandFileInfo},
      {"extract", CommandExtract},
  };
  for (const auto& c : commands) {
    if (name == c.name) return c.run;
  }
  return nullptr;
}

}  // namespace

int RunPluginCommand(const std::vector<std::string>& words) {
  const std::string& command = words[0];
  CommandFn run = FindCommand(command);
  if (run == nullptr) {
    Error("unknown command \"" + command + "\" (psdhost --help lists them)");
    return 2;
  }
  Arguments args;
  std::string error;
  if (!ParseArguments(std::vector<std::string>(words.begin() + 1, words.end()),
                      &args, &error)) {
    Error(error);
    return 2;
  }
  if (args.positional.empty()) {
    Error(command + " needs a PLUGIN (psdhost --help)");
    return 2;
  }
  if (!args.files.empty() && !ReadFileList(args.files, &args.positional)) {
    return 2;
  }
  Plugin plugin;
  if (!LoadPlugin(args.positional[0], &plugin)) return 2;
  args.positional.erase(args.positional.begin());
  int status = run(plugin, args);
  fflush(stdout);
  int left_behind = CheckNothingLeftBehind(plugin);
  return left_behind != 0 ? left_behind : status;
}

namespace {

int Run(const std::vector<std::string>& all) {
  if (all.empty() || all[0] == "--help" || all[0] == "-h" || all[0] == "help") {
    fputs(kUsage, all.empty() ? stderr : stdout);
    return all.empty() ? 2 : 0;
  }
  if (all[0] == "--version") {
    printf("psdhost %s\n", PSD_VERSION);
    return 0;
  }
  if (all[0] == "script") {
    return CommandScript(std::vector<std::string>(all.begin() + 1, all.end()));
  }
  return RunPluginCommand(all);
}

}  // namespace

#if defined(_WIN32)
// Built with -municode: the arguments arrive as UTF-16 whatever the ANSI
// code page, and are kept as UTF-8 from here on.
int wmain(int argc, wchar_t** argv) {
  // The same bytes as the Linux build: no CR LF translation.
  _setmode(_fileno(stdout), _O_BINARY);
  std::vector<std::string> all;
  for (int i = 1; i < argc; ++i) all.push_back(NameFromWide(argv[i]));
  return Run(all);
}
#else
int main(int argc, char** argv) {
  return Run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
