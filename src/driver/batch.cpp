#include "driver/batch.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "output/atomic_file.h"
#include "output/output.h"
#include "output/progress.h"
#include "output/text.h"

namespace {

constexpr int kUsageError = 2;

bool IsSafeByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.';
}

int DefaultWorkers() { return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

std::string Plural(size_t count, std::string_view noun) {
    return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

// What a worker sends back for each job, followed by `messageBytes` bytes of
// its messages, as they are to be printed.
struct Report {
    int32_t job = 0;
    int32_t status = 0;
    int32_t written = 0;
    uint32_t messageBytes = 0;
};

bool WriteAll(int descriptor, const void* data, size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t done = write(descriptor, bytes, size);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        bytes += done;
        size -= static_cast<size_t>(done);
    }
    return true;
}

// False at the end of the pipe or on a failure.
bool ReadAll(int descriptor, void* data, size_t size) {
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t done = read(descriptor, bytes, size);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        bytes += done;
        size -= static_cast<size_t>(done);
    }
    return true;
}

// Makes one job with its messages collected rather than printed.
std::pair<Made, std::string> MakeQuietly(const JobMaker& make, const BatchJob& job) {
    std::string messages;
    MessageTaker previous = SetMessageTaker([&messages](std::string_view line) {
        messages.append(line);
        messages += '\n';
    });
    Made made{.status = 1, .written = false};
    try {
        made = make(job);
    } catch (const std::bad_alloc&) {
        messages += EscapeText("songsim: " + job.input + ": out of memory") + "\n";
    }
    SetMessageTaker(std::move(previous));
    return {made, std::move(messages)};
}

// The count of jobs done, the progress bar and the messages on standard error.
class Tally {
public:
    Tally(size_t jobs, std::string_view noun) : jobs_(jobs), noun_(noun), bar_(std::string(noun) + "s") {}

    void Done(const Made& made, std::string_view messages) {
        if (!messages.empty()) {
            bar_.Clear();
            OutFlush();
            std::fwrite(messages.data(), 1, messages.size(), stderr);
            std::fflush(stderr);
        }
        ++(made.written ? written_ : failed_);
        const size_t done = written_ + failed_;
        bar_.Update(static_cast<double>(done) / static_cast<double>(jobs_),
                    std::to_string(done) + "/" + std::to_string(jobs_));
    }
    void Failed(const BatchJob& job, const std::string& why) {
        Done({.status = 1, .written = false}, EscapeText("songsim: " + job.input + ": " + why) + "\n");
    }
    int Finish() {
        bar_.Clear();
        Complain("%s: %zu written, %zu failed", Plural(jobs_, noun_).c_str(), written_, failed_);
        return failed_ == 0 ? 0 : 1;
    }

private:
    size_t jobs_;
    std::string noun_;
    ProgressBar bar_;
    size_t written_ = 0;
    size_t failed_ = 0;
};

struct Worker {
    pid_t pid = -1;
    int tasks = -1;    // the parent's end: job numbers to the worker
    int results = -1;  // the parent's end: reports from the worker
    int job = -1;      // the job it is making, or -1
};

void CloseDescriptor(int& descriptor) {
    if (descriptor >= 0) close(descriptor);
    descriptor = -1;
}

// A worker's life: a job number in, the job made, its report out, until the
// parent closes the pipe.
[[noreturn]] void Work(int tasks, int results, std::span<const BatchJob> jobs, const JobMaker& make) {
    int32_t index = 0;
    while (ReadAll(tasks, &index, sizeof index)) {
        if (index < 0 || static_cast<size_t>(index) >= jobs.size()) break;
        auto [made, messages] = MakeQuietly(make, jobs[static_cast<size_t>(index)]);
        const Report report{.job = index,
                            .status = made.status,
                            .written = made.written ? 1 : 0,
                            .messageBytes = static_cast<uint32_t>(messages.size())};
        if (!WriteAll(results, &report, sizeof report) || !WriteAll(results, messages.data(), messages.size()))
            break;
    }
    // Nothing of the parent's (its buffered output, its exit handlers) runs here.
    _exit(0);
}

