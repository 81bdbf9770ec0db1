// The subcommands of fwupgrade, one table entry each: its options are added
// to the command line, and it runs when the line names it.
#ifndef FWUPGRADE_CLI_SUBCOMMANDS_H
#define FWUPGRADE_CLI_SUBCOMMANDS_H

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

namespace fwupgrade {

struct Subcommand {
    CLI::App* command;
    std::function<int()> run;   // the program's exit status
};

// Every subcommand, in the order the help lists them. commandLine is the
// line as the user typed it, for the history.
std::vector<Subcommand> AddSubcommands(CLI::App& app, const std::string& commandLine);

}  // namespace fwupgrade

#endif
