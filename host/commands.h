// psdhost's commands. Each takes the loaded plug-in and the rest of its
// command line, prints what the plug-in answered and returns the exit
// status (0 success, 1 a failing result or an unreadable file, 2 a usage
// error or a plug-in that cannot serve the command).
#pragma once

#include <string>
#include <vector>

#include "host/arguments.h"
#include "host/plugin_loader.h"

// Identity and probe: what every plug-in answers.
int CommandAbout(const Plugin& plugin, const Arguments& args);
int CommandProbe(const Plugin& plugin, const Arguments& args);

// A picture plug-in ("00IN").
int CommandInfo(const Plugin& plugin, const Arguments& args);
int CommandPicture(const Plugin& plugin, const Arguments& args);

// An archive plug-in ("00AM").
int CommandList(const Plugin& plugin, const Arguments& args);
int CommandFileInfo(const Plugin& plugin, const Arguments& args);
int CommandExtract(const Plugin& plugin, const Arguments& args);

// One whole command line after "psdhost" for a plug-in command: loads the
// plug-in, runs the command and checks that nothing was left behind.
int RunPluginCommand(const std::vector<std::string>& words);

// psdhost script LIST: runs the commands of LIST in this process.
int CommandScript(const std::vector<std::string>& args);