// Starts a worker process; false when the system has no room for one.
bool StartWorker(std::vector<Worker>& workers, std::span<const BatchJob> jobs, const JobMaker& make) {
    int tasks[2];
    int results[2];
    if (pipe(tasks) != 0) return false;
    if (pipe(results) != 0) {
        close(tasks[0]);
        close(tasks[1]);
        return false;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        // The other workers' pipes stay theirs: each ends when the parent closes its own.
        for (Worker& other : workers) {
            CloseDescriptor(other.tasks);
            CloseDescriptor(other.results);
        }
        close(tasks[1]);
        close(results[0]);
        Work(tasks[0], results[1], jobs, make);
    }
    close(tasks[0]);
    close(results[1]);
    if (pid < 0) {
        close(tasks[1]);
        close(results[0]);
        return false;
    }
    workers.push_back({.pid = pid, .tasks = tasks[1], .results = results[0]});
    return true;
}

// How a worker that sent no report ended.
std::string HowItEnded(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return "the worker making it ended";
    if (WIFSIGNALED(status))
        return "the worker making it was killed by signal " + std::to_string(WTERMSIG(status)) + " (" +
               strsignal(WTERMSIG(status)) + ")";
    return "the worker making it ended with status " + std::to_string(WEXITSTATUS(status));
}

class Pool {
public:
    Pool(std::span<const BatchJob> jobs, const JobMaker& make, Tally& tally) : jobs_(jobs), make_(make), tally_(tally) {}
    ~Pool() {
        for (Worker& worker : workers_) Stop(worker);
    }
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    // Starts up to `count` workers; false when none could start.
    bool Start(int count) {
        // Whatever is buffered is written once, by this process.
        OutFlush();
        std::fflush(nullptr);
        for (int i = 0; i < count; ++i)
            if (!StartWorker(workers_, jobs_, make_)) break;
        return !workers_.empty();
    }

    void Run() {
        // A worker that ended makes its pipe fail, not this process.
        struct sigaction ignore {};
        struct sigaction previous {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, &previous);
        Serve();
        sigaction(SIGPIPE, &previous, nullptr);
    }

private:
    void Serve() {
        for (Worker& worker : workers_) Assign(worker);
        std::vector<pollfd> waiting;
        std::vector<Worker*> owners;
        for (;;) {
            waiting.clear();
            owners.clear();
            for (Worker& worker : workers_)
                if (worker.job >= 0) {
                    waiting.push_back({.fd = worker.results, .events = POLLIN, .revents = 0});
                    owners.push_back(&worker);
                }
            if (waiting.empty()) break;
            if (poll(waiting.data(), waiting.size(), -1) < 0) {
                if (errno == EINTR) continue;
                break;
            }
            for (size_t i = 0; i < waiting.size(); ++i)
                if (waiting[i].revents != 0) Collect(*owners[i]);
        }
        // Jobs no worker was left to make.
        for (; next_ < jobs_.size(); ++next_) tally_.Failed(jobs_[next_], "not made: no worker left to make it");
        for (Worker& worker : workers_)
            if (worker.job >= 0) {
                tally_.Failed(jobs_[static_cast<size_t>(worker.job)], "not made: the worker making it stopped");
                worker.job = -1;
            }
    }

    void Assign(Worker& worker) {
        if (next_ < jobs_.size()) {
            const auto index = static_cast<int32_t>(next_);
            if (WriteAll(worker.tasks, &index, sizeof index)) {
                worker.job = index;
                ++next_;
                return;
            }
        }
        worker.job = -1;
        CloseDescriptor(worker.tasks);  // no more work: the worker exits
    }

    void Collect(Worker& worker) {
        Report report;
        std::string messages;
        bool whole = ReadAll(worker.results, &report, sizeof report) && report.job == worker.job;
        if (whole) {
            messages.resize(report.messageBytes);
            whole = ReadAll(worker.results, messages.data(), messages.size());
        }
        if (!whole) {
            const BatchJob& job = jobs_[static_cast<size_t>(worker.job)];
            worker.job = -1;
            CloseDescriptor(worker.tasks);
            CloseDescriptor(worker.results);
            tally_.Failed(job, "not made: " + HowItEnded(worker.pid));
            worker.pid = -1;
            return;
        }
        tally_.Done({.status = report.status, .written = report.written != 0}, messages);
        Assign(worker);
    }

