// songsim: lists a song file and simulates playing it, tracing every note;
// with subcommands, checks, converts and edits songs.
#include "driver/cli.h"

int main(int argc, char** argv) { return RunCommandLine(argc, argv); }
