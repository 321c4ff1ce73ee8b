// Fuzz target: the input describes a run directory (run_dir_layout.h): cycle
// and base files whole, empty, truncated, damaged or unreadable, under
// hostile names; lock files of every kind; directories and links named like
// cycle files. The harness builds it in a scratch directory and names the
// run as a host does: set_BaseFilename, the step table, every registered
// step and some outside the range, set_ResultsFilename, a few model counts,
// the clean-up. It aborts when
//  - the library ends the process (an exit handler fires inside a call);
//  - anything outside the scratch directory is created or changed: the
//    "outside" directory that links point to, and the work directory's top
//    level, are compared with a snapshot (names, modes, sizes, mtimes);
//  - an entry of the scratch directory is created, removed or changed by a
//    call that touches files (a lock or probe file left behind included):
//    checked after each such call and at the end of the input;
//  - a value count of libqvres exceeds what the run's files could fill
//    (format::max_values_for of their bytes, per node or element), or a
//    read into a caller array of that count neither succeeds nor fails
//    with its error record filled and the array untouched (arrays are
//    sized only from counts that succeeded);
//  - a lock file the harness made does not stop set_BaseFilename, or a
//    failed open leaves a model;
//  - the step table is not sorted by time between entries whose time is
//    NaN, has more steps than the directory has candidate files, or a failed
//    get_SetData wrote more than its documented -1.
// The same run is then opened through libqvres (the host's path with its
// prefix rule, and the directory): a failure must say why in the error
// record and return no analysis; an opened one must list its cycles in time
// order (between cycles whose time is NaN), refuse indices out of range,
// register and skip no more files than the directory holds, say why
// each skipped file was skipped, and open every registered cycle or fail
// cleanly, changing no file either way.
//
// Unreadable files need an unprivileged caller. Run as root, the harness
// switches its effective group and user to 65534 (nogroup, nobody) for the
// library calls only and back to root after each: the real and saved user
// stay 0, so switching back works, and the process is not forked per input
// (the fuzzer would lose the coverage of the child). Everything the library
// needs is made accessible to that user: the work directory, the scratch and
// outside directories are world-writable (a write outside the scratch
// directory must succeed to be seen), the files are 0644 and the unreadable
// ones 0000. Run as another user, mode 0000 alone makes a file unreadable.
// A crash inside a library call is reported while the identity is 65534:
// give libFuzzer an -artifact_prefix directory that user may write to.
//
// POSIX only: the target is not built for Windows.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <limits>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "format/compressed_array.h"
#include "harness.h"
#include "qvres.h"
#include "results_api.h"
#include "run_dir_layout.h"

