#include "playback/stop.h"

#include <cstdlib>

#include "output/output.h"

namespace {
StopHandler gHandler = nullptr;
}

StopHandler SetStopHandler(StopHandler handler) {
    StopHandler previous = gHandler;
    gHandler = handler;
    return previous;
}

void StopProcess(int status) {
    OutFlush();
    if (gHandler) gHandler(status);
    std::exit(status);
}
