// songsim's command line: the bare run on ./entertan.sng, and subcommands.
#pragma once

// Parses the arguments, runs what they ask for and returns the exit status:
// 0 success, 1 a bad file or failed run (output that could not be written
// included), 2 misuse of the command line.
int RunCommandLine(int argc, char** argv);
