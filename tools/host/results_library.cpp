// Loading the results library at run time and the typed helpers around its
// C interface.
#include "host/results_library.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "results_api.h"

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#ifndef QVRES_BUILD_LIBRARY_DIR
#define QVRES_BUILD_LIBRARY_DIR ""
#endif
#ifndef QVRES_INSTALLED_LIBRARY_DIR
#define QVRES_INSTALLED_LIBRARY_DIR "../lib"
#endif

namespace qvhost {
namespace {

// ---- The platform loader: the only code that opens a shared object. -----

#if defined(_WIN32)
constexpr const char* kLibraryName = "results_api.dll";

void* load_shared_object(const std::string& path, std::string& error) {
    // A DLL named with its directory finds the DLLs it needs beside it.
    const bool has_directory = path.find_first_of("/\\") != std::string::npos;
    const HMODULE module = ::LoadLibraryExA(path.c_str(), nullptr,
                                            has_directory ? LOAD_WITH_ALTERED_SEARCH_PATH : 0);
    if (!module) {
        const DWORD code = ::GetLastError();
        char text[512] = {};
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                         0, text, sizeof text, nullptr);
        std::string message = text;
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                    message.back() == ' ' || message.back() == '.'))
            message.pop_back();
        error = (message.empty() ? "error" : message) + " (" + std::to_string(code) + ")";
    }
    return module;
}

void* find_symbol(void* handle, const char* name) {
    const FARPROC function = ::GetProcAddress(static_cast<HMODULE>(handle), name);
    void* symbol = nullptr;
    std::memcpy(&symbol, &function, sizeof symbol);
    return symbol;
}

void unload_shared_object(void* handle) { ::FreeLibrary(static_cast<HMODULE>(handle)); }

std::string executable_directory() {
    char buffer[MAX_PATH * 2];
    const DWORD n = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer) return {};
    const std::string path(buffer, n);
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool file_exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
#else
constexpr const char* kLibraryName = "libresults_api.so.1";

void* load_shared_object(const std::string& path, std::string& error) {
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* e = ::dlerror();
        error = e ? e : "unknown error";
    }
    return handle;
}

void* find_symbol(void* handle, const char* name) { return ::dlsym(handle, name); }

void unload_shared_object(void* handle) { ::dlclose(handle); }

std::string executable_directory() {
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    std::string path(buffer, static_cast<std::size_t>(n));
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool file_exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }
#endif

// ---- Text fields ---------------------------------------------------------

// A caller buffer primed with `width` blanks and a terminator: the library
// writes exactly `width` characters into it.
std::string text_field(std::size_t width) { return std::string(width, ' '); }

std::string trimmed(const std::string& s) {
    const std::size_t end = s.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

std::size_t size_of(std::int64_t n) { return static_cast<std::size_t>(std::max<std::int64_t>(n, 0)); }

}  // namespace

// Every function the tools call, found by name.
struct ResultsLibrary::Api {
#define QVRES_FUNCTIONS(X)                                                                     \
    X(set_Startup) X(set_BaseFilename) X(set_newStep) X(resultsCleanUp)                        \
    X(getResultsFileVersion) X(getUnitSystem) X(getPyramidTetPairId) X(get_NumNodes)           \
    X(get_NumSteps) X(get_NumStructuredParts) X(get_NumUnstructuredParts)                      \
    X(get_NumUnstructuredElements) X(get_NumStructuredNodes) X(get_PartInfo)                   \
    X(get_ElementPartConnectivity) X(get_UnstructuredElementConnectivity) X(get_ElementType)   \
    X(get_NodeCoordinates) X(get_NodeDisplacements) X(get_IntNodeValues)                       \
    X(get_FloatNodeValues) X(get_IntElemValues) X(get_FloatElemValues) X(get_NumMaterials)    \
    X(get_MaterialName) X(get_MaterialFractions) X(getEulerMatFracBodyName)                    \
    X(getEulerMatFracIDforQVMaterial) X(get_ZPnumElementTypes) X(get_ZPElementType)            \
    X(get_JointData) X(get_RigidBodyData) X(get_SetData) X(get_NumVariables)                   \
    X(get_VariableInfo)
#define QVRES_MEMBER(name) decltype(&::name) name = nullptr;
    QVRES_FUNCTIONS(QVRES_MEMBER)
#undef QVRES_MEMBER
};

