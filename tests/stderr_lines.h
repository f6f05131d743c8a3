#ifndef CLOAKCAM_TESTS_STDERR_LINES_H
#define CLOAKCAM_TESTS_STDERR_LINES_H

#include <unistd.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

// Everything written on stderr while it exists, readable at any moment; what
// was written is passed on to the real stderr at the end, for the test log.
class StderrLines {
  public:
    StderrLines() {
        std::fflush(stderr);
        file_ = std::tmpfile();
        saved_ = dup(STDERR_FILENO);
        dup2(fileno(file_), STDERR_FILENO);
    }
    ~StderrLines() {
        std::string written = text();
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        std::fclose(file_);
        std::fputs(written.c_str(), stderr);
    }

    std::string text() {
        std::fflush(stderr);
        std::string all;
        char chunk[4096];
        for (off_t at = 0;;) {
            ssize_t got = pread(fileno(file_), chunk, sizeof chunk, at);
            if (got <= 0)
                break;
            all.append(chunk, got);
            at += got;
        }
        return all;
    }

    std::vector<std::string> lines() {
        std::vector<std::string> all;
        std::istringstream in(text());
        for (std::string line; std::getline(in, line);)
            all.push_back(line);
        return all;
    }

    int count(const std::string &line) {
        int n = 0;
        for (const std::string &each : lines())
            n += each == line;
        return n;
    }

  private:
    std::FILE *file_;
    int saved_;
};

#endif
