// Terminal helpers shared by the tools: a progress bar on stderr (only when
// stderr is a terminal), the one-line error and warning reports, the check
// that standard output took everything written to it, and --version.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

namespace qvhost {

class Progress {
public:
    // Shows a bar for `total` units of work when stderr is a terminal and
    // there are more than `minimum` of them.
    Progress(std::string label, std::size_t total, std::size_t minimum = 5);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // `done` units finished (more than the total show as the total). Never
    // throws: workers call it outside their error handling.
    void update(std::size_t done) noexcept;
    // Clears the bar.
    void finish();

private:
    std::string label_;
    std::size_t total_;
    bool shown_;
    bool active_ = false;
};

// `text` from a results file or of a path (a part, material or variable
// name, a file name, a message quoting them) made safe to show on a
// terminal: it could otherwise carry escape sequences that retitle,
// recolour or rewrite the screen, or line ends that forge lines of a
// report. Every control character (C0 with line feeds, tabs and carriage
// returns, DEL, and C1 whether as a raw byte or UTF-8 encoded) and every
// byte that is not part of valid UTF-8 is shown as \xNN. Valid UTF-8
// passes unchanged. Pass such text through it before it is formatted into
// a line, never the line: the line's own line ends must stay.
std::string terminal_text(const std::string& text);

// What terminal_text shows, but line feeds and tabs stay: for whole lines
// the tools compose, and the quoted fields of CSV files.
std::string terminal_lines(const std::string& text);

#if defined(__MINGW32__)
#define QVHOST_PRINTF_FORMAT(f, a) __attribute__((format(__MINGW_PRINTF_FORMAT, f, a)))
#elif defined(__GNUC__)
#define QVHOST_PRINTF_FORMAT(f, a) __attribute__((format(printf, f, a)))
#else
#define QVHOST_PRINTF_FORMAT(f, a)
#endif

// fprintf through terminal_lines: what the tools print. Text from a file
// among the arguments goes through terminal_text first; this keeps any
// escape sequence left in the rest from the terminal.
QVHOST_PRINTF_FORMAT(2, 3) void print(std::FILE* to, const char* format, ...);
QVHOST_PRINTF_FORMAT(2, 0) void vprint(std::FILE* to, const char* format, std::va_list args);

// Prints "TOOL: MESSAGE" as one line on stderr (line breaks inside the
// message become blanks, control characters are shown as terminal_text
// shows them).
void report_error(const char* tool, const std::string& message);
// Prints "TOOL: warning: MESSAGE" the same way.
void report_warning(const char* tool, const std::string& message);

// Flushes standard output. False, after reporting why, when anything
// written to it was lost (a full disk, a closed pipe, a device that takes
// nothing).
bool flush_stdout(const char* tool);

// Keeps large blocks in the allocator's heaps when they are freed, instead
// of returning them to the system: the tools allocate and free arrays of
// megabytes once per array and cycle, and mapping them afresh each time
// costs a page fault per page (over half the reading time of a large
// analysis) and a lock that every thread of the process shares. Call once,
// before any thread starts; a no-op where the C library has no such knob.
void keep_freed_memory();

// The --version text: "TOOL VERSION", and when `library` is given (the path
// named by --library, empty for the usual search) the results library the
// tool would load, with its version and location, or why none loads.
std::string version_text(const char* tool, const std::string* library);

// Whether `text` is one whole finite number, put in `v`. Numbers too
// small for a double's normal range are numbers (their nearest double);
// too large ones are not.
bool finite_number(const std::string& text, double& v);

// The value of --threads: a count from 1 to 4096, else a UsageError.
unsigned thread_count(const std::string& value);

// What a tool's main shares with the others: --help and --version answered
// wherever they stand (--library's value is taken for --version and passed
// to `run`), then `run` with freed memory kept and the outputs protected
// from signals (protect_outputs, host/output_file.h), a UsageError reported with
// a pointer to --help (status 2), any other exception reported with status
// `failure`, and standard output flushed (`failure` when it lost anything).
int tool_main(int argc, char** argv, const char* tool, const char* usage, int failure,
              const std::function<int(const std::string& library)>& run);

}  // namespace qvhost