const char* element_kind_name(std::int32_t position) {
    switch (position) {
    case 2: return "beam";
    case 5: return "tetrahedron";
    case 6: return "hexahedron";
    case 7: return "pyramid";
    case 8: return "wedge";
    case 9: return "triangular shell";
    case 10: return "quadrilateral shell";
    default: return "unknown";
    }
}

bool is_multi_material(std::int32_t variable) {
    for (std::int32_t v : {54, 81, 83, 85, 86, 87, 88, 89})
        if (v == variable) return true;
    return false;
}

ElementLayout element_layout(const Model& model, ElementGetter getter, std::int64_t per_slot) {
    ElementLayout l;
    l.per_slot = std::max<std::int64_t>(per_slot, 1);
    std::int64_t at = 2;  // behind the header pair
    for (const auto& extents : model.extents) {
        const std::int64_t i = std::max(extents[0], 0), j = std::max(extents[1], 0),
                           k = std::max(extents[2], 0);
        ElementLayout::Run run{at, 0, true};
        if (i >= 2 && j >= 2 && k >= 2)
            run.slots = (i - 1) * (j - 1) * (k - 1);
        else if (i == 1 && getter == ElementGetter::Real)
            run = {at, j * k, false};
        if (run.slots == 0) continue;
        l.structured.push_back(run);
        at += run.slots * l.per_slot;
    }
    l.unstructured_first = at;
    l.unstructured = model.unstructured_elements;
    l.size = at + l.unstructured;
    return l;
}

std::vector<std::string> library_candidates() {
    std::vector<std::string> candidates;
    const std::string exe = executable_directory();
    if (!exe.empty()) {
        candidates.push_back(exe + "/" + kLibraryName);
        candidates.push_back(exe + "/" + QVRES_INSTALLED_LIBRARY_DIR + "/" + kLibraryName);
    }
    if (*QVRES_BUILD_LIBRARY_DIR) candidates.push_back(std::string(QVRES_BUILD_LIBRARY_DIR) + "/" + kLibraryName);
    candidates.push_back(kLibraryName);
    return candidates;
}

ResultsLibrary::ResultsLibrary(const std::string& path) : api_(std::make_unique<Api>()) {
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
            throw Error(std::string("cannot find the results library ") + kLibraryName +
                        " (looked in " + looked + "): name it with --library PATH or QVRES_LIBRARY");
    }
