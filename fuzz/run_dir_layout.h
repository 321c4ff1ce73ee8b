// The run directory a fuzz input of fuzz_run_dir describes: the files,
// lock files, subdirectories and links a host may find beside a run, and the
// calls the host makes on it.
//
// Every byte string decodes to a layout; bytes past the end read as 0.
//
//   Header, 5 bytes.
//     h0  bits 0-1  mode of set_BaseFilename: 0 -> 0, 1 and 2 -> 1,
//                   3 -> 2 (h2 bit 7 clear) or -1 (set)
//         bits 2-3  directory argument: 0 the run directory, 1 the same with
//                   a trailing '/', 2 padded with "/." to a length next to
//                   the scan limit (h2 bit 0 clear) or the path limit (set),
//                   3 another directory: (h2 >> 4) & 3 picks the "outside"
//                   directory, a missing one, "outside/", the parent
//         bits 4-5  host path: 1 padded with "/." to a length next to the
//                   path limit, 2 the directory argument + '/' + name,
//                   0 and 3 the run directory + '/' + name
//         bits 6-7  run stem: "run_cyc", "job_a_cyc", "run.v2_c", "run"
//     h1  the entry whose name the host path ends in (modulo the count)
//     h2  length offset of the padded forms ((h2 >> 1) & 7) - 4, and the
//         flags above
//     h3, h4  set_ResultsFilename targets: bits 0-2 are 0-3 an entry
//             ((v >> 3) modulo the count), 4 a missing file, 5 the run
//             directory, 6 the outside file, 7 no call
//
//   Entries, until the input ends (at most kMaxEntries): a kind byte K, two
//   name bytes N and P, then what the kind needs.
//     K bits 0-1  0, 1 a file; 2 a lock; 3 a directory (bit 2 clear) or a
//                 symbolic link (bit 2 set)
//     file:  K bits 2-4 content (FileContent; 2 and 7 a cycle file too),
//            bit 5 unreadable (mode 000), bit 6 a truncated or damaged file
//            starts as the base file (else as a cycle file). A cycle file takes C and T (cycle
//            number C; time T / 2 for T < 0xF0, NaN for 0xF0-0xF7, +inf
//            0xF8, -inf 0xF9, T - 0xF9 negated above). Truncated takes a
//            16-bit length, damaged a 16-bit offset and an xor byte (0 means
//            0xFF), both modulo the size; raw takes a length byte and that
//            many bytes.
//     lock:  K bits 2-4 form (LockForm; 5-7 a file too); bit 5 the lock
//            of the host's own name (directory/name.lock), else the lock of
//            the decoded name (its extension replaced by ".lock": stem.lock
//            for the base file names, stem_NNNN.lock for a cycle file).
//     link:  K bits 3-4 target (LinkTarget).
//     Names: N bits 0-3 the form (NameForm), bit 4 a variant; P the cycle
//     digits (P as 4 digits, "NNNN") and, for the long forms, the length
//     offset (P & 7) - 4 around the limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qvfuzz::run_dir {

inline constexpr std::size_t kMaxEntries = 32;

enum Kind : std::uint8_t { kFile = 0, kLock = 2, kSpecial = 3 };
inline constexpr std::uint8_t kLinkBit = 0x04;
inline constexpr std::uint8_t kUnreadable = 0x20;
inline constexpr std::uint8_t kFromBase = 0x40;
inline constexpr std::uint8_t kCallerLock = 0x20;

enum FileContent : std::uint8_t {
    kBase = 0, kCycle = 1, kEmpty = 3, kTruncated = 4, kDamaged = 5, kRaw = 6
};
enum LockForm : std::uint8_t {
    kLockFile = 0, kLockDirectory = 1, kLockDangling = 2, kLockToOutsideFile = 3,
    kLockToOutsideDirectory = 4
};
enum LinkTarget : std::uint8_t {
    kToOutsideFile = 0, kToOutsideDirectory = 1, kToNothing = 2, kToPreviousEntry = 3
};
enum NameForm : std::uint8_t {
    kCycleName = 0,          // stem_NNNN.qvres (also 1 and 2)
    kNewerBase = 3,          // stem.qvres_base
    kOlderBase = 4,          // stem_base.qvres
    kOtherRun = 5,           // other_NNNN.qvres
    kWrongCase = 6,          // stem_NNNN.QVRES
    kPrefixLookAlike = 7,    // stemx_NNNN.qvres
    kUnderscores = 8,        // stem_NNNN_NNNN.qvres; variant stem__NNNN.qvres
    kLeadingUnderscore = 9,  // _stem_NNNN.qvres; variant _NNNN.qvres
    kLongName = 10,          // stem_000...qvres, name 63 + offset characters
    kLongExtension = 11,     // stem_NNNN.qqq..., extension 31 + offset
    kLongPath = 12,          // stem_000...qvres, run directory + '/' + name 256 + offset
    kByteName = 13,          // P % 40 + 1 input bytes; variant + ".qvres"
    kNonDigitTail = 14,      // stem_NNNNx.qvres
    kTrailingBlank = 15,     // "stem_NNNN.qvres "
};

// Where a layout is built: the run directory, and a directory beside it
// holding a cycle file "target.qvres" and a directory "dir" that links
// may point to and nothing may change.
struct Places {
    std::string run;
    std::string outside;
};

struct Entry {
    enum class Type { File, Directory, Link };
    Type type = Type::File;
    std::string name;
    std::vector<std::uint8_t> bytes;  // a file's content
    bool unreadable = false;          // a file of mode 000
    std::string target;               // a link's target
};

struct Layout {
    std::int32_t mode = 0;
    std::string path;       // set_BaseFilename's path
    std::string directory;  // and directory
    std::vector<std::string> results_files;  // set_ResultsFilename, in order
    std::vector<Entry> entries;
};

Layout decode(const std::uint8_t* data, std::size_t size, const Places& places);

// Empties places.run and creates the entries in it: files 0644 (unreadable
// ones 0000), directories 0755, the run directory itself 0777. An entry
// whose name is taken or that the file system refuses is left out. False
// when the run directory cannot be made.
bool build(const Layout& layout, const Places& places);

// Creates places.outside with its content, world-writable, so that a
// library running as another user could change it if it tried.
bool make_outside(const Places& places);

// What lstat says of each entry of a directory, by name.
struct EntryState {
    std::string name;
    std::uint32_t type = 0;
    std::int64_t size = 0;
    std::int64_t mtime_ns = 0;
    bool operator==(const EntryState& o) const {
        return name == o.name && type == o.type && size == o.size && mtime_ns == o.mtime_ns;
    }
};
std::vector<EntryState> list_states(const std::string& directory);

}  // namespace qvfuzz::run_dir
