// Terminal helpers shared by the tools: a progress bar on stderr (only when
// stderr is a terminal) and the one-line error report.
#pragma once

#include <cstddef>
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

    // `done` units finished.
    void update(std::size_t done);
    // Clears the bar.
    void finish();

private:
    std::string label_;
    std::size_t total_;
    bool shown_;
    bool active_ = false;
};

// Prints "TOOL: MESSAGE" as one line on stderr (line breaks inside the
// message become blanks).
void report_error(const char* tool, const std::string& message);

}  // namespace qvhost
