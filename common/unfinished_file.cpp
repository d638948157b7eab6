#include "unfinished_file.h"

#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <initializer_list>

namespace {

char unfinished[4096];
volatile sig_atomic_t named = 0;
char resume_line[4096];
volatile sig_atomic_t resumable = 0;

void on_signal(int signal_number) {
    remove_unfinished_file();
    print_resume_line();
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

}  // namespace

void set_unfinished_file(const char* path) {
    named = 0;
    if (!path || std::strlen(path) >= sizeof unfinished) return;
    std::strcpy(unfinished, path);
    named = 1;
}

void remove_unfinished_file() {
    if (named) unlink(unfinished);
    named = 0;
}

void set_resume_line(const char* line) {
    resumable = 0;
    if (!line || std::strlen(line) >= sizeof resume_line) return;
    std::strcpy(resume_line, line);
    resumable = 1;
}

void print_resume_line() {
    if (!resumable) return;
    const char* at = resume_line;
    for (std::size_t left = std::strlen(resume_line); left > 0;) {
        const ssize_t wrote = write(STDERR_FILENO, at, left);
        if (wrote <= 0) return;
        at += wrote;
        left -= static_cast<std::size_t>(wrote);
    }
}

void remove_unfinished_file_on_signals() {
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action, before;
        if (sigaction(signal_number, nullptr, &before) != 0 || before.sa_handler == SIG_IGN) continue;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = on_signal;
        sigemptyset(&action.sa_mask);
        sigaction(signal_number, &action, nullptr);
    }
}
