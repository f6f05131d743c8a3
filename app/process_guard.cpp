#include "app/process_guard.h"

#include <csignal>
#include <cstdlib>

#include "common/message.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {

// Measured on the test pattern: about a dozen descriptors; GStreamer's
// camera pipeline, device monitor and PipeWire connection add a few dozen
// more. Below this, GLib aborts or GStreamer floods stderr.
constexpr unsigned long long neededFiles = 64;
// Mostly thread stacks and allocator arenas: GStreamer's threads fail to
// start below this, and a pipeline left half started cannot be stopped.
constexpr unsigned long long neededAddressSpace = 256ull << 20;

constexpr unsigned long long unlimited = ~0ull;

volatile std::sig_atomic_t signalled = 0;

void askToQuit(int) { signalled = 1; }

#ifndef _WIN32
unsigned long long asNumber(rlim_t limit) {
    return limit == RLIM_INFINITY ? unlimited : static_cast<unsigned long long>(limit);
}

// Raises the soft limit to `wanted` when it is lower and the hard one allows;
// returns the soft limit in force afterwards.
unsigned long long raise(int resource, unsigned long long wanted) {
    rlimit limit;
    if (getrlimit(resource, &limit) != 0)
        return unlimited;
    if (asNumber(limit.rlim_cur) < wanted) {
        rlimit raised = limit;
        raised.rlim_cur = asNumber(limit.rlim_max) < wanted ? limit.rlim_max : wanted;
        if (setrlimit(resource, &raised) == 0)
            limit = raised;
    }
    return asNumber(limit.rlim_cur);
}
#endif

} // namespace

// Windows gives a program without standard handles its own invalid ones and
// has no resource limits of this kind; there is nothing to do there.
void reopenClosedStandardStreams() {
#ifndef _WIN32
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1)
            continue;
        const int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        // The lowest free number is the closed one; anything else is moved there.
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
#endif
}

std::string limitProblem(unsigned long long openFiles, unsigned long long addressSpace) {
    if (openFiles < neededFiles)
        return "too few file descriptors (limit " + std::to_string(openFiles) + ", needs " +
               std::to_string(neededFiles) + ")";
    if (addressSpace < neededAddressSpace)
        return "too little address space (limit " + std::to_string(addressSpace >> 10) +
               " KiB, needs " + std::to_string(neededAddressSpace >> 10) + " KiB)";
    return "";
}

std::string checkResourceLimits() {
#ifdef _WIN32
    return "";
#else
    const unsigned long long files = raise(RLIMIT_NOFILE, neededFiles);
    const unsigned long long space = raise(RLIMIT_AS, neededAddressSpace);
    return limitProblem(files, space);
#endif
}

void catchQuitSignals() {
#ifdef _WIN32
    std::signal(SIGTERM, askToQuit);
#else
    struct sigaction quit = {};
    quit.sa_handler = askToQuit;
    sigemptyset(&quit.sa_mask);
    sigaction(SIGTERM, &quit, nullptr);
    sigaction(SIGHUP, &quit, nullptr);
#endif
}

void ignoreBrokenPipes() {
#ifndef _WIN32
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

bool quitSignalled() { return signalled != 0; }

#ifdef __linux__
namespace {

// Runs before any library initialises itself: sdl12-compat loads SDL2 in its
// own initialiser and aborts when that fails for want of address space,
// before main could say why, and a library's initialiser may open a file
// that takes a closed standard descriptor's number.
void guardBeforeLibraries(int, char **, char **) {
    reopenClosedStandardStreams();
    const std::string problem = checkResourceLimits();
    if (problem.empty())
        return;
    tellUser(problem);
    _exit(1);
}

__attribute__((section(".preinit_array"),
               used)) void (*const guard)(int, char **, char **) = guardBeforeLibraries;

} // namespace
#endif

#ifdef _WIN32
namespace {

// The console's own code page, given back when the program ends: the
// console outlives it, and other programs' text in it would read wrong.
UINT consoleCodePage = 0;

void restoreConsoleCodePage() { SetConsoleOutputCP(consoleCodePage); }

} // namespace
#endif

void writeUtf8ToConsole() {
#ifdef _WIN32
    if (GetFileType(GetStdHandle(STD_ERROR_HANDLE)) != FILE_TYPE_CHAR)
        return;
    consoleCodePage = GetConsoleOutputCP();
    if (consoleCodePage != 0 && consoleCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
        std::atexit(restoreConsoleCodePage);
#endif
}
