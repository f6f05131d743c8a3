#include "common/message.h"

#include <atomic>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

std::atomic<int> messageFd{2};

} // namespace

void tellUser(const std::string &line) {
    const std::string whole = "cloakcam: " + line + "\n";
    const char *next = whole.data();
    size_t left = whole.size();
    while (left > 0) {
#ifdef _WIN32
        const int written = _write(messageFd.load(), next, static_cast<unsigned>(left));
#else
        const ssize_t written = write(messageFd.load(), next, left);
#endif
        if (written <= 0)
            return;
        next += written;
        left -= static_cast<size_t>(written);
    }
}

void sendMessagesTo(int fd) { messageFd.store(fd); }
