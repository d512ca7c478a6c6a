// measure: runs a command and records its wall time, CPU time and peak
// resident memory (from wait4's rusage). The command inherits the standard
// streams, so it can write to a file, /dev/null or a pipe.
//   measure RESULT_FILE COMMAND [ARGS...]
// Appends "wall_s user_s sys_s maxrss_kib exit_status" to RESULT_FILE.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

double Now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: measure RESULT_FILE COMMAND [ARGS...]\n");
        return 2;
    }
    const double start = Now();
    const pid_t child = fork();
    if (child < 0) {
        std::perror("measure: fork");
        return 1;
    }
    if (child == 0) {
        execvp(argv[2], argv + 2);
        std::fprintf(stderr, "measure: %s: %s\n", argv[2], std::strerror(errno));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("measure: wait4");
            return 1;
        }
    }
    const double wall = Now() - start;
    const int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    FILE* result = std::fopen(argv[1], "a");
    if (!result) {
        std::perror("measure: result file");
        return 1;
    }
    std::fprintf(result, "%.6f %.6f %.6f %ld %d\n", wall, Seconds(usage.ru_utime), Seconds(usage.ru_stime),
                 usage.ru_maxrss, exitStatus);
    std::fclose(result);
    return exitStatus;
}
