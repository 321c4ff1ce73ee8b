// File units: open, test, close, probe, message lines and the fatal exit.
#include "runtime/file_units.h"

#include <cstdio>
#include <cstdlib>
#include <map>

namespace qv::runtime {
namespace {

struct UnitTable {
    std::map<int, Connection> units;
    std::map<int, std::function<void(const std::string&)>> text_sinks;
    std::string last_failed_name;
    std::string last_fatal_message;
    bool base_loader_started = false;
};

UnitTable& table() {
    static UnitTable t;
    return t;
}

ByteOrder order_for(int form) {
    switch (form) {
    case 1: case 2: case -8: return ByteOrder::Native;
    case -1: return ByteOrder::LittleEndian;
    case -2: return ByteOrder::Cray;
    case -3: return ByteOrder::Fdx;
    case -4: return ByteOrder::Fgx;
    case -5: return ByteOrder::Ibm;
    case -6: return ByteOrder::Vaxd;
    case -7: return ByteOrder::Vaxg;
    default: return ByteOrder::BigEndian;
    }
}

std::string base_name(const std::string& name) {
    const std::size_t slash = name.find_last_of("/\\");
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    const std::size_t blank = base.find(' ');
    return blank == std::string::npos ? base : base.substr(0, blank);
}

std::string trim_right(const std::string& s) {
    const std::size_t end = s.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

[[noreturn]] void open_failed(const std::string& name, int status) {
    table().last_failed_name = name;
    std::string message = "Error status:" + std::to_string(status);
    if (status == status_code::kUnknown)
        message += " opening file for writing: " + name;
    else if (status == status_code::kScratch)
        message += " opening scratch file. Check TMP directory permissions.";
    else
        message += " opening file for reading: " + name;
    fatal_error(message);
}

void warn_read_only(const std::string& name) {
    const std::string base = base_name(name);
    if (base == "qvin" || base == "qvins.dat") {
        write_line(unit::kMessages, "File " + base + " is read-only. Please make it writeable.");
    } else if (is_text_unit_connected(unit::kMessages)) {
        write_line(unit::kMessages, table().base_loader_started
                                        ? "Warning:  File " + base + " is read-only. "
                                        : "Warning: File " + base + " is read-only.");
    }
}

}  // namespace

void open_unit(int unit_number, const std::string& raw_name, int status, int form, int direct,
               int record_length) {
    const int u = unit_number < 0 ? -unit_number : unit_number;
    const std::string name = trim_right(raw_name);
    auto& units = table().units;
    if (auto it = units.find(u); it != units.end()) {
        if (is_text_unit_connected(unit::kMessages))
            write_line(unit::kMessages, "Warning : Opening file " + name + " with unit#" +
                                            std::to_string(u) + " still assigned to file " +
                                            it->second.name);
        units.erase(it);
    }
    if (status != status_code::kUnknown && status != status_code::kAppend &&
        status != status_code::kScratch)
        status = status_code::kOld;

    using Mode = platform::File::Mode;
    const Mode mode = status == status_code::kUnknown   ? Mode::CreateOrOpen
                      : status == status_code::kScratch ? Mode::Scratch
                                                        : Mode::Read;
    Connection c;
    c.name = name;
    c.file = platform::File::open(name, mode);
    if (!c.file) open_failed(name, status);
    if (status == status_code::kAppend && !c.file->seek(c.file->size())) open_failed(name, status);
    c.size = c.file->size();
    c.direct = direct == 1;
    c.record_length = c.direct ? record_length : 0;
    c.formatted = !c.direct && (form == 1 || form == 2);
    c.order = order_for(form);
    c.read_only = mode == Mode::Read || !platform::is_writable(name);
    const bool check = unit_number >= 1 && status != status_code::kScratch;
    if (check && !platform::is_writable(name)) warn_read_only(name);
    units[u] = std::move(c);
}

bool is_open(int unit_number) { return table().units.count(unit_number) != 0; }

Connection* connection(int unit_number) {
    auto& units = table().units;
    auto it = units.find(unit_number);
    return it == units.end() ? nullptr : &it->second;
}

int file_state(const std::string& raw_name) {
    const std::string name = trim_right(raw_name);
    if (!platform::is_regular_file(name)) return 0;
    for (const auto& [number, c] : table().units)
        if (!c.name.empty() && platform::same_file(c.name, name)) return number;
    return 1;
}

void close_unit(int unit_number, bool delete_file) {
    auto& units = table().units;
    auto it = units.find(unit_number);
    if (it == units.end()) return;
    const std::string name = it->second.name;
    units.erase(it);  // closes the file
    if (delete_file && !name.empty()) platform::remove_file(name);
}

int probe_writable(const std::string& raw_path) {
    const std::string path = trim_right(raw_path);
    std::string candidate;
    bool free_name = false;
    for (int counter = 0; counter <= 99 && !free_name; ++counter) {
        candidate = path + "_$QVTEST" + std::to_string(counter) + ".SYS";
        free_name = !platform::is_regular_file(candidate) && !platform::is_directory(candidate);
    }
    if (!free_name) return 1;
    // Created exclusively, so a file that appeared meanwhile is never
    // mistaken for ours and deleted.
    auto file = platform::File::open(candidate, platform::File::Mode::CreateNew);
    if (!file) return 1;
    Connection c;
    c.name = candidate;
    c.file = std::move(file);
    c.read_only = false;
    table().units[unit::kProbe] = std::move(c);
    close_unit(unit::kProbe, true);
    return 0;
}

void fatal_error(const std::string& message) {
    table().last_fatal_message = message;  // kept for a debugger, not shown
    std::fputs(" Error!\n", stdout);
    std::fflush(stdout);
    std::exit(EXIT_FAILURE);
}

void write_line(int unit_number, const std::string& text) {
    const std::string line = " " + text;
    auto& sinks = table().text_sinks;
    if (auto it = sinks.find(unit_number); it != sinks.end()) {
        it->second(line);
    } else if (unit_number == unit::kAllocMessages) {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}

bool is_text_unit_connected(int unit_number) { return table().text_sinks.count(unit_number) != 0; }

void connect_text_unit(int unit_number, std::function<void(const std::string&)> sink) {
    table().text_sinks[unit_number] = std::move(sink);
}

void disconnect_text_unit(int unit_number) { table().text_sinks.erase(unit_number); }

void note_base_loader_started() { table().base_loader_started = true; }

}  // namespace qv::runtime
