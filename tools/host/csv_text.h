// Fields of the CSV files the tools write.
#pragma once

#include <string>

namespace qvhost {

// `s` as one CSV field: in double quotes (inner quotes doubled) when it holds
// a comma, a quote or a line break, as names from results files may.
inline std::string csv_field(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

}  // namespace qvhost
