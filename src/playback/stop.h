// The one way playback ends the process on a fatal condition.
#pragma once

// Called by StopProcess before it exits. A handler that does not return (a
// fuzzer's, which throws back to its harness) replaces the exit.
using StopHandler = void (*)(int status);
StopHandler SetStopHandler(StopHandler handler);

// Flushes the output and ends the process with `status`.
[[noreturn]] void StopProcess(int status);