    static void Stop(Worker& worker) {
        CloseDescriptor(worker.tasks);
        CloseDescriptor(worker.results);
        if (worker.pid > 0) {
            int status = 0;
            while (waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        worker.pid = -1;
    }

    std::span<const BatchJob> jobs_;
    const JobMaker& make_;
    Tally& tally_;
    std::vector<Worker> workers_;
    size_t next_ = 0;
};

}  // namespace

void AddBatchOptions(CLI::App* command, BatchOptions& options, std::vector<std::string> formats) {
    command->add_option("-j,--jobs", options.workers, "Songs made at a time, with -o DIR/ (default: one per core)")
        ->check(CLI::Range(1, 1024));
    if (formats.empty()) return;
    std::string names;
    for (const std::string& format : formats) names += (names.empty() ? "" : "|") + format;
    command
        ->add_option("--format", options.format,
                     "The format of the files written into a folder: " + names + " (default " + formats.front() + ")")
        ->check(CLI::IsMember(formats));
}

bool NamesFolder(const std::string& output) {
    if (output.empty() || IsStandardStream(output)) return false;
    std::error_code error;
    return output.back() == '/' || std::filesystem::is_directory(output, error);
}

bool IsBatch(std::span<const std::string> songs, const std::string& output) {
    return songs.size() > 1 || NamesFolder(output);
}

std::string InFolder(const std::string& folder, std::string_view name) {
    return folder + (folder.empty() || folder.back() == '/' ? "" : "/") + std::string(name);
}

bool MakeFolder(const std::string& folder) {
    std::error_code error;
    if (std::filesystem::is_directory(folder, error)) return true;
    std::filesystem::create_directories(folder, error);
    if (error) {
        Complain("%s: cannot make the folder: %s", folder.c_str(), error.message().c_str());
        return false;
    }
    return true;
}

std::string SafeFileName(std::string_view bytes) {
    std::string name;
    for (const char c : bytes) {
        if (IsSafeByte(c))
            name += c;
        else if (name.empty() || name.back() != '_')
            name += '_';
    }
    const auto edge = [](char c) { return c == '.' || c == '_'; };
    while (!name.empty() && edge(name.back())) name.pop_back();
    const auto first = std::ranges::find_if_not(name, edge);
    return std::string(first, name.end());
}

int RunSongBatch(std::span<const std::string> songs, const std::string& folder, std::string_view extension,
                 int workers, const JobMaker& make) {
    std::vector<BatchJob> jobs;
    std::map<std::string, std::string> songOf;  // by output name
    for (const std::string& song : songs) {
        if (IsStandardStream(song)) {
            Complain("-: standard input has no name to name its output after: give songs by name with -o DIR/");
            return kUsageError;
        }
        const std::string name = std::filesystem::path(song).stem().string() + std::string(extension);
        const auto [place, added] = songOf.emplace(name, song);
        if (!added) {
            Complain("%s and %s would both be written to %s; nothing written", place->second.c_str(), song.c_str(),
                     InFolder(folder, name).c_str());
            return kUsageError;
        }
        jobs.push_back({.input = song, .output = InFolder(folder, name)});
    }
    for (const BatchJob& job : jobs)
        if (OutputIsInput(songs, job.output)) return kOutputIsInputStatus;
    if (!MakeFolder(folder)) return 1;
    return RunJobs(jobs, workers, make, "song");
}

int RunJobs(std::span<const BatchJob> jobs, int workers, const JobMaker& make, std::string_view noun) {
    Tally tally(jobs.size(), noun);
    const size_t count = std::min<size_t>(jobs.size(), static_cast<size_t>(workers > 0 ? workers : DefaultWorkers()));
    if (count > 1) {
        Pool pool(jobs, make, tally);
        if (pool.Start(static_cast<int>(count))) {
            pool.Run();
            return tally.Finish();
        }
    }
    // One at a time, in this process.
    for (const BatchJob& job : jobs) {
        auto [made, messages] = MakeQuietly(make, job);
        tally.Done(made, messages);
    }
    return tally.Finish();
}
