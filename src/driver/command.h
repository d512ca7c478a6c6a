// The subcommands of songsim. Each subcommand file adds its CLI11 subcommand
// with its options and registers what runs when it was given.
#pragma once

#include <functional>
#include <vector>

#include <CLI/CLI.hpp>

// What a subcommand does once the command line parsed: returns the exit
// status (0 success, 1 a bad file or failed run).
struct Command {
    CLI::App* app;
    std::function<int()> run;
};
using CommandTable = std::vector<Command>;
