// Fields of the CSV files the tools write.
#pragma once

#include <string>

#include "console.h"

namespace qvhost {

// Text `s` (a name from a results file, a unit, a note) as one CSV field. A
// spreadsheet takes a field beginning with '=', '+', '-' or '@' (or a tab
// or carriage return before one) as a formula, which a hostile name could
// use to run one: such a field gets a leading apostrophe and is read as
// text. It is in double quotes (inner quotes doubled) when it holds a comma,
// a quote or a line break, as names from results files may. Numbers the
// tools write themselves are no text fields and do not pass through here.
// Control characters other than tab and line breaks (an escape sequence
// would reach the terminal of whoever prints the file), C1 ones included,
// and bytes outside UTF-8 are shown as terminal_lines shows them.
inline std::string csv_field(const std::string& s) {
    const bool formula = !s.empty() && std::string("=+-@\t\r").find(s[0]) != std::string::npos;
    std::string text = formula ? "'" : "";
    // Shown as on a terminal, carriage returns kept (the field is quoted).
    for (std::size_t from = 0;;) {
        const std::size_t cr = s.find('\r', from);
        text += terminal_lines(s.substr(from, cr == std::string::npos ? std::string::npos : cr - from));
        if (cr == std::string::npos) break;
        text += '\r';
        from = cr + 1;
    }
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string q = "\"";
    for (char c : text) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

}  // namespace qvhost
