#ifndef CLOAKCAM_COMMON_MESSAGE_H
#define CLOAKCAM_COMMON_MESSAGE_H

// Every line cloakcam writes for its user goes through tellUser, which puts
// the program's name before it and writes it whole, in one write, so that
// lines from different threads or a dying display never interleave.

#include <string>

// Writes "cloakcam: ", `line` and a newline to standard error, or to wherever
// sendMessagesTo points messages meanwhile.
void tellUser(const std::string &line);

// Messages go to descriptor `fd` from now on (standard error is 2): while a
// library that chatters on standard error starts, standard error points
// elsewhere, and the program's own lines must still reach the user.
void sendMessagesTo(int fd);

#endif
