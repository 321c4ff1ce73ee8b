// Calls that may end the process run in a forked child, so that a crash or
// an exit inside the library fails the case that made it, not the test
// binary. The child sends text back through a pipe; what the library prints
// on the console is kept to tell how a child ended. Windows has no fork:
// there the "child" is the test process itself, and a crash fails the whole
// test instead of the one case.
#pragma once

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <map>
#include <sstream>
#include <string>

namespace qvtest {

// The child's end of the pipe: text sent at once, so that the parent gets
// it even when the child dies afterwards.
#ifdef _WIN32
struct Pipe {
    std::string* sent;
    void send(const std::string& text) const { sent->append(text); }
};
#else
struct Pipe {
    int fd;
    void send(const std::string& text) const {
        for (std::size_t at = 0; at < text.size();) {
            const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
            if (n <= 0) return;
            at += std::size_t(n);
        }
    }
};
#endif

struct ChildResult {
    bool passed;        // the body returned true
    std::string text;   // everything it sent
    std::string death;  // when it did not return: how the process ended, what it printed
    std::string what() const {
        return death.empty() || text.empty() ? text + death : text + "; " + death;
    }
};

#ifdef _WIN32
// Runs `body` in this process.
inline ChildResult in_child(const std::function<bool(const Pipe&)>& body) {
    ChildResult result{false, "", ""};
    try {
        result.passed = body(Pipe{&result.text});
    } catch (const std::exception& e) {
        result.text += std::string(" exception: ") + e.what();
        result.death = "the body threw";
    }
    return result;
}
#else
// Runs `body` in a child process and waits for it.
inline ChildResult in_child(const std::function<bool(const Pipe&)>& body) {
    int fds[2];
    std::FILE* console = std::tmpfile();
    if (!console || ::pipe(fds) != 0) return {false, "", "no pipe or console file for the child"};
    std::fflush(nullptr);  // nothing buffered is written twice
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        ::dup2(::fileno(console), STDOUT_FILENO);
        bool passed = false;
        try {
            passed = body(Pipe{fds[1]});
        } catch (const std::exception& e) {
            Pipe{fds[1]}.send(std::string(" exception: ") + e.what());
        }
        std::fflush(nullptr);
        ::_exit(passed ? 0 : 3);
    }
    ::close(fds[1]);
    ChildResult result{false, "", ""};
    char chunk[4096];
    for (ssize_t n; pid > 0 && (n = ::read(fds[0], chunk, sizeof chunk)) > 0;)
        result.text.append(chunk, std::size_t(n));
    ::close(fds[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) {
        result.death = "fork or wait failed";
    } else if (WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 3)) {
        result.passed = WEXITSTATUS(status) == 0;
    } else {
        std::ostringstream how;
        if (WIFSIGNALED(status))
            how << "the process died of signal " << WTERMSIG(status) << " ("
                << strsignal(WTERMSIG(status)) << ")";
        else
            how << "the process exited with status " << WEXITSTATUS(status);
        std::string printed;
        std::rewind(console);
        for (int ch; (ch = std::fgetc(console)) != EOF;) printed += char(ch);
        while (!printed.empty() && printed.back() == '\n') printed.pop_back();
        if (!printed.empty()) how << ", printing \"" << printed << "\"";
        result.death = how.str();
    }
    std::fclose(console);
    return result;
}
#endif

// What a child found wrong, one finding after another.
class Findings {
public:
    bool expect(bool ok, const std::string& what) {
        if (!ok) text_ += (text_.empty() ? "" : "; ") + what;
        return ok;
    }
    const std::string& text() const { return text_; }
    // Ends a child body: sends the findings, true when there are none.
    bool report(const Pipe& pipe) const {
        pipe.send(text_);
        return text_.empty();
    }

private:
    std::string text_;
};

// Runs cases 1..count in forked children, each case setting up what it
// needs itself. A child runs `prepare`, then one case after another, sending
// "S i" as case i starts and "F i findings" when the case found something
// wrong. When a child dies, case i fails with how it died, and a new child
// goes on from case i + 1. Returns the findings of the failed cases.
inline std::map<long, std::string> run_cases(long count, const std::function<bool()>& prepare,
                                             const std::function<void(long, Findings&)>& run) {
    std::map<long, std::string> failures;
    for (long first = 1; first <= count;) {
        const ChildResult r = in_child([&](const Pipe& pipe) {
            if (!prepare()) return false;
            for (long i = first; i <= count; ++i) {
                pipe.send("S " + std::to_string(i) + "\n");
                Findings f;
                run(i, f);
                if (!f.text().empty()) pipe.send("F " + std::to_string(i) + " " + f.text() + "\n");
            }
            return true;
        });
        long started = first - 1;
        std::istringstream lines(r.text);
        for (std::string tag, rest; lines >> tag;) {
            long i = 0;
            lines >> i;
            std::getline(lines, rest);
            if (tag == "S") started = i;
            if (tag == "F") failures[i] = rest.substr(1);
        }
        if (r.passed) break;
        if (started < first) {
            failures[first] = "the preparation failed: " + r.what();
            break;
        }
        failures[started] += (failures[started].empty() ? "" : "; ") + r.death;
        first = started + 1;
    }
    return failures;
}

}  // namespace qvtest
