// Progress bar, error and warning lines, standard output and --version.
#include "host/console.h"

#include <unistd.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <algorithm>
#include <cstdarg>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "host/error.h"
#include "host/output_file.h"
#include "host/xml_text.h"
#include "host/results_library.h"

#ifndef QVRES_TOOLS_VERSION
#define QVRES_TOOLS_VERSION "0.0.0"
#endif

namespace qvhost {

Progress::Progress(std::string label, std::size_t total, std::size_t minimum)
    : label_(std::move(label)), total_(total), shown_(::isatty(STDERR_FILENO) == 1 && total > minimum) {}

Progress::~Progress() { finish(); }

void Progress::update(std::size_t done) noexcept {
    if (!shown_) return;
    constexpr std::size_t width = 40;
    done = std::min(done, total_);
    const std::size_t filled = total_ == 0 ? width : done * width / total_;
    char bar[width + 1];
    std::memset(bar, '#', filled);
    std::memset(bar + filled, '.', width - filled);
    bar[width] = '\0';
    std::fprintf(stderr, "\r%s [%s] %zu/%zu", label_.c_str(), bar, done, total_);
    std::fflush(stderr);
    active_ = true;
}

void Progress::finish() {
    if (!active_) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    active_ = false;
}

namespace {

std::string one_line(const std::string& message) {
    std::string line = message;
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    return terminal_text(line);
}

void append_hex(std::string& out, unsigned char byte) {
    static const char digits[] = "0123456789abcdef";
    out += "\\x";
    out += digits[byte >> 4];
    out += digits[byte & 15];
}

// `text` with every control character and every byte outside UTF-8 shown
// as \xNN, but for line feeds and tabs when `keep_layout`.
std::string shown(const std::string& text, bool keep_layout) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto u = static_cast<unsigned char>(text[i]);
        if (u >= 0x80) {
            const std::size_t n = utf8_sequence(text, i);
            // U+0080..U+009F, the C1 controls, are C2 80..C2 9F in UTF-8.
            const bool c1 = n == 2 && u == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
            if (n == 0 || c1) {
                append_hex(out, u);
                continue;
            }
            out.append(text, i, n);
            i += n - 1;
        } else if ((u < 0x20 && !(keep_layout && (u == '\n' || u == '\t'))) || u == 0x7F) {
            append_hex(out, u);
        } else {
            out += static_cast<char>(u);
        }
    }
    return out;
}

}  // namespace

std::string terminal_text(const std::string& text) { return shown(text, false); }

std::string terminal_lines(const std::string& text) { return shown(text, true); }

void vprint(std::FILE* to, const char* format, std::va_list args) {
    std::va_list again;
    va_copy(again, args);
    char small[256];
    const int n = std::vsnprintf(small, sizeof small, format, args);
    std::string text;
    if (n >= 0 && static_cast<std::size_t>(n) < sizeof small) {
        text.assign(small, static_cast<std::size_t>(n));
    } else if (n > 0) {
        text.assign(static_cast<std::size_t>(n) + 1, '\0');
        std::vsnprintf(&text[0], text.size(), format, again);
        text.pop_back();
    }
    va_end(again);
    const std::string safe = terminal_lines(text);
    std::fwrite(safe.data(), 1, safe.size(), to);
}

void print(std::FILE* to, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    vprint(to, format, args);
    va_end(args);
}

void report_error(const char* tool, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", tool, one_line(message).c_str());
}

void report_warning(const char* tool, const std::string& message) {
    std::fprintf(stderr, "%s: warning: %s\n", tool, one_line(message).c_str());
}

bool flush_stdout(const char* tool) {
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    if (flushed && !std::ferror(stdout)) return true;
    const int e = errno;
    report_error(tool, std::string("cannot write standard output") + (e ? std::string(": ") + std::strerror(e) : ""));
    return false;
}

void keep_freed_memory() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 32 << 20);   // the largest glibc takes: blocks below it come from the heaps
    mallopt(M_TRIM_THRESHOLD, 1 << 30);    // and stay there when freed
#endif
}

std::string version_text(const char* tool, const std::string* library) {
    std::string text = std::string(tool) + " " + QVRES_TOOLS_VERSION + "\n";
    if (!library) return text;
    try {
        const ResultsLibrary lib(*library);
        text += "results library " + lib.version() + " (" + lib.location() + ")\n";
    } catch (const std::exception& e) {
        text += std::string("results library: none loaded: ") + e.what() + "\n";
    }
    return text;
}

bool finite_number(const std::string& text, double& v) {
    char* end = nullptr;
    errno = 0;
    v = std::strtod(text.c_str(), &end);
    // ERANGE also reports an underflow, whose result (a subnormal or zero)
    // is the number's nearest double.
    return !text.empty() && !*end && std::isfinite(v) && (errno == 0 || errno == ERANGE);
}

unsigned thread_count(const std::string& value) {
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end || errno || n < 1 || n > 4096)
        throw UsageError("--threads takes a count from 1 to 4096, not '" + value + "'");
    return static_cast<unsigned>(n);
}

int tool_main(int argc, char** argv, const char* tool, const char* usage, int failure,
              const std::function<int(const std::string& library)>& run) {
    std::string library;
    for (int a = 1; a + 1 < argc; ++a)
        if (std::string(argv[a]) == "--library") library = argv[a + 1];
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "--library") {
            ++a;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            return flush_stdout(tool) ? 0 : failure;
        } else if (arg == "--version") {
            std::fputs(version_text(tool, &library).c_str(), stdout);
            return flush_stdout(tool) ? 0 : failure;
        }
    }
    keep_freed_memory();
    protect_outputs();
    int status;
    try {
        status = run(library);
    } catch (const UsageError& e) {
        report_error(tool, std::string(e.what()) + " (see " + tool + " --help)");
        return 2;
    } catch (const std::exception& e) {
        report_error(tool, e.what());
        status = failure;
    }
    return flush_stdout(tool) ? status : failure;
}


}  // namespace qvhost
