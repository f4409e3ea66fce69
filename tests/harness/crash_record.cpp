// Preloaded into every process of the end-to-end tests. In the suite's own programs
// (tevoli-*), a crash signal (a sanitizer report aborts) adds a line to the file that
// TEVOLI_CRASH_LOG names before the program dies of it: the test command fails on
// it even when the test, or its rerun, passes. Other processes are left alone.
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace {

const char* logPath = nullptr;
// Made at start: a handler may not format.
char records[NSIG][PATH_MAX + 96];
struct sigaction previous[NSIG];

void onCrash(int signal) {
    // Left open: the process is dying.
    const int fd = open(logPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    [[maybe_unused]] ssize_t written = write(fd, records[signal], strlen(records[signal]));
    // The program dies as it would have: a sanitizer's handler reports the fault when
    // the instruction runs again, the default action kills on return.
    sigaction(signal, &previous[signal], nullptr);
    if (previous[signal].sa_handler == SIG_DFL) raise(signal);
}

__attribute__((constructor)) void recordCrashes() {
    logPath = getenv("TEVOLI_CRASH_LOG");
    char exe[PATH_MAX] = {};
    if (logPath == nullptr || readlink("/proc/self/exe", exe, sizeof exe - 1) < 0) return;
    const char* name = strrchr(exe, '/') != nullptr ? strrchr(exe, '/') + 1 : exe;
    if (strncmp(name, "tevoli-", 7) != 0) return;
    const char* test = getenv("TEVOLI_TEST_NAME");
    for (const int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS}) {
        snprintf(records[signal], sizeof records[signal], "%s (pid %d, %s) ended by SIG%s\n", name, getpid(),
                 test != nullptr ? test : "?", sigabbrev_np(signal));
        struct sigaction action = {};
        action.sa_handler = onCrash;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, &previous[signal]);
    }
}

}  // namespace
