#include "run_program.h"

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <stdexcept>

extern char** environ;

ProgramRun run_program(const std::string& path, const std::vector<std::string>& args) {
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
        posix_spawn_file_actions_addclose(&actions, fd);

    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    const int spawned = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (spawned != 0) throw std::runtime_error("cannot run " + path);

    // Drain both pipes together so that neither can fill up and stall the child.
    ProgramRun run{-1, "", ""};
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    for (int open_fds = 2; open_fds > 0;) {
        poll(fds, 2, -1);
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buf[65536];
            const ssize_t got = read(fds[i].fd, buf, sizeof buf);
            if (got > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(got));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            }
        }
    }
    int wstatus;
    waitpid(pid, &wstatus, 0);
    run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    return run;
}

std::string mask_times(const std::string& report) {
    // Each figure is "time=" or "avg=" and then digits, a point, six digits.
    std::string masked;
    std::size_t i = 0;
    while (i < report.size()) {
        const char c = report[i++];
        masked += c;
        if (c != '=' || !(masked.size() >= 5 && (masked.compare(masked.size() - 5, 5, "time=") == 0 ||
                                                  masked.compare(masked.size() - 4, 4, "avg=") == 0)))
            continue;
        std::size_t j = i;
        while (j < report.size() && std::isdigit(static_cast<unsigned char>(report[j]))) ++j;
        std::size_t k = j + 1;
        while (k < report.size() && std::isdigit(static_cast<unsigned char>(report[k]))) ++k;
        if (j > i && j < report.size() && report[j] == '.' && k - j == 7) {
            masked += '#';
            i = k;
        }
    }
    return masked;
}