namespace {

using namespace qvfuzz::run_dir;
using qvfuzz::fail;

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;

bool as_nobody = false;
bool in_library = false;
// QVRES_FUZZ_TRACE=1 prints each layout and what the calls returned.
const bool trace = std::getenv("QVRES_FUZZ_TRACE") != nullptr;

void check(bool ok, const char* what, long long value = 0) {
    if (!ok) fail(what, value);
}

void exit_guard() {
    if (in_library) fail("the library ended the process");
}

// The identity changes by the system calls themselves, which change only
// the calling thread's: seteuid and setegid change every thread's, by
// signalling each one (libFuzzer's memory watcher among them), which took
// most of the target's time. The library is called on this thread only.
bool set_effective(uid_t user, gid_t group, bool group_first) {
    const auto user_call = [&] { return ::syscall(SYS_setresuid, -1, user, -1) == 0; };
    const auto group_call = [&] { return ::syscall(SYS_setresgid, -1, group, -1) == 0; };
    return group_first ? group_call() && user_call() : user_call() && group_call();
}

void switch_identity(bool to_nobody) {
    if (!as_nobody) return;
    const bool ok = to_nobody ? set_effective(kNobody, kNogroup, true) : set_effective(0, 0, false);
    if (!ok) {
        std::perror("switching the effective user");
        std::abort();
    }
}

// Runs `call` as the library's caller: user 65534 when the harness is root.
template <class Call>
auto as_caller(Call call) {
    switch_identity(true);
    in_library = true;
    const auto result = call();
    in_library = false;
    switch_identity(false);
    return result;
}

struct Setup {
    Places places;
    std::string reset_dir;
    std::vector<EntryState> outside, top;
};

// The work directory's top level, the scratch and reset directories by name
// and mode only: the harness rebuilds the one, loads fail in the other.
std::vector<EntryState> top_level() {
    std::vector<EntryState> states = list_states(qvfuzz::work_dir());
    for (EntryState& e : states)
        if (e.name == "scratch" || e.name == "reset") e.size = e.mtime_ns = 0;
    return states;
}

const Setup& setup() {
    static const Setup s = [] {
        Setup s;
        const std::string& work = qvfuzz::work_dir();
        s.places = {work + "/scratch", work + "/outside"};
        s.reset_dir = work + "/reset";
        as_nobody = ::geteuid() == 0;
        const std::uint8_t none = 0;
        const std::string reset_base = s.reset_dir + "/r.qvres_base";
        const int fd = ::mkdir(s.reset_dir.c_str(), 0777) == 0
                           ? ::open(reset_base.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644)
                           : -1;
        if (fd < 0 || ::close(fd) != 0 || ::chmod(s.reset_dir.c_str(), 0777) != 0 ||
            ::chmod(work.c_str(), 0777) != 0 || !make_outside(s.places) ||
            !build(decode(&none, 0, s.places), s.places)) {
            std::perror("setting up the run directory target");
            std::abort();
        }
        std::atexit(exit_guard);
        std::at_quick_exit(exit_guard);
        s.outside = list_states(s.places.outside);
        s.top = top_level();
        return s;
    }();
    return s;
}

// Nothing outside the scratch directory changed, and the scratch directory
// is as the harness built it.
void verify(const Setup& s, const std::vector<EntryState>& built, const char* call) {
    const auto differs = [call](const std::vector<EntryState>& was,
                                const std::vector<EntryState>& is, const char* where) {
        if (was == is) return;
        std::fprintf(stderr, "after %s, %s:\n", call, where);
        for (const auto* list : {&was, &is})
            for (const EntryState& e : *list)
                std::fprintf(stderr, "  %s %s mode %o size %lld\n", list == &was ? "was" : "is ",
                             e.name.c_str(), e.type, static_cast<long long>(e.size));
        fail(where);
    };
    differs(built, list_states(s.places.run), "the scratch directory changed");
    differs(s.outside, list_states(s.places.outside), "the outside directory changed");
    differs(s.top, top_level(), "the work directory changed");
}

// Drops whatever model the last input left: a load of an empty base file
// fails after dropping it.
void reset(const Setup& s) {
    const std::int32_t mode = 0;
    const std::string path = s.reset_dir + "/r_base.qvres";
    as_caller([&] { return set_BaseFilename(&mode, path.c_str(), s.reset_dir.c_str()); });
    std::int32_t steps = 0;
    check(!as_caller([&] { return get_NumSteps(&steps); }), "the reset load left a model");
    check(list_states(s.reset_dir).size() == 1, "the reset load left a file behind");
}

bool exists(const std::string& path) {
    struct ::stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Whether a lock the host's path and directory lead to exists, by the
// documented names: directory/name.lock and stem.lock.
bool locked(const std::string& path, const std::string& directory) {
    const std::size_t slash = path.find_last_of("/\\");
    std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    name = name.substr(0, name.find_last_of('.'));
    const std::size_t underscore = path.find_last_of('_');
    const std::string stem = underscore == std::string::npos ? "" : path.substr(0, underscore);
    return exists(directory + "/" + name + ".lock") || exists(stem + ".lock");
}

// Entries a scan of `directory` could register: names ending in ".qvres".
std::int64_t candidates(const std::string& directory) {
    std::int64_t n = 0;
    for (const EntryState& e : list_states(directory))
        n += e.name.size() >= 6 && e.name.compare(e.name.size() - 6, 6, ".qvres") == 0;
    return n;
}

bool model_loaded() {
    std::int32_t nodes = 0;
    const bool ok = as_caller([&] { return get_NumNodes(&nodes); });
    check(ok || nodes == -1, "a failed count wrote other than -1", nodes);
    return ok;
}

// get_NumSteps and get_SetData: the count within the candidates, the table
// sorted by time between NaN entries. Returns the count (-1 without model).
std::int32_t step_table(const std::string& directory, std::size_t size) {
    std::int32_t n = 0;
    const bool counted = as_caller([&] { return get_NumSteps(&n); });
    if (!counted) {
        check(n == -1, "a failed step count wrote other than -1", n);
    } else {
        check(n >= 0 && n <= candidates(directory), "more steps than candidate files", n);
    }
    const qvfuzz::Budget budget{size};
    qvfuzz::Buffer<std::int32_t> cycles(n > 0 ? n : 1, budget, "step count");
    qvfuzz::Buffer<float> times(n > 0 ? n : 1, budget, "step count");
    const std::int32_t first = cycles.data()[0];
    if (!as_caller([&] { return get_SetData(cycles.data(), times.data()); })) {
        check(cycles.data()[0] == -1, "a failed get_SetData left cycles[0]", cycles.data()[0]);
        cycles.data()[0] = first;
        check(cycles.untouched() && times.untouched(), "a failed get_SetData wrote values");
        return counted ? n : -1;
    }
    check(counted, "get_SetData without a step count");
    for (std::int32_t i = 0; i < n && trace; ++i)
        std::fprintf(stderr, "  step %d: cycle %d time %g\n", i, cycles.data()[i], times.data()[i]);
    for (std::int32_t i = 1; i < n; ++i) {
        const float before = times.data()[i - 1], at = times.data()[i];
        check(std::isnan(before) || std::isnan(at) || before <= at, "step table not sorted by time",
              i);
    }
    return n;
}

// An error record the call must fill on failure: status and a message
// ending inside the field.
bool explained(const qvres_error& e, qvres_status status) {
    const void* end = std::memchr(e.message, '\0', sizeof e.message);
    return e.status == status && end != nullptr && e.message[0] != '\0';
}

// The directory libqvres scans for `path`: the path itself when it is a
// directory, else the part before its last separator.
std::string scanned_directory(const std::string& path) {
    const std::string trimmed = path.substr(0, path.find_last_not_of(' ') + 1);
    struct ::stat st {};
    if (::stat(trimmed.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return trimmed;
    const std::size_t slash = trimmed.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : trimmed.substr(0, slash);
}

// The bytes of the regular files in `directory`: what any count of the
// run must be justified by.
std::uint64_t directory_bytes(const std::string& directory) {
    std::uint64_t total = 0;
    if (DIR* d = ::opendir(directory.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            struct ::stat st {};
            if (::lstat((directory + "/" + e->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
                total += static_cast<std::uint64_t>(st.st_size);
        }
        ::closedir(d);
    }
    return total;
}

// Every entry of a cycle's directory and its displacements read as a host
// reads them: the count first, then a caller array of exactly that count.
template <class T, class Read>
void read_counted(const Setup& s, const std::vector<EntryState>& built, qvres_reader* reader,
                  const qvres_request& q, std::int64_t per_object, std::uint64_t run_bytes, Read read) {
    qvres_error error{};
    std::int64_t count = -1;
    const qvres_status counted = as_caller([&] { return qvres_count_values(reader, &q, &count, &error); });
    verify(s, built, "qvres_count_values");
    if (counted != QVRES_OK) {
        check(explained(error, counted), "a failed qvres_count_values did not say why", counted);
        check(count == -1, "a failed qvres_count_values wrote a count", count);
        return;
    }
    check(count >= 0 && count / per_object <= qv::format::max_values_for(run_bytes),
          "a value count beyond what the run's files could fill", count);
    const qvfuzz::Budget budget{run_bytes};
    qvfuzz::Buffer<T> out(count, budget, "counted values");
    if (!out.usable()) return;
    const qvres_status st = as_caller([&] { return read(out.data(), count, &error); });
    verify(s, built, "qvres_read");
    check(st == QVRES_OK || (explained(error, st) && out.untouched()),
          "a read into an array of the counted size failed without saying why or wrote values", st);
}

void read_cycle_values(const Setup& s, const std::vector<EntryState>& built, qvres_reader* reader,
                       const qvres_model& model, std::uint64_t run_bytes) {
    qvres_error error{};
    std::int64_t entries = 0;
    if (qvres_count_variables(reader, &entries, &error) != QVRES_OK) entries = 0;
    for (std::int64_t e = -1; e < entries && e < 16; ++e) {
        qvres_request q{QVRES_DISPLACEMENTS, 0, 0};
        std::int64_t per_object = 3;
        bool integer = false;
        if (e >= 0) {
            qvres_variable v{};
            if (qvres_get_variable(reader, e, &v, &error) != QVRES_OK) continue;
            q.variable = v.index;
            q.part = v.part < 0 ? -v.part : v.part;
            per_object = 1;
            switch (v.kind) {
            case QVRES_NODE_INTEGER: q.values = QVRES_NODE_INTEGERS, integer = true; break;
            case QVRES_NODE_REAL: q.values = QVRES_NODE_REALS; break;
            case QVRES_ELEMENT_INTEGER:
                q.values = v.part < 0 ? QVRES_SUBLAYER_INTEGERS : QVRES_ELEMENT_INTEGERS, integer = true;
                if (v.part < 0) q.part = v.part;
                break;
            case QVRES_ELEMENT_REAL: q.values = QVRES_ELEMENT_REALS, per_object = model.materials + 1; break;
            default: continue;
            }
        }
        if (integer)
            read_counted<std::int32_t>(s, built, reader, q, per_object, run_bytes,
                                       [&](std::int32_t* out, std::int64_t c, qvres_error* err) {
                                           return qvres_read_int32(reader, &q, out, c, err);
                                       });
        else
            read_counted<float>(s, built, reader, q, per_object, run_bytes,
                                [&](float* out, std::int64_t c, qvres_error* err) {
                                    return qvres_read_float(reader, &q, out, c, err);
                                });
    }
}

void open_through_qvres(const Setup& s, const std::vector<EntryState>& built,
                        const std::string& path, std::int32_t prefix_rule) {
    const qvres_open_options options{prefix_rule, 0, 0};
    qvres_analysis* analysis = nullptr;
    qvres_error error{};
    const qvres_status opened =
        as_caller([&] { return qvres_open(path.c_str(), &options, &analysis, &error); });
    verify(s, built, "qvres_open");
    if (trace) std::fprintf(stderr, "qvres_open %s: %d %s\n", path.c_str(), opened, error.message);
    if (opened != QVRES_OK) {
        check(analysis == nullptr, "a failed qvres_open returned an analysis", opened);
        check(opened > QVRES_OK && opened <= QVRES_E_NO_MEMORY, "qvres_open status", opened);
        check(explained(error, opened) && *qvres_status_text(opened) != '\0',
              "a failed qvres_open did not say why", opened);
        return;
    }
    check(analysis != nullptr && (prefix_rule == 0 || prefix_rule == 1),
          "qvres_open succeeded without an analysis or with a bad rule", prefix_rule);
    qvres_model model{};
    check(qvres_get_model(analysis, &model, &error) == QVRES_OK, "qvres_get_model failed");
    const std::int64_t files = candidates(scanned_directory(path));
    const std::uint64_t run_bytes = directory_bytes(scanned_directory(path));
    check(model.cycles >= 0 && model.skipped_files >= 0 &&
              model.cycles + model.skipped_files <= files,
          "more cycles and skipped files than candidate files", model.cycles + model.skipped_files);
    for (std::int64_t i = 0; i < model.skipped_files; ++i) {
        qvres_skipped_file skipped{};
        check(qvres_get_skipped_file(analysis, i, &skipped, &error) == QVRES_OK &&
                  skipped.path[0] != '\0' && skipped.reason[0] != '\0',
              "a skipped file without its path or reason", i);
    }
    double before = 0.0;
    for (std::int64_t i = 0; i < model.cycles; ++i) {
        qvres_cycle cycle{};
        check(qvres_get_cycle(analysis, i, &cycle, &error) == QVRES_OK, "qvres_get_cycle failed", i);
        if (trace)
            std::fprintf(stderr, "  qvres cycle %lld: %d time %g\n", static_cast<long long>(i),
                         cycle.number, cycle.time);
        check(i == 0 || std::isnan(before) || std::isnan(cycle.time) || before <= cycle.time,
              "qvres cycles not sorted by time", i);
        before = cycle.time;
        if (i >= 40) continue;
        qvres_reader* reader = nullptr;
        const qvres_status read =
            as_caller([&] { return qvres_reader_open(analysis, i, &reader, &error); });
        verify(s, built, "qvres_reader_open");
        check((read == QVRES_OK) == (reader != nullptr), "qvres_reader_open and its reader", read);
        check(read == QVRES_OK || explained(error, read),
              "a failed qvres_reader_open did not say why", read);
        if (read == QVRES_OK && i < 4) read_cycle_values(s, built, reader, model, run_bytes);
        qvres_reader_close(reader);
    }
    for (const std::int64_t i : {std::int64_t{-1}, model.cycles}) {
        qvres_reader* reader = nullptr;
        check(qvres_reader_open(analysis, i, &reader, &error) == QVRES_E_ARGUMENT && !reader,
              "qvres_reader_open out of range", i);
        qvres_cycle cycle{};
        check(qvres_get_cycle(analysis, i, &cycle, &error) == QVRES_E_ARGUMENT,
              "qvres_get_cycle out of range", i);
        qvres_skipped_file skipped{};
        check(qvres_get_skipped_file(analysis, i < 0 ? i : model.skipped_files, &skipped, &error) ==
                  QVRES_E_ARGUMENT,
              "qvres_get_skipped_file out of range", i);
    }
    qvres_close(analysis);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qvfuzz::init_once();
    const Setup& s = setup();
    const Layout layout = decode(data, size, s.places);
    check(build(layout, s.places), "cannot build the scratch directory");
    const std::vector<EntryState> built = list_states(s.places.run);

    if (trace) {
        std::fprintf(stderr, "mode %d path %s\ndirectory %s\n", layout.mode, layout.path.c_str(),
                     layout.directory.c_str());
        for (const EntryState& e : built)
            std::fprintf(stderr, "  %o %6lld '%s'\n", e.type, static_cast<long long>(e.size),
                         e.name.c_str());
    }
    const bool was_locked = locked(layout.path, layout.directory);
    const bool loaded = as_caller([&] {
        return set_BaseFilename(&layout.mode, layout.path.c_str(), layout.directory.c_str());
    });
    verify(s, built, "set_BaseFilename");
    if (trace) std::fprintf(stderr, "loaded %d locked %d\n", loaded, was_locked);
    check(!loaded || layout.mode == 0 || layout.mode == 1, "a load in another mode succeeded",
          layout.mode);
    if (was_locked) check(!loaded && !model_loaded(), "a locked run was loaded");

    const std::int32_t steps = step_table(layout.directory, size);
    std::vector<std::int32_t> picks = {-1, steps, steps + 1,
                                       std::numeric_limits<std::int32_t>::max()};
    for (std::int32_t k = 0; k < steps && k < 40; ++k) picks.push_back(k);
    for (const std::int32_t k : picks) {
        const bool opened = as_caller([&] { return set_newStep(&k); });
        if (trace) std::fprintf(stderr, "set_newStep %d: %d\n", k, opened);
        verify(s, built, "set_newStep");
        // A registered step that cannot be read leaves no model, as for
        // set_ResultsFilename.
        const bool registered = k >= 0 && k < steps;
        check(!opened || registered, "set_newStep opened a step out of range", k);
        check(opened || !registered || !model_loaded(), "a failed set_newStep left a model", k);
    }

    std::int32_t count = 0;
    for (auto* query :
         {get_NumStructuredParts, get_NumUnstructuredParts, get_NumUnstructuredElements}) {
        if (!as_caller([&] { return query(&count); }))
            check(count == -1, "a failed count wrote", count);
    }
    as_caller([&] { return get_NumMaterials(&count); });

    for (const std::string& path : layout.results_files) {
        // Names are opened without their trailing blanks.
        const std::string file = path.substr(0, path.find_last_not_of(' ') + 1);
        struct ::stat st {};
        const bool readable = as_caller([&] {
            return ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                   ::faccessat(AT_FDCWD, file.c_str(), R_OK, AT_EACCESS) == 0;
        });
        const bool opened = as_caller([&] { return set_ResultsFilename(path.c_str()); });
        if (trace) std::fprintf(stderr, "set_ResultsFilename %s: %d\n", path.c_str(), opened);
        verify(s, built, "set_ResultsFilename");
        check(readable || !opened, "set_ResultsFilename opened what it cannot read");
        check(opened || !model_loaded(), "a failed set_ResultsFilename left a model");
    }

    // The clean-up keeps the steps.
    std::int32_t before = 0, after = 0;
    const bool counted = as_caller([&] { return get_NumSteps(&before); });
    check(as_caller([] { return resultsCleanUp(); }), "resultsCleanUp failed");
    verify(s, built, "resultsCleanUp");
    if (counted && as_caller([&] { return get_NumSteps(&after); }))
        check(after == before, "the clean-up changed the step count", after);
    verify(s, built, "the last call");

    open_through_qvres(s, built, layout.path, layout.mode);
    open_through_qvres(s, built, layout.directory, layout.mode);
    // And once more with memory running out, for one input in four: a limit
    // the input picks (1 byte to 4 KB) refuses the library's larger
    // allocations, and the open must fail cleanly or succeed whole.
    if (size > 0 && data[size - 1] % 4 == 0) {
        const qvfuzz::Starved starved(std::size_t{data[size / 2]} * 16 + 1);
        open_through_qvres(s, built, layout.path, layout.mode);
    }
    // What an input allocates is freed by it (libFuzzer's leak check): the
    // model and the kept caller arrays.
    reset(s);
    qvfuzz::Buffer<std::int32_t>::release_kept();
    qvfuzz::Buffer<float>::release_kept();
    return 0;
}
