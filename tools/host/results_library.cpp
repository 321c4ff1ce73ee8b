// The results library loaded at run time and the typed helpers around its C
// interface.
#include "host/results_library.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <new>
#include <sstream>
#include <string_view>
#include <type_traits>

#include "host/shared_library.h"

#ifndef QVRES_BUILD_LIBRARY_DIR
#define QVRES_BUILD_LIBRARY_DIR ""
#endif
#ifndef QVRES_BUILD_TREE
#define QVRES_BUILD_TREE ""
#endif
#ifndef QVRES_INSTALLED_LIBRARY_DIR
#define QVRES_INSTALLED_LIBRARY_DIR "../lib"
#endif

namespace qvhost {

// Every function the tools call, found by name.
struct ResultsLibrary::Api {
#define QVRES_FUNCTIONS(X)                                                                       \
    X(qvres_version) X(qvres_open) X(qvres_close) X(qvres_get_model) X(qvres_get_part)           \
    X(qvres_get_part_elements) X(qvres_get_coordinates) X(qvres_get_connectivity)                \
    X(qvres_get_element_types) X(qvres_get_material) X(qvres_get_cycle)                          \
    X(qvres_get_skipped_file) X(qvres_variable_unit) X(qvres_reader_open) X(qvres_reader_close)  \
    X(qvres_count_variables) X(qvres_get_variable) X(qvres_count_values) X(qvres_read_int32)     \
    X(qvres_read_float) X(qvres_read_joint) X(qvres_read_rigid_body) X(qvres_get_layout)          \
    X(qvres_get_layout_block) X(qvres_get_layout_column) X(qvres_get_catalogue_variable)          \
    X(qvres_find_variable) X(qvres_get_cells) X(qvres_get_names) X(qvres_unit_powers)             \
    X(qvres_count_history) X(qvres_read_history_float) X(qvres_read_history_int32)               \
    X(qvres_count_envelope) X(qvres_read_envelope) X(qvres_read_envelope_int32)       \
    X(qvres_locate_points)
#define QVRES_MEMBER(name) decltype(&::name) name = nullptr;
    QVRES_FUNCTIONS(QVRES_MEMBER)
#undef QVRES_MEMBER
};

namespace {

std::size_t size_of(std::int64_t n) { return static_cast<std::size_t>(std::max<std::int64_t>(n, 0)); }

bool is_integer_request(qvres_values v) {
    return v == QVRES_NODE_INTEGERS || v == QVRES_ELEMENT_INTEGERS || v == QVRES_ELEMENT_INTEGERS_ALL_SLOTS ||
           v == QVRES_SUBLAYER_INTEGERS;
}

// Whether `name` is RUN_<digits>.qvres.
bool names_cycle_of_run(const std::string& name, const std::string& run) {
    const std::string tail = ".qvres";
    if (name.size() < run.size() + 2 + tail.size() || name.compare(0, run.size(), run) != 0 ||
        name[run.size()] != '_' || name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(run.size()) + 1,
                       name.end() - static_cast<std::ptrdiff_t>(tail.size()),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// A failed call as an Error carrying the library's message and status.
[[noreturn]] void throw_error(const qvres_error& e) { throw Error(e.message, e.status); }

// Reads `n` values through `fill` (a library call that writes them, and
// returns its status) into `out`. The storage is not zeroed beforehand: a
// count the file cannot bear costs address space, not memory, until the
// library has checked it against the file and written; the values are
// copied out only once the read succeeded. Storage the system cannot give
// is an Error naming `where`.
template <class T, class Fill>
qvres_status read_unfilled(std::size_t n, std::vector<T>& out, const std::string& where, Fill fill) {
    std::unique_ptr<T[]> storage;
    try {
        storage.reset(new T[n > 0 ? n : 1]);
    } catch (const std::bad_alloc&) {
        throw Error(where + ": " + std::to_string(n) + " values do not fit in memory", QVRES_E_NO_MEMORY);
    }
    const qvres_status s = fill(storage.get(), static_cast<std::int64_t>(n));
    if (s == QVRES_OK) out.assign(storage.get(), storage.get() + n);
    return s;
}

// Whether the program in directory `exe` lives in the build tree it was
// built in (that directory, or one above it, is the tree). Only then is the
// tree's library one to load: an installed tool never looks there, since
// once the tree is gone whoever re-creates its path would choose the
// library the tool loads.
bool in_build_tree(const std::string& exe) {
    if (!*QVRES_BUILD_TREE || exe.empty()) return false;
    std::error_code ec;
    for (std::filesystem::path p = exe; !p.empty(); p = p.parent_path()) {
        if (std::filesystem::equivalent(p, QVRES_BUILD_TREE, ec)) return true;
        if (p == p.parent_path()) break;
    }
    return false;
}

}  // namespace

std::vector<std::string> library_candidates() {
    std::vector<std::string> candidates;
    const std::string exe = executable_directory();
    if (!exe.empty()) {
        candidates.push_back(exe + "/" + kLibraryFileName);
        candidates.push_back(exe + "/" + QVRES_INSTALLED_LIBRARY_DIR + "/" + kLibraryFileName);
    }
    if (*QVRES_BUILD_LIBRARY_DIR && in_build_tree(exe))
        candidates.push_back(std::string(QVRES_BUILD_LIBRARY_DIR) + "/" + kLibraryFileName);
    candidates.push_back(kLibraryFileName);
    return candidates;
}

// ---- The library -------------------------------------------------------------

ResultsLibrary::ResultsLibrary(const std::string& path, bool clear_stale_locks)
    : api_(std::make_unique<Api>()), clear_stale_locks_(clear_stale_locks) {
    std::string named = path;
    if (named.empty())
        if (const char* env = std::getenv("QVRES_LIBRARY"); env && *env) named = env;
    std::string error;
    if (!named.empty()) {
        handle_ = load_shared_object(named, error);
        if (!handle_) throw Error("cannot load the results library " + named + ": " + error);
        location_ = named;
    } else {
        std::string looked;
        for (const std::string& candidate : library_candidates()) {
            const bool bare = candidate.find('/') == std::string::npos;
            if (!bare && !file_exists(candidate)) {
                looked += (looked.empty() ? "" : ", ") + candidate;
                continue;
            }
            handle_ = load_shared_object(candidate, error);
            if (handle_) {
                location_ = candidate;
                break;
            }
            if (!bare) throw Error("cannot load the results library " + candidate + ": " + error);
            looked += (looked.empty() ? "" : ", ") + std::string("the loader's search path");
        }
        if (!handle_)
            throw Error(std::string("cannot find the results library ") + kLibraryFileName + " (looked in " +
                        looked + "): name it with --library PATH or QVRES_LIBRARY");
    }
#define QVRES_RESOLVE(name)                                                                   \
    api_->name = reinterpret_cast<decltype(api_->name)>(find_symbol(handle_, #name));         \
    if (!api_->name) {                                                                        \
        unload_shared_object(handle_);                                                        \
        handle_ = nullptr;                                                                    \
        throw Error(location_ + " is not the results library " + kLibraryFileName +           \
                    ": it does not export " #name);                                           \
    }
    QVRES_FUNCTIONS(QVRES_RESOLVE)
#undef QVRES_RESOLVE
    if (api_->qvres_version() / 10000 != QVRES_VERSION_MAJOR) {
        const std::string found = version();
        unload_shared_object(handle_);
        handle_ = nullptr;
        throw Error(location_ + " is version " + found + " of the results library; the tools need version " +
                    std::to_string(QVRES_VERSION_MAJOR) + ".x");
    }
}

ResultsLibrary::~ResultsLibrary() {
    if (handle_) unload_shared_object(handle_);
}

std::string ResultsLibrary::version() const {
    const std::int32_t v = api_->qvres_version();
    return std::to_string(v / 10000) + "." + std::to_string(v / 100 % 100) + "." + std::to_string(v % 100);
}

std::string ResultsLibrary::unit(std::int32_t variable) const {
    char text[64];
    if (api_->qvres_variable_unit(variable, text, sizeof text, nullptr, nullptr) != QVRES_OK) return {};
    return text;
}

bool ResultsLibrary::is_multi_material(std::int32_t variable) const {
    qvres_catalogue_entry e{};
    return api_->qvres_get_catalogue_variable(1, variable, &e, nullptr) == QVRES_OK && e.multi_material != 0;
}

bool ResultsLibrary::catalogue_entry(bool real, std::int32_t variable, qvres_catalogue_entry& entry) const {
    return api_->qvres_get_catalogue_variable(real ? 1 : 0, variable, &entry, nullptr) == QVRES_OK;
}

std::int32_t ResultsLibrary::find_variable(bool real, const std::string& name) const {
    // A NUL would end the name early: such a name is none of the catalogue's.
    if (name.find('\0') != std::string::npos) return -1;
    qvres_catalogue_entry e{};
    return api_->qvres_find_variable(real ? 1 : 0, name.c_str(), &e, nullptr) == QVRES_OK ? e.variable : -1;
}

bool ResultsLibrary::names_entry(const std::string& name, const Variable& v) const {
    const std::int32_t index = find_variable(v.real(), name);
    return index >= 0 ? index == v.index : name == v.name;
}

std::string group_name_as_shown(const qvres_catalogue_entry& entry) {
    const std::string name = entry.name, shown = entry.display_name;
    std::string group = entry.group_name;
    if (name.size() != shown.size()) return group;
    for (char& c : group) {
        const std::size_t at = name.find(c);
        if (at != std::string::npos) c = shown[at];
    }
    return group;
}

bool same_array_name(const std::string& a, const std::string& b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
               return lower(x) == lower(y);
           });
}

std::string unit_of(const ResultsLibrary& library, const Variable& v) {
    return v.real() ? library.unit(v.index) : std::string();
}

// ---- The analysis ------------------------------------------------------------

Analysis::Analysis(const ResultsLibrary& library, const std::string& path) : library_(library) {
    const ResultsLibrary::Api& api = library_.api();
    files_.given = files_.path = path;
    if (!path_exists(path))
        throw Error("no analysis found for " + path + ": the file does not exist", QVRES_E_NOT_FOUND);
    qvres_error e{};
    qvres_open_options options{};
    options.clear_stale_lock = library_.clear_stale_locks() ? 1 : 0;
    if (api.qvres_open(path.c_str(), &options, &handle_, &e) != QVRES_OK) throw_error(e);
    // From here on the destructor does not run: release the handle on failure.
    try {
        qvres_names names{};
        if (api.qvres_get_names(handle_, &names, &e) != QVRES_OK) throw_error(e);
        files_.base_file = names.base_file, files_.directory = names.directory;
        files_.stem = names.stem, files_.run = names.run;
        if (is_directory(path)) files_.path = files_.base_file;
        files_.names_cycle_file = !is_directory(path) && !same_file(path, files_.base_file);
        if (api.qvres_get_model(handle_, &raw_, &e) != QVRES_OK) throw_error(e);
        model_.unstructured_parts = static_cast<std::int32_t>(raw_.unstructured_parts);
        model_.unstructured_nodes = raw_.unstructured_nodes;
        model_.unstructured_elements = raw_.unstructured_elements;
        model_.file_version = raw_.file_version;
        for (std::int64_t p = 1; p <= raw_.structured_parts; ++p) {
            qvres_part part;
            if (api.qvres_get_part(handle_, p, &part, &e) != QVRES_OK) throw_error(e);
            const std::array<std::int64_t, 3> x{part.extent[0], part.extent[1], part.extent[2]};
            model_.extents.push_back(x);
            model_.slots += part.nodes;
            model_.structured_elements += part.elements;
        }
        for (std::int64_t k = 0; k < raw_.cycles; ++k) {
            qvres_cycle c;
            if (api.qvres_get_cycle(handle_, k, &c, &e) != QVRES_OK) throw_error(e);
            steps_.push_back({static_cast<std::int32_t>(k), c.number, c.time});
        }
        for (std::int64_t m = 1; m <= raw_.materials; ++m) {
            qvres_material mat;
            if (api.qvres_get_material(handle_, m, &mat, &e) != QVRES_OK) throw_error(e);
            materials_.push_back({static_cast<std::int32_t>(m), mat.name, mat.euler_id, mat.body_name});
        }
        for (std::int64_t k = 0; k < raw_.skipped_files; ++k) {
            qvres_skipped_file s;
            if (api.qvres_get_skipped_file(handle_, k, &s, &e) != QVRES_OK) throw_error(e);
            skipped_.push_back({s.path, s.reason});
        }
        // The named cycle file must be one the library registered.
        if (files_.names_cycle_file) {
            for (const SkippedFile& s : skipped_)
                if (file_name_of(s.path) == file_name_of(files_.path)) throw Error(s.reason, QVRES_E_DAMAGED);
            if (!names_cycle_of_run(file_name_of(files_.path), files_.run))  // the library's STEM_<n>.qvres
                throw Error(path + " is not a cycle file of run " + files_.run + " (" + files_.run +
                                "_<digits>.qvres)",
                            QVRES_E_ARGUMENT);
        }
    } catch (...) {
        api.qvres_close(handle_);
        throw;
    }
}

Analysis::~Analysis() { library_.api().qvres_close(handle_); }

std::vector<Part> Analysis::parts() const {
    std::vector<Part> parts;
    for (std::int32_t p = 1; p <= model_.parts(); ++p) {
        qvres_part info;
        qvres_error e{};
        if (library_.api().qvres_get_part(handle_, p, &info, &e) != QVRES_OK) throw_error(e);
        Part part;
        part.number = p;
        part.structured = info.structured != 0;
        part.name = info.name;
        part.elements = info.elements;
        part.nodes = info.nodes;
        part.i = info.extent[0], part.j = info.extent[1], part.k = info.extent[2];
        parts.push_back(part);
    }
    return parts;
}

UnitSystem Analysis::unit_system() const {
    UnitSystem u;
    u.length = raw_.unit_system[0], u.mass = raw_.unit_system[1], u.time = raw_.unit_system[2];
    std::int32_t powers[3] = {0, 0, 0};
    if (library_.api().qvres_unit_powers(raw_.unit_system, powers, nullptr) == QVRES_OK) {
        u.decimal = true;
        u.length_exponent = powers[0], u.mass_exponent = powers[1], u.time_exponent = powers[2];
    }
    return u;
}

std::vector<std::int32_t> Analysis::connectivity() const {
    std::vector<std::int32_t> nodes;
    const std::size_t n = 8 * size_of(model_.unstructured_elements);
    qvres_error e{};
    if (n > 0 && read_unfilled(n, nodes, files_.path + ": the connectivity", [&](std::int32_t* to, std::int64_t size) {
            return library_.api().qvres_get_connectivity(handle_, to, size, &e);
        }) != QVRES_OK)
        throw_error(e);
    return nodes;
}

std::vector<std::int32_t> Analysis::element_types() const {
    std::vector<std::int32_t> types;
    const std::size_t n = size_of(model_.unstructured_elements);
    qvres_error e{};
    if (n > 0 && read_unfilled(n, types, files_.path + ": the element types", [&](std::int32_t* to, std::int64_t size) {
            return library_.api().qvres_get_element_types(handle_, to, size, &e);
        }) != QVRES_OK)
        throw_error(e);
    return types;
}

std::vector<qvres_cell> Analysis::cells() const {
    std::vector<qvres_cell> cells;
    const std::size_t n = size_of(model_.unstructured_elements);
    qvres_error e{};
    if (n > 0 && read_unfilled(n, cells, files_.path + ": the cells", [&](qvres_cell* to, std::int64_t size) {
            return library_.api().qvres_get_cells(handle_, to, size, &e);
        }) != QVRES_OK)
        throw_error(e);
    return cells;
}

std::vector<std::int32_t> Analysis::part_elements(std::int32_t part) const {
    qvres_part info;
    qvres_error e{};
    if (library_.api().qvres_get_part(handle_, part, &info, &e) != QVRES_OK) throw_error(e);
    std::vector<std::int32_t> rows;
    if (read_unfilled(size_of(info.elements), rows, files_.path + ": the elements of part " + std::to_string(part),
                      [&](std::int32_t* to, std::int64_t size) {
                          return library_.api().qvres_get_part_elements(handle_, part, to, size, &e);
                      }) != QVRES_OK)
        throw_error(e);
    return rows;
}

std::vector<float> Analysis::coordinates() const {
    std::vector<float> xyz;
    const std::size_t n = 3 * size_of(model_.nodes());
    qvres_error e{};
    if (n > 0 && read_unfilled(n, xyz, files_.path + ": the coordinates", [&](float* to, std::int64_t size) {
            return library_.api().qvres_get_coordinates(handle_, to, size, &e);
        }) != QVRES_OK)
        throw_error(e);
    return xyz;
}

namespace {

qvres_series series_of(const Series& s) {
    qvres_series q{};
    q.requests = &s.request;
    q.request_count = 1;
    q.positions = s.positions.empty() ? nullptr : s.positions.data();
    q.position_count = static_cast<std::int64_t>(s.positions.size());
    q.by = QVRES_BY_VALUE;
    q.first_cycle = s.first;
    q.last_cycle = s.last;
    q.threads = s.threads;
    q.skip_failed_cycles = s.skip_failed_steps ? 1 : 0;
    return q;
}

// Room for every gap a series can have: one per step (one request).
std::vector<qvres_series_gap> gap_room(const Series& s) {
    return std::vector<qvres_series_gap>(size_of(s.last - s.first + 1));
}

void take_gaps(const std::vector<qvres_series_gap>& room, std::int64_t count, std::vector<SeriesGap>& gaps) {
    for (std::int64_t g = 0; g < count && g < static_cast<std::int64_t>(room.size()); ++g) {
        const qvres_series_gap& x = room[static_cast<std::size_t>(g)];
        gaps.push_back({x.cycle, x.request < 0, x.status, x.message});
    }
}

}  // namespace

std::vector<double> Analysis::history(const Series& series, std::vector<SeriesGap>& gaps) const {
    const ResultsLibrary::Api& api = library_.api();
    const qvres_series q = series_of(series);
    qvres_error e{};
    std::int64_t count = 0;
    if (api.qvres_count_history(handle_, &q, &count, &e) != QVRES_OK) throw_error(e);
    std::vector<qvres_series_gap> room = gap_room(series);
    std::int64_t gap_count = 0;
    std::vector<double> out;
    const auto room_size = static_cast<std::int64_t>(room.size());
    const bool integers = is_integer_request(series.request.values);
    // The count is steps x positions, both the caller's: no file sizes it.
    if (integers) {
        std::vector<std::int32_t> v(size_of(count));
        if (api.qvres_read_history_int32(handle_, &q, v.data(), count, room.data(), room_size, &gap_count, &e) !=
            QVRES_OK)
            throw_error(e);
        for (std::int32_t x : v)
            out.push_back(x == QVRES_NO_INTEGER ? std::numeric_limits<double>::quiet_NaN() : double(x));
    } else {
        std::vector<float> v(size_of(count));
        if (api.qvres_read_history_float(handle_, &q, v.data(), count, room.data(), room_size, &gap_count, &e) !=
            QVRES_OK)
            throw_error(e);
        out.assign(v.begin(), v.end());
    }
    take_gaps(room, gap_count, gaps);
    return out;
}

Extremes Analysis::envelope(const Series& series, std::int32_t extreme, std::vector<SeriesGap>& gaps) const {
    const ResultsLibrary::Api& api = library_.api();
    const qvres_series q = series_of(series);
    qvres_error e{};
    std::int64_t count = 0;
    // The count is bounded by the file (the values of a step) before
    // anything is sized from it.
    if (api.qvres_count_envelope(handle_, &q, &count, &e) != QVRES_OK) throw_error(e);
    std::vector<qvres_series_gap> room = gap_room(series);
    std::int64_t gap_count = 0;
    Extremes out;
    out.integers = is_integer_request(series.request.values);
    const auto room_size = static_cast<std::int64_t>(room.size());
    try {
        out.values.resize(size_of(count));
        out.steps.resize(size_of(count));
        if (out.integers) {
            std::vector<std::int32_t> v(size_of(count));
            if (api.qvres_read_envelope_int32(handle_, &q, extreme, v.data(), out.steps.data(), count, room.data(),
                                              room_size, &gap_count, &e) != QVRES_OK)
                throw_error(e);
            for (std::size_t k = 0; k < v.size(); ++k)
                out.values[k] = v[k] == QVRES_NO_INTEGER ? std::numeric_limits<double>::quiet_NaN() : double(v[k]);
        } else {
            std::vector<float> v(size_of(count));
            if (api.qvres_read_envelope(handle_, &q, extreme, v.data(), out.steps.data(), count, room.data(),
                                        room_size, &gap_count, &e) != QVRES_OK)
                throw_error(e);
            out.values.assign(v.begin(), v.end());
        }
    } catch (const std::bad_alloc&) {
        throw Error(files_.path + ": an envelope of " + std::to_string(count) + " values does not fit in memory",
                    QVRES_E_NO_MEMORY);
    }
    take_gaps(room, gap_count, gaps);
    return out;
}

std::vector<qvres_gauge> Analysis::locate(const std::vector<double>& xyz, std::int32_t find) const {
    const std::int64_t n = static_cast<std::int64_t>(xyz.size() / 3);
    std::vector<qvres_gauge> out(size_of(n));
    qvres_error e{};
    if (library_.api().qvres_locate_points(handle_, xyz.data(), n, find, out.data(), n, nullptr, &e) != QVRES_OK)
        throw_error(e);
    return out;
}

void Analysis::require_step(std::int64_t index) const {
    const std::int64_t n = static_cast<std::int64_t>(steps_.size());
    if (index >= 0 && index < n) return;
    throw Error("step " + std::to_string(index) + " does not exist (" +
                    (n == 0 ? std::string("the analysis has no steps")
                            : "the analysis has " + std::to_string(n) + " steps: 0.." + std::to_string(n - 1)) +
                    ")",
                QVRES_E_ARGUMENT);
}

void Analysis::require_part(std::int64_t part) const {
    const std::int32_t n = model_.parts();
    if (part >= 1 && part <= n) return;
    throw Error("part " + std::to_string(part) + " does not exist (the model has " + std::to_string(n) +
                    " parts: 1.." + std::to_string(n) + ")",
                QVRES_E_ARGUMENT);
}

std::string Analysis::describe_step(std::int64_t index) const {
    std::ostringstream os;
    os << "step " << index;
    if (index >= 0 && index < static_cast<std::int64_t>(steps_.size()))
        os << " (cycle " << steps_[index].cycle << ", t = " << steps_[index].time << " s)";
    return os.str();
}

// ---- Cycle readers ------------------------------------------------------------

CycleReader::CycleReader(const Analysis& analysis, std::int32_t step)
    : analysis_(analysis), api_(analysis.library().api()), step_(step) {
    analysis_.require_step(step);
    qvres_error e{};
    if (api_.qvres_reader_open(analysis_.handle(), step, &handle_, &e) != QVRES_OK) fail("", e);
    std::int64_t n = 0;
    if (api_.qvres_count_variables(handle_, &n, &e) != QVRES_OK) {
        api_.qvres_reader_close(handle_);
        fail("", e);
    }
    for (std::int64_t i = 0; i < n; ++i) {
        qvres_variable v;
        if (api_.qvres_get_variable(handle_, i, &v, &e) != QVRES_OK) {
            api_.qvres_reader_close(handle_);
            fail("", e);
        }
        variables_.push_back({v.part, v.name, v.index, v.kind});
    }
}

CycleReader::~CycleReader() { api_.qvres_reader_close(handle_); }

void CycleReader::fail(const std::string& what, const qvres_error& error) const {
    throw Error(analysis_.describe_step(step_) + (what.empty() ? "" : ", " + what) + ": " + error.message,
                error.status);
}

std::int64_t CycleReader::count(const qvres_request& request, const char* what) const {
    std::int64_t n = 0;
    qvres_error e{};
    if (api_.qvres_count_values(handle_, &request, &n, &e) != QVRES_OK) fail(what, e);
    return n;
}

std::int64_t CycleReader::count_values(const qvres_request& request, const char* what, bool absent_ok) const {
    std::int64_t n = 0;
    qvres_error e{};
    const qvres_status s = api_.qvres_count_values(handle_, &request, &n, &e);
    if (s == QVRES_OK) return n;
    if (absent_ok && s == QVRES_E_NOT_STORED) return -1;
    fail(what, e);
}

template <class T>
bool CycleReader::read(const qvres_request& request, const char* what, std::vector<T>& out, bool absent_ok) {
    const std::size_t n = size_of(count(request, what));
    qvres_error e{};
    const qvres_status s = read_unfilled(
        n, out, analysis_.files().path + ": " + analysis_.describe_step(step_) + ", " + what,
        [&](T* to, std::int64_t size) {
            if constexpr (std::is_same_v<T, float>)
                return api_.qvres_read_float(handle_, &request, to, size, &e);
            else
                return api_.qvres_read_int32(handle_, &request, to, size, &e);
        });
    if (s == QVRES_OK) return true;
    if (absent_ok && s == QVRES_E_NOT_STORED) return false;
    fail(what, e);
}

namespace {

// What a node query wrote; the count must be the model's: a cycle whose
// sizes differ from the base file's cannot share its points.
template <class T>
std::vector<T> model_nodes(std::vector<T> written, std::int64_t nodes, const std::string& where) {
    if (static_cast<std::int64_t>(written.size()) != nodes)
        throw Error(where + ": the cycle holds " + std::to_string(written.size()) + " node values where the model has " +
                        std::to_string(nodes),
                    QVRES_E_DAMAGED);
    return written;
}

}  // namespace

std::vector<float> CycleReader::node_reals(std::int32_t variable, std::int32_t part) {
    std::vector<float> v;
    read(qvres_request{QVRES_NODE_REALS, variable, part}, "node values", v);
    return model_nodes(std::move(v), analysis_.model().nodes(), analysis_.describe_step(step_));
}

std::vector<std::int32_t> CycleReader::node_ints(std::int32_t variable, std::int32_t part) {
    std::vector<std::int32_t> v;
    read(qvres_request{QVRES_NODE_INTEGERS, variable, part}, "node values", v);
    return model_nodes(std::move(v), analysis_.model().nodes(), analysis_.describe_step(step_));
}

std::vector<std::int64_t> element_positions(const ElementLayout& elements, const ElementLayout& slots) {
    std::vector<std::int64_t> out;
    const std::int64_t per = slots.per_slot;
    for (const ElementLayout::Run& run : elements.structured) {
        if (!run.elements) continue;
        const auto s = std::find_if(slots.structured.begin(), slots.structured.end(),
                                    [&](const ElementLayout::Run& x) { return x.part == run.part; });
        bool inside = s != slots.structured.end();
        for (int d = 0; inside && d < 3; ++d)
            inside = run.origin[d] >= s->origin[d] && run.origin[d] - s->origin[d] + run.extent[d] <= s->extent[d];
        if (!inside)
            throw Error("the layouts of part " + std::to_string(run.part) + " do not agree", QVRES_E_DAMAGED);
        // Both runs give their slots along I, J, K with K fastest.
        for (std::int64_t i = 0; i < run.extent[0]; ++i)
            for (std::int64_t j = 0; j < run.extent[1]; ++j)
                for (std::int64_t k = 0; k < run.extent[2]; ++k) {
                    const std::int64_t si = run.origin[0] - s->origin[0] + i, sj = run.origin[1] - s->origin[1] + j,
                                       sk = run.origin[2] - s->origin[2] + k;
                    out.push_back(s->first + ((si * s->extent[1] + sj) * s->extent[2] + sk) * per + per - 1);
                }
    }
    for (std::int64_t u = 0; u < elements.unstructured; ++u) out.push_back(slots.unstructured_first + u);
    return out;
}

ElementLayout CycleReader::layout(const qvres_request& request, const char* what) const {
    qvres_error e{};
    qvres_layout l{};
    if (api_.qvres_get_layout(handle_, &request, &l, &e) != QVRES_OK) fail(what, e);
    ElementLayout out;
    out.per_slot = std::max<std::int64_t>(l.columns, 1);
    out.unstructured_first = l.unstructured_first;
    out.unstructured = l.unstructured;
    out.size = l.values;
    for (std::int64_t b = 0; b < l.blocks; ++b) {
        qvres_layout_block block{};
        if (api_.qvres_get_layout_block(handle_, &request, b, &block, &e) != QVRES_OK) fail(what, e);
        ElementLayout::Run run;
        run.first = block.first;
        run.slots = block.extent[0] * block.extent[1] * block.extent[2];
        run.elements = block.elements != 0;
        run.part = block.part;
        for (int d = 0; d < 3; ++d) run.extent[d] = block.extent[d], run.origin[d] = block.origin[d];
        out.structured.push_back(run);
    }
    for (std::int64_t c = 0; c + 1 < l.columns; ++c) {
        std::int32_t material = 0;
        if (api_.qvres_get_layout_column(handle_, &request, c, &material, &e) != QVRES_OK) fail(what, e);
        out.materials.push_back(material);
    }
    return out;
}

ElementReals CycleReader::element_reals(std::int32_t variable, std::int32_t part) {
    ElementReals out;
    const qvres_request request{QVRES_ELEMENT_REALS, variable, part};
    const ElementLayout layout = this->layout(request, "element values");
    out.materials = layout.materials;
    std::vector<float> written;
    read(request, "element values", written);
    if (static_cast<std::int64_t>(written.size()) != layout.size)
        throw Error(analysis_.describe_step(step_) + ": variable " + std::to_string(variable) + " holds " +
                        std::to_string(written.size()) + " values where the model lays out " + std::to_string(layout.size),
                    QVRES_E_DAMAGED);
    out.values = element_values(layout, written, &out.material_values);
    return out;
}

std::vector<std::int32_t> CycleReader::element_ints(std::int32_t variable, std::int32_t part) {
    const qvres_request request{QVRES_ELEMENT_INTEGERS, variable, part};
    const ElementLayout layout = this->layout(request, "element values");
    std::vector<std::int32_t> written;
    read(request, "element values", written);
    if (static_cast<std::int64_t>(written.size()) != layout.size)
        throw Error(analysis_.describe_step(step_) + ": variable " + std::to_string(variable) + " holds " +
                        std::to_string(written.size()) + " values where the model lays out " + std::to_string(layout.size),
                    QVRES_E_DAMAGED);
    return element_values(layout, written);
}

bool CycleReader::displacements(std::vector<float>& xyz) {
    if (!read(qvres_request{QVRES_DISPLACEMENTS, 0, 0}, "displacements", xyz, true)) return false;
    // Three per node of the model: a cycle stating other sizes cannot move
    // the model's points.
    const std::int64_t nodes = analysis_.model().nodes();
    if (static_cast<std::int64_t>(xyz.size()) != 3 * nodes)
        throw Error(analysis_.describe_step(step_) + ": the cycle holds displacements of " +
                        std::to_string(xyz.size() / 3) + " nodes where the model has " + std::to_string(nodes),
                    QVRES_E_DAMAGED);
    return true;
}

bool CycleReader::material_fractions(std::int32_t material, std::vector<float>& out) {
    return read(qvres_request{QVRES_MATERIAL_FRACTIONS, 0, material}, "material fractions", out, true);
}

bool CycleReader::rigid_body(std::int32_t body, std::array<float, 12>& out) {
    qvres_error e{};
    const qvres_status s = api_.qvres_read_rigid_body(handle_, body, out.data(), &e);
    if (s == QVRES_OK) return true;
    if (s == QVRES_E_NOT_STORED) return false;
    fail("", e);
}

bool CycleReader::joint(std::int32_t joint, std::int32_t quantity, std::array<float, 16>& out) {
    qvres_error e{};
    const qvres_status s = api_.qvres_read_joint(handle_, joint, quantity, out.data(), &e);
    if (s == QVRES_OK) return true;
    if (s == QVRES_E_NOT_STORED) return false;
    fail("", e);
}

bool SkippedFile::link_out() const {
    static constexpr std::string_view kLinkOut = ": a link out of the run's directory";
    return reason.size() >= kLinkOut.size() &&
           reason.compare(reason.size() - kLinkOut.size(), kLinkOut.size(), kLinkOut) == 0;
}

}  // namespace qvhost
