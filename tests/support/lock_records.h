// What the lock tests share: small text files, and (POSIX only) this host's
// name, the id of a process that has ended, and a lock record written as
// this library writes one.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

#ifndef _WIN32
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace qvtest {

inline std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void write_text(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

#ifndef _WIN32

inline std::string this_host() {
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    return name;
}

// A child that exited and was reaped: an id no process of ours runs under.
inline pid_t ended_process() {
    const pid_t child = fork();
    if (child == 0) _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    return child;
}

inline std::string lock_record(const std::string& host, long long pid) {
    return "results_api reader lock\nhost " + host + "\nprocess " + std::to_string(pid) +
           "\ntime 1700000000\n";
}

#endif

}  // namespace qvtest
