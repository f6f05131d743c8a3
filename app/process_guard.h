#ifndef CLOAKCAM_APP_PROCESS_GUARD_H
#define CLOAKCAM_APP_PROCESS_GUARD_H

// What the process makes sure of before any library starts, so that hostile
// surroundings end in one line of ours rather than in a library's abort, and
// how signals from outside end the program as a quit does.

#include <string>

// Opens /dev/null on whichever of standard input, output and error is
// closed, so that no file a library opens later takes its number.
void reopenClosedStandardStreams();

// Raises the soft limits on open files and address space as far as the
// program needs, where the hard limits allow; what is still too small, as a
// line for the user, or empty.
std::string checkResourceLimits();

// The same judgement on given limits (open files, address space in bytes;
// ~0 for unlimited).
std::string limitProblem(unsigned long long openFiles, unsigned long long addressSpace);

// SIGTERM and SIGHUP (terminal closed) ask the main loop to end, which then
// quits with status 0.
void catchQuitSignals();
bool quitSignalled();

// A write to a closed pipe or socket fails instead of killing the program:
// standard output piped into a program that ended, or the X server dying
// between Xlib's check of its connection and its next write. Set before any
// library opens a connection, since the server may go while SDL starts.
void ignoreBrokenPipes();

// Lines are written in UTF-8. A Windows console shows them in its own code
// page unless told otherwise, so a camera's name beyond ASCII would come out
// garbled; a redirected stream is left as it is, the bytes already right.
void writeUtf8ToConsole();

#endif