#define QVRES_RESOLVE(name)                                                                   \
    api_->name = reinterpret_cast<decltype(api_->name)>(find_symbol(handle_, #name));         \
    if (!api_->name) {                                                                        \
        unload_shared_object(handle_);                                                        \
        handle_ = nullptr;                                                                    \
        throw Error(location_ + " is not a results library: it does not export " #name);      \
    }
    QVRES_FUNCTIONS(QVRES_RESOLVE)
#undef QVRES_RESOLVE
    api_->set_Startup();
}

ResultsLibrary::~ResultsLibrary() {
    if (!handle_) return;
    api_->resultsCleanUp();
    unload_shared_object(handle_);
}

// ---- Session ---------------------------------------------------------------

void ResultsLibrary::open(const std::string& file) {
    files_ = analysis_files(file);
    check_analysis(files_);
    steps_cached_ = false;
    selected_ = -1;
    base_only_counts_ = false;
    const std::int32_t mode = 1;
    if (!api_->set_BaseFilename(&mode, files_.library_path.c_str(), files_.directory.c_str())) {
        // Which file is at fault: the base file alone, or the named cycle file?
        const std::int32_t base_mode = 0;
        const bool base_loads =
            api_->set_BaseFilename(&base_mode, files_.base_older.c_str(), files_.directory.c_str());
        if (base_loads && !files_.names_base_file)
            throw Error(files_.given + " is damaged or truncated: its header or model section "
                                       "cannot be read");
        throw Error("the base file " + existing_base_file(files_) +
                    " is damaged or truncated: the model cannot be read");
    }
    materials_cache_.clear();
    if (!files_.names_base_file) return;
    // Counts of a base-file-only load count every node as unstructured;
    // those of a cycle do not. Select the first cycle that opens.
    const std::int32_t n = static_cast<std::int32_t>(steps().size());
    for (std::int32_t k = 0; k < n; ++k)
        if (api_->set_newStep(&k)) {
            selected_ = k;
            return;
        }
    if (n > 0) {
        api_->set_BaseFilename(&mode, files_.library_path.c_str(), files_.directory.c_str());
        steps_cached_ = false;
    }
    base_only_counts_ = true;
}

void ResultsLibrary::select(std::int32_t index) {
    const std::int32_t n = static_cast<std::int32_t>(steps().size());
    if (index < 0 || index >= n)
        throw Error("step " + std::to_string(index) + " does not exist (" +
                    (n == 0 ? std::string("the analysis has no steps")
                            : "the analysis has " + std::to_string(n) + " steps: 0.." +
                                  std::to_string(n - 1)) +
                    ")");
    if (!api_->set_newStep(&index)) {
        selected_ = -1;
        throw Error(describe_step(index) + " cannot be read: its cycle file is damaged or truncated");
    }
    selected_ = index;
    base_only_counts_ = false;
}

std::string ResultsLibrary::describe_step(std::int32_t index) const {
    const std::vector<Step>& s = steps();
    std::ostringstream os;
    os << "step " << index;
    if (index >= 0 && static_cast<std::size_t>(index) < s.size())
        os << " (cycle " << s[index].cycle << ", t = " << s[index].time << " s)";
    return os.str();
}

std::int32_t ResultsLibrary::count(bool (*query)(std::int32_t*), const char* what) const {
    std::int32_t n = -1;
    if (!query(&n) || n < 0) throw Error(std::string("the library reports no ") + what + ": no model is loaded");
    return n;
}

void ResultsLibrary::require_cycle(const char* what) const {
    if (selected_ < 0) throw Error(std::string("no step is selected to read ") + what + " from");
}

std::string ResultsLibrary::read_failure(const std::string& what, std::int32_t variable,
                                         std::int32_t part) const {
    std::ostringstream os;
    os << describe_step(selected_) << ": reading " << what;
    if (variable != 0) os << " (variable " << variable << ", part " << part << ")";
    os << " failed: its cycle file is damaged or truncated";
    return os.str();
}

// ---- Model -----------------------------------------------------------------

Model ResultsLibrary::model() const {
    Model m;
    const std::int32_t s = count(api_->get_NumStructuredParts, "structured part count");
    m.unstructured_parts = count(api_->get_NumUnstructuredParts, "unstructured part count");
    std::vector<std::int32_t> a(size_of(s) + 1), b(size_of(s) + 1), c(size_of(s) + 1);
    if (s > 0 && !api_->get_NumStructuredNodes(a.data(), b.data(), c.data()))
        throw Error("the library reports no structured part extents");
    for (std::int32_t p = 0; p < s; ++p) {
        m.extents.push_back({a[p], b[p], c[p]});
        const std::int64_t i = std::max(a[p], 0), j = std::max(b[p], 0), k = std::max(c[p], 0);
        m.slots += i * j * k;
        if (i >= 2 && j >= 2 && k >= 2) m.structured_elements += (i - 1) * (j - 1) * (k - 1);
    }
    std::int64_t nodes = count(api_->get_NumNodes, "node count");
    if (base_only_counts_) nodes -= m.slots;
    m.unstructured_nodes = std::max<std::int64_t>(nodes, 0);
    m.unstructured_elements = count(api_->get_NumUnstructuredElements, "element count");
    return m;
}

std::vector<Part> ResultsLibrary::parts() const {
    const Model m = model();
    std::vector<Part> parts;
    const std::int32_t total = m.structured_parts() + m.unstructured_parts;
    for (std::int32_t p = 1; p <= total; ++p) {
        Part part;
        part.number = p;
        part.structured = p <= m.structured_parts();
        std::string name = text_field(35);
        if (!api_->get_PartInfo(&p, &part.elements, &part.nodes, name.data()))
            throw Error("the library reports nothing for part " + std::to_string(p));
        part.name = trimmed(name);
        if (part.structured) {
            part.i = m.extents[p - 1][0];
            part.j = m.extents[p - 1][1];
            part.k = m.extents[p - 1][2];
        }
        parts.push_back(part);
    }
    return parts;
}

std::vector<Material> ResultsLibrary::materials() const {
    const std::int32_t n = count(api_->get_NumMaterials, "material count");
    std::vector<Material> out;
    for (std::int32_t m = 1; m <= n; ++m) {
        Material mat;
        mat.number = m;
        std::int32_t query = m;
        std::string name = text_field(35);
        if (!api_->get_MaterialName(&query, name.data()))
            throw Error("the library reports no name for material " + std::to_string(m));
        mat.name = trimmed(name);
        std::int32_t id = -1;
        api_->getEulerMatFracIDforQVMaterial(&m, &id);  // false for a negative identifier
        mat.euler_id = id;
        std::string body = text_field(256);
        if (api_->getEulerMatFracBodyName(&m, body.data())) mat.body = trimmed(body);
        out.push_back(mat);
    }
    return out;
}

UnitSystem ResultsLibrary::unit_system() const {
    UnitSystem u;
    api_->getUnitSystem(&u.length, &u.mass, &u.time);
    // The decimal unit systems: length code -2 micrometre, 1 millimetre,
    // 3 metre, any other centimetre; mass and time codes c give 10^(3c - 9).
    if (u.mass < 4) {
        u.decimal = true;
        u.length_exponent = u.length == -2 ? -6 : u.length == 1 ? -3 : u.length == 3 ? 0 : -2;
        u.mass_exponent = 3 * u.mass - 9;
        u.time_exponent = 3 * u.time - 9;
    }
    return u;
}

std::int32_t ResultsLibrary::file_version() const {
    return count(api_->getResultsFileVersion, "file version");
}

std::vector<std::int32_t> ResultsLibrary::element_kinds() const {
    const std::int32_t n = count(api_->get_ZPnumElementTypes, "element kinds");
    std::vector<std::int32_t> kinds;
    for (std::int32_t t = 1; t <= n; ++t) {
        std::int32_t position = 0;
        if (!api_->get_ZPElementType(&t, &position))
            throw Error("the library reports no kind for element type " + std::to_string(t));
        kinds.push_back(position);
    }
    return kinds;
}

std::vector<std::int32_t> ResultsLibrary::connectivity() const {
    const std::int32_t e = count(api_->get_NumUnstructuredElements, "element count");
    std::vector<std::int32_t> nodes(8 * size_of(e) + 8, 0);
    if (e > 0 && !api_->get_UnstructuredElementConnectivity(nodes.data()))
        throw Error("the library reports no element connectivity");
    nodes.resize(8 * size_of(e));
    return nodes;
}

std::vector<std::int32_t> ResultsLibrary::element_types() const {
    const std::int32_t e = count(api_->get_NumUnstructuredElements, "element count");
    std::vector<std::int32_t> types(size_of(e) + 1, 0);
    if (e > 0 && !api_->get_ElementType(types.data()))
        throw Error("the library reports no element types");
    types.resize(size_of(e));
    return types;
}

std::vector<std::int32_t> ResultsLibrary::part_elements(std::int32_t part) const {
    std::int32_t elements = 0, nodes = 0;
    std::string name = text_field(0);
    if (!api_->get_PartInfo(&part, &elements, &nodes, name.data()))
        throw Error("the library reports nothing for part " + std::to_string(part));
    std::vector<std::int32_t> ids(size_of(elements) + 1, 0);
    std::int32_t query = part;
    if (!api_->get_ElementPartConnectivity(&query, ids.data()))
        throw Error("part " + std::to_string(part) + " is not an unstructured part");
    ids.resize(size_of(elements));
    return ids;
}

std::int32_t ResultsLibrary::pair_partner(std::int32_t element_number) const {
    std::int32_t partner = 0;
    return api_->getPyramidTetPairId(&element_number, &partner) ? partner : 0;
}

std::vector<float> ResultsLibrary::coordinates() const {
    const Model m = model();
    // After a base-file-only load the library may count nodes twice over;
    // the array is sized for what it may write.
    const std::int64_t room = m.nodes() + (base_only_counts_ ? m.slots : 0);
    std::vector<float> xyz(3 * size_of(room) + 3, 0.0f);
    if (!api_->get_NodeCoordinates(xyz.data())) throw Error("the library reports no node coordinates");
    xyz.resize(3 * size_of(m.nodes()));
    return xyz;
}

std::vector<Step> ResultsLibrary::steps() const {
    if (steps_cached_) return steps_cache_;
    const std::int32_t n = count(api_->get_NumSteps, "step count");
    std::vector<std::int32_t> cycles(size_of(n) + 1, 0);
    std::vector<float> times(size_of(n) + 1, 0.0f);
    if (!api_->get_SetData(cycles.data(), times.data()))
        throw Error("the library reports no cycles: no model is loaded");
    steps_cache_.clear();
    for (std::int32_t k = 0; k < n; ++k) steps_cache_.push_back({k, cycles[k], times[k]});
    steps_cached_ = true;
    return steps_cache_;
}

// ---- Selected cycle ----------------------------------------------------------

std::vector<Variable> ResultsLibrary::variables() const {
    require_cycle("the result directory");
    std::int32_t count = -1, entries = -1;
    if (!api_->get_NumVariables(&count, &entries) || entries < 0)
        throw Error(describe_step(selected_) + ": the library reports no result directory");
    const std::size_t d = size_of(entries);
    std::vector<std::int32_t> qualifiers(d + 1), indices(d + 1), kinds(d + 1);
    std::vector<std::string> names(d, std::string(100, ' '));
    std::vector<char*> pointers(d + 1, nullptr);
    for (std::size_t i = 0; i < d; ++i) pointers[i] = names[i].data();
    if (d > 0 && !api_->get_VariableInfo(qualifiers.data(), pointers.data(), indices.data(), kinds.data()))
        throw Error(describe_step(selected_) + ": the library reports no result directory");
    std::vector<Variable> out;
    for (std::size_t i = 0; i < d; ++i)
        out.push_back({qualifiers[i], trimmed(names[i]), indices[i], kinds[i]});
    return out;
}

std::vector<float> ResultsLibrary::node_reals(std::int32_t variable, std::int32_t part) const {
    require_cycle("node values");
    const std::int64_t n = model().nodes();
    std::vector<float> values(size_of(n) + 2, 0.0f);
    std::int32_t v = variable;
    if (!api_->get_FloatNodeValues(&v, &part, values.data()))
        throw Error(read_failure("node values", variable, part));
    values.erase(values.begin(), values.begin() + 2);
    return values;
}

std::vector<std::int32_t> ResultsLibrary::node_ints(std::int32_t variable, std::int32_t part) const {
    require_cycle("node values");
    const std::int64_t n = model().nodes();
    std::vector<std::int32_t> values(size_of(n) + 2, 0);
    std::int32_t v = variable;
    if (!api_->get_IntNodeValues(&v, &part, values.data()))
        throw Error(read_failure("node values", variable, part));
    values.erase(values.begin(), values.begin() + 2);
    return values;
}

ElementReals ResultsLibrary::element_reals(std::int32_t variable, std::int32_t part) const {
    require_cycle("element values");
    const Model m = model();
    ElementReals out;
    std::int64_t per_slot = 1;
    if (is_multi_material(variable)) {
        if (materials_cache_.empty()) materials_cache_ = materials();
        for (const Material& mat : materials_cache_)
            if (mat.euler_id >= 0) out.materials.push_back(mat.number);
        per_slot = static_cast<std::int64_t>(out.materials.size()) + 1;
    }
    const ElementLayout layout = element_layout(m, ElementGetter::Real, per_slot);
    std::vector<float> written(size_of(layout.size), 0.0f);
    std::int32_t v = variable;
    if (!api_->get_FloatElemValues(&v, &part, written.data()))
        throw Error(read_failure("element values", variable, part));
    out.values = element_values(layout, written, &out.material_values);
    return out;
}

std::vector<std::int32_t> ResultsLibrary::element_ints(std::int32_t variable, std::int32_t part) const {
    require_cycle("element values");
    const ElementLayout layout = element_layout(model(), ElementGetter::Integer, 1);
    std::vector<std::int32_t> written(size_of(layout.size), 0);
    std::int32_t v = variable;
    if (!api_->get_IntElemValues(&v, &part, written.data()))
        throw Error(read_failure("element values", variable, part));
    return element_values(layout, written);
}

bool ResultsLibrary::displacements(std::vector<float>& xyz) const {
    require_cycle("displacements");
    xyz.assign(3 * size_of(model().nodes()) + 3, 0.0f);
    const bool ok = api_->get_NodeDisplacements(xyz.data());
    xyz.resize(xyz.size() - 3);
    return ok;
}

bool ResultsLibrary::material_fractions(std::int32_t material, std::vector<float>& out) const {
    require_cycle("material fractions");
    out.assign(size_of(model().structured_elements) + 1, 0.0f);
    const bool ok = api_->get_MaterialFractions(&material, out.data());
    out.pop_back();
    return ok;
}

bool ResultsLibrary::rigid_body(std::int32_t body, std::array<float, 12>& out) const {
    require_cycle("rigid body data");
    return api_->get_RigidBodyData(&body, out.data());
}

bool ResultsLibrary::joint(std::int32_t joint, std::int32_t quantity, std::array<float, 16>& out) const {
    require_cycle("joint data");
    return api_->get_JointData(&joint, &quantity, out.data());
}

}  // namespace qvhost
