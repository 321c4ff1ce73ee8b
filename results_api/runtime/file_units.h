// File units: the fixed unit numbers, opening files on them with the
// library's open codes, open-state and file-state tests, closing with
// deletion, the writable-location probe, message lines and the fatal exit.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "runtime/platform.h"

namespace qv::runtime {

// Every role has its own unit; there is no search for a free one.
namespace unit {
inline constexpr int kAllocMessages = 38;  // allocation failure lines
inline constexpr int kMessages = 51;       // warnings, written only when connected
inline constexpr int kRegistration = 57;   // a cycle file while it is registered
inline constexpr int kResults = 58;        // the current cycle file
inline constexpr int kBase = 59;           // the base file while it is loaded
inline constexpr int kLock = 64;           // the reader's lock file
inline constexpr int kProbe = 67;          // the writable-location probe
}  // namespace unit

// Status codes of an open request.
namespace status_code {
inline constexpr int kOld = 0;      // must exist (also any unknown code)
inline constexpr int kUnknown = 1;  // created when missing
inline constexpr int kAppend = 2;   // must exist, positioned at its end
inline constexpr int kScratch = 3;  // nameless, gone when closed
}  // namespace status_code

// Numeric byte order of an unformatted connection, from the form code.
enum class ByteOrder { BigEndian, LittleEndian, Native, Cray, Fdx, Fgx, Ibm, Vaxd, Vaxg };

// One connection of a unit to a file.
struct Connection {
    std::string name;
    std::unique_ptr<platform::File> file;
    bool formatted = false;
    ByteOrder order = ByteOrder::BigEndian;
    bool direct = false;
    int record_length = 0;
    bool read_only = true;
    // Size of the file when it was opened; reads never go beyond it.
    std::uint64_t size = 0;
};

// Opens `name` on unit |unit_number|. A negative unit number skips the
// read-only check. An open that fails ends the process through fatal_error;
// callers test the file state first so that this never happens for a file
// that is missing.
void open_unit(int unit_number, const std::string& name, int status, int form = 0,
               int direct = 0, int record_length = 0);
bool is_open(int unit_number);
// The connection of an open unit, or nullptr.
Connection* connection(int unit_number);
// 0: no regular file of that name; 1: it exists and no unit has it;
// otherwise the number of the unit connected to it.
int file_state(const std::string& name);
void close_unit(int unit_number, bool delete_file = false);

// 0 when a file can be created (and was deleted again) at `path`, 1 when not.
// It never leaves a file behind and never ends the process.
int probe_writable(const std::string& path);

// Writes " Error!" on the console and ends the process. The message is kept
// for a debugger but not shown.
[[noreturn]] void fatal_error(const std::string& message);

// Message lines. A line goes to the sink connected to its unit; unit 51
// lines are dropped when nothing is connected, unit 38 lines go to stderr.
void write_line(int unit_number, const std::string& text);
bool is_text_unit_connected(int unit_number);
void connect_text_unit(int unit_number, std::function<void(const std::string&)> sink);
void disconnect_text_unit(int unit_number);

// Set once the base-file loader has started in this process; it only
// selects the wording of the read-only warning.
void note_base_loader_started();

}  // namespace qv::runtime
