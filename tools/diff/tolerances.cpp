// Tolerances by name, from the command line and tolerance files.
#include "diff/tolerances.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "host/console.h"

namespace qvdiff {

namespace {

bool same_letters(const std::string& a, const char* b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return i == a.size() && !b[i];
}

}  // namespace

std::vector<std::string> Tolerances::keys(const std::string& name, int real) const {
    // NAME[MATERIAL]: a material's column; NAME_partN: the array of part N.
    std::string base = name, suffix;
    if (!base.empty() && base.back() == ']') {
        const std::size_t open = base.rfind('[');
        if (open != std::string::npos) suffix = base.substr(open), base.erase(open);
    }
    const std::size_t at = base.rfind("_part");
    if (at != std::string::npos && at + 5 < base.size() &&
        std::all_of(base.begin() + static_cast<std::ptrdiff_t>(at) + 5, base.end(),
                    [](char c) { return c >= '0' && c <= '9'; }))
        suffix = base.substr(at) + suffix, base.erase(at);
    std::vector<std::string> out;
    if (find_)
        for (const int family : {1, 0}) {
            if (real >= 0 && real != family) continue;
            const std::int32_t v = find_(family == 1, base);
            if (v >= 0) out.push_back((family ? "real " : "integer ") + std::to_string(v) + suffix);
        }
    if (out.empty()) {
        for (const char* own : {"DISPLACEMENT", "COORDINATES", "MATERIAL_FRACTION"})
            if (same_letters(base, own)) base = own;
        out.push_back("name " + base + suffix);
    }
    return out;
}

double parse_tolerance_value(const std::string& text, const char* what) {
    double v = 0;
    if (!qvhost::finite_number(text, v) || v < 0.0)
        throw std::invalid_argument(std::string(what) + " must be a number of at least 0, not '" + text + "'");
    return v;
}

Tolerance parse_tolerance(const std::string& rel, const std::string& abs) {
    Tolerance t;
    t.rtol = parse_tolerance_value(rel, "the relative tolerance");
    t.atol = parse_tolerance_value(abs, "the absolute tolerance");
    return t;
}

void Tolerances::index(const Named& n) {
    for (const std::string& key : keys(n.name, -1)) {
        Entry& e = by_key_[key];
        if (!n.command_line && e.command_line) continue;
        e.shown = n.name;
        e.tolerance = n.tolerance;
        e.command_line = n.command_line;
    }
}

void Tolerances::put(const std::string& name, const Tolerance& t, bool command_line) {
    given_.push_back({name, t, command_line});
    index(given_.back());
}

void Tolerances::resolve(VariableFinder find) {
    find_ = std::move(find);
    by_key_.clear();
    for (const Named& n : given_) index(n);
}

void Tolerances::set(const std::string& name, const Tolerance& t) { put(name, t, true); }

void Tolerances::read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("cannot read the tolerance file " + path);
    // A file that goes on (a device, a pipe without end) is refused before
    // it fills memory; a list of every array of a large model fits well.
    constexpr std::size_t kMostBytes = std::size_t{64} << 20;
    std::string text;
    char chunk[65536];
    while (file && text.size() <= kMostBytes) {
        file.read(chunk, sizeof chunk);
        text.append(chunk, static_cast<std::size_t>(file.gcount()));
    }
    if (file.bad()) throw std::runtime_error("cannot read the tolerance file " + path);
    if (text.size() > kMostBytes)
        throw std::runtime_error("the tolerance file " + path + " is longer than 64 MiB");
    std::istringstream in(text);
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
        if (fields.size() == 2 && same_letters(fields[1], "ignore")) {
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

Tolerance Tolerances::lookup(const std::vector<std::string>& names, std::string* matched, int real) const {
    for (const std::string& n : names)
        for (const std::string& key : keys(n, real)) {
            const auto it = by_key_.find(key);
            if (it == by_key_.end()) continue;
            if (matched) *matched = it->second.shown;
            return it->second.tolerance;
        }
    if (matched) matched->clear();
    return defaults;
}

std::vector<std::string> Tolerances::names() const {
    std::vector<std::string> out;
    for (const auto& entry : by_key_) out.push_back(entry.second.shown);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

}  // namespace qvdiff
