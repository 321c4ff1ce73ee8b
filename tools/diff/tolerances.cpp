// Tolerances by name, from the command line and tolerance files.
#include "diff/tolerances.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace qvdiff {

std::string normalised(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.pop_back();
    for (char& c : s) {
        if (c == ' ' || c == '.') c = '_';
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return s;
}

double parse_tolerance_value(const std::string& text, const char* what) {
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end || errno || !std::isfinite(v) || v < 0.0)
        throw std::invalid_argument(std::string(what) + " must be a number of at least 0, not '" + text + "'");
    return v;
}

Tolerance parse_tolerance(const std::string& rel, const std::string& abs) {
    Tolerance t;
    t.rtol = parse_tolerance_value(rel, "the relative tolerance");
    t.atol = parse_tolerance_value(abs, "the absolute tolerance");
    return t;
}

void Tolerances::put(const std::string& name, const Tolerance& t, bool command_line) {
    const std::string key = normalised(name);
    if (!command_line && from_command_line_[key]) return;
    by_name_[key] = t;
    from_command_line_[key] = command_line;
}

void Tolerances::set(const std::string& name, const Tolerance& t) { put(name, t, true); }

void Tolerances::read_file(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read the tolerance file " + path);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        const std::size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        std::vector<std::string> fields;
        std::string field;
        for (const char c : line + " ") {
            if (c == ' ' || c == '\t' || c == ',' || c == '\r') {
                if (!field.empty()) fields.push_back(field), field.clear();
            } else {
                field += c;
            }
        }
        if (fields.empty()) continue;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        Tolerance t;
        if (fields.size() == 2 && normalised(fields[1]) == "IGNORE") {
            t.ignore = true;
        } else if (fields.size() == 3) {
            try {
                t = parse_tolerance(fields[1], fields[2]);
            } catch (const std::invalid_argument& e) {
                throw std::runtime_error(where + e.what());
            }
        } else {
            throw std::runtime_error(where + "expected NAME RELATIVE ABSOLUTE or NAME ignore");
        }
        put(fields[0], t, false);
    }
    if (in.bad()) throw std::runtime_error("cannot read the tolerance file " + path);
}

Tolerance Tolerances::lookup(const std::vector<std::string>& names, std::string* matched) const {
    for (const std::string& n : names) {
        const auto it = by_name_.find(normalised(n));
        if (it == by_name_.end()) continue;
        if (matched) *matched = it->first;
        return it->second;
    }
    if (matched) matched->clear();
    return defaults;
}

std::vector<std::string> Tolerances::names() const {
    std::vector<std::string> out;
    for (const auto& entry : by_name_) out.push_back(entry.first);
    return out;
}

}  // namespace qvdiff
