// Progress bar and error lines.
#include "host/console.h"

#include <unistd.h>

#include <cstdio>

namespace qvhost {

Progress::Progress(std::string label, std::size_t total, std::size_t minimum)
    : label_(std::move(label)), total_(total), shown_(::isatty(STDERR_FILENO) == 1 && total > minimum) {}

Progress::~Progress() { finish(); }

void Progress::update(std::size_t done) {
    if (!shown_) return;
    constexpr std::size_t width = 40;
    const std::size_t filled = total_ == 0 ? width : done * width / total_;
    std::string bar(filled, '#');
    bar.append(width - filled, '.');
    std::fprintf(stderr, "\r%s [%s] %zu/%zu", label_.c_str(), bar.c_str(), done, total_);
    std::fflush(stderr);
    active_ = true;
}

void Progress::finish() {
    if (!active_) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    active_ = false;
}

void report_error(const char* tool, const std::string& message) {
    std::string line = message;
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    std::fprintf(stderr, "%s: %s\n", tool, line.c_str());
}

}  // namespace qvhost
