// Fields of the CSV files the tools write.
#pragma once

#include <string>

namespace qvhost {

// Text `s` (a name from a results file, a unit, a note) as one CSV field. A
// spreadsheet takes a field beginning with '=', '+', '-' or '@' (or a tab
// or carriage return before one) as a formula, which a hostile name could
// use to run one: such a field gets a leading apostrophe and is read as
// text. It is in double quotes (inner quotes doubled) when it holds a comma,
// a quote or a line break, as names from results files may. Numbers the
// tools write themselves are no text fields and do not pass through here.
// Control characters other than tab and line breaks (an escape sequence
// would reach the terminal of whoever prints the file) are shown as \xNN.
inline std::string csv_field(const std::string& s) {
    const bool formula = !s.empty() && std::string("=+-@\t\r").find(s[0]) != std::string::npos;
    std::string text = formula ? "'" : "";
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t' && c != '\r' && c != '\n') || u == 0x7F) {
            text += "\\x";
            text += "0123456789abcdef"[u >> 4];
            text += "0123456789abcdef"[u & 15];
        } else {
            text += c;
        }
    }
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string q = "\"";
    for (char c : text) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

}  // namespace qvhost
