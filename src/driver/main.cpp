// songsim: lists the song file "entertan.sng" in the current directory and
// simulates playing it, tracing every note.
#include "driver/phases.h"

int main() { return RunSongsim("entertan.sng"); }
