// A host program as a post-processor would be: it loads the library with
// dlopen (LoadLibrary on Windows), resolves every export it calls by name,
// and runs the whole calling
// order over the two analyses that write_host_analysis wrote beforehand:
//
//   host_e2e <library> <plate_run directory> <tank_test directory>
//
// The expected values follow the formulas stated at the top of
// write_host_analysis.cpp; they are worked out here from each model's
// layout, independently of the library. Every failed check is reported and
// the run goes on; the exit status is 1 when any check failed.
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "results_api.h"

// Every export this host calls, resolved by name at run time.
#define HOST_EXPORTS(X)                                                        \
    X(set_Startup) X(set_BaseFilename) X(set_newStep) X(resultsCleanUp)        \
    X(setDataExtractionMode) X(getUnitSystem) X(get_NumNodes) X(get_NumSteps)  \
    X(get_NumStructuredParts) X(get_NumUnstructuredParts)                      \
    X(get_NumUnstructuredElements) X(get_NumStructuredNodes)                   \
    X(get_NodeCoordinates) X(get_NodeDisplacements) X(get_IntNodeValues)       \
    X(get_FloatNodeValues) X(get_NodeErosion) X(get_IntElemValues)             \
    X(get_FloatElemValues) X(get_ElementMaterial) X(get_RigidBodyData)         \
    X(get_JointData) X(get_SetData)

static struct {
#define HOST_DECLARE(name) __typeof__(&name) name;
    HOST_EXPORTS(HOST_DECLARE)
#undef HOST_DECLARE
} api;

static int failures = 0;
static int current_cycle = 0; // named in failure reports

#define CHECK(cond)                                                            \
    do {                                                                       \
        if (!(cond)) {                                                         \
            fprintf(stderr, "%s:%d: cycle %d: check failed: %s\n", __FILE__,  \
                    __LINE__, current_cycle, #cond);                           \
            ++failures;                                                        \
        }                                                                      \
    } while (0)

#ifdef _WIN32
typedef HMODULE library_handle;
/* A function address as a data pointer, for the copy into its typed slot. */
static void *find_export(HMODULE library, const char *name) {
    FARPROC function = GetProcAddress(library, name);
    void *symbol;
    memcpy(&symbol, &function, sizeof symbol);
    return symbol;
}
#else
typedef void *library_handle;
static void *find_export(void *library, const char *name) { return dlsym(library, name); }
#endif

static int resolve(library_handle library) {
    void *symbol;
#define HOST_RESOLVE(name)                                                     \
    symbol = find_export(library, #name);                                      \
    if (!symbol) {                                                             \
        fprintf(stderr, "export %s not found\n", #name);                       \
        return 0;                                                              \
    }                                                                          \
    memcpy(&api.name, &symbol, sizeof symbol);
    HOST_EXPORTS(HOST_RESOLVE)
#undef HOST_RESOLVE
    return 1;
}

// Caller arrays hold this one past the values a call may write; it must stay.
#define SENTINEL -12345
#define POISON -1.0e6 // stored in slots that carry no cell
enum { MAX_VALUES = 2 + 3 * 44 + 1 };

// n values (int32_t, or float when `reals`) against the expected ones, then
// the sentinel behind them; integers exactly, reals to a relative 1e-5. The
// first mismatch is reported.
static void expect(const char *what, const void *got, int reals, const double *want, int n) {
    int i;
    for (i = 0; i <= n; ++i) {
        const double w = i < n ? want[i] : SENTINEL;
        const double g = reals ? ((const float *)got)[i] : ((const int32_t *)got)[i];
        if (reals ? fabs(g - w) > 1e-5 * fabs(w) + 1e-9 : g != w) {
            fprintf(stderr, "cycle %d: %s[%d] = %.9g, expected %.9g\n", current_cycle, what, i,
                    g, w);
            ++failures;
            return;
        }
    }
}

// What the host knows of an analysis beforehand.
struct analysis {
    const char *run;
    int structured, unstructured_parts;
    int32_t blocks[2][3]; // I, J, K of parts 1..structured
    int unstructured_nodes, elements;
    int32_t length_code; // 1: mm, 3: m
    int steps;
    int32_t cycles[4]; // in time order, whatever order the files were found in
    int bodies;        // rigid body and joint sections in every cycle
};

static const struct analysis plate = {
    "plate_run", 2, 2, {{3, 3, 2}, {2, 2, 3}}, 14, 4, 1, 4, {100, 200, 300, 400}, 1};
static const struct analysis tank = {"tank_test", 1, 1, {{2, 2, 2}}, 4, 1, 3, 2, {2, 5}, 0};

static int slots(const struct analysis *a) {
    int p, t = 0;
    for (p = 0; p < a->structured; ++p) t += a->blocks[p][0] * a->blocks[p][1] * a->blocks[p][2];
    return t;
}

// Mean index of the cells i and i+1 that exist (2..extent) around node
// layer i: the cells around a node form a product set, so the average of a
// linear cell formula is the formula at the mean indices.
static double mean_cell(int i, int extent) {
    if (i < 2) return i + 1;
    return i + 1 <= extent ? i + 0.5 : i;
}

// Node values of cycle c: the integer node variable 26, the real node
// variable 4 (a velocity, scaled as a length) and the displacements.
static void node_values(const struct analysis *a, int32_t c, double length) {
    const int nodes = slots(a) + a->unstructured_nodes;
    int32_t ints[MAX_VALUES], variable = 26, part = 1;
    float reals[MAX_VALUES];
    double want[MAX_VALUES];
    int p, i, j, k, n = 2;

    want[0] = c;
    want[1] = 26;
    for (i = 0; i < nodes; ++i) want[2 + i] = c + i;
    ints[nodes + 2] = SENTINEL;
    CHECK(api.get_IntNodeValues(&variable, &part, ints) && variable == 26);
    expect("integer node values", ints, 0, want, nodes + 2);
    CHECK(api.get_NodeErosion(ints));
    expect("node erosion", ints, 0, want, nodes + 2);

    // Header pair unscaled, then the mean of the cell formula around each
    // structured node, then the unstructured nodes.
    want[1] = 0.5;
    for (p = 0; p < a->structured; ++p) {
        const int32_t *b = a->blocks[p];
        for (i = 1; i <= b[0]; ++i)
            for (j = 1; j <= b[1]; ++j)
                for (k = 1; k <= b[2]; ++k)
                    want[n++] = (c + 1000.0 * (p + 1) + 100.0 * mean_cell(i, b[0]) +
                                 10.0 * mean_cell(j, b[1]) + mean_cell(k, b[2])) * length;
    }
    for (i = 0; i < a->unstructured_nodes; ++i) want[n++] = (c + 0.5 * i) * length;
    variable = 4;
    reals[nodes + 2] = SENTINEL;
    CHECK(api.get_FloatNodeValues(&variable, &part, reals) && variable == 4);
    expect("real node values", reals, 1, want, nodes + 2);

    // Displacements (c + n, -n, 0.5n); node 5 has none.
    for (n = 0; n < 3 * nodes; ++n) {
        static const double factor[3] = {1.0, -1.0, 0.5};
        want[n] = n / 3 == 5 ? 0.0 : ((n % 3 ? 0 : c) + factor[n % 3] * (n / 3)) * length;
    }
    reals[3 * nodes] = SENTINEL;
    CHECK(api.get_NodeDisplacements(reals));
    expect("displacements", reals, 1, want, 3 * nodes);
}

// Element values of cycle c in both extraction modes (mode 0: element slots
// only, mode 1: every slot): integer variable 10 and real variable 67, a
// stress, scaled as 1 / length.
static void element_values(const struct analysis *a, int32_t c, double length) {
    int32_t ints[MAX_VALUES], variable, part = 1, mode;
    float reals[MAX_VALUES];
    double want_ints[MAX_VALUES], want[MAX_VALUES];
    int p, i, j, k, e, n;

    for (mode = 0; mode <= 1; ++mode) {
        want_ints[0] = want[0] = c;
        want_ints[1] = 10;
        want[1] = 67;
        n = 2;
        for (p = 0; p < a->structured; ++p) {
            const int32_t *b = a->blocks[p];
            for (i = 1; i <= b[0]; ++i)
                for (j = 1; j <= b[1]; ++j)
                    for (k = 1; k <= b[2]; ++k) {
                        const int element = i >= 2 && j >= 2 && k >= 2;
                        if (!element && !mode) continue;
                        want_ints[n] = 10000.0 * c + 1000 * (p + 1) + 100 * i + 10 * j + k;
                        want[n++] = (element ? c + 100.0 * (p + 1) + 10 * i + j + 0.5 * k : POISON) /
                                    length;
                    }
        }
        for (e = 1; e <= a->elements; ++e, ++n) {
            want_ints[n] = 10000.0 * c + 9000 + e;
            want[n] = (c + 0.25 * e) / length;
        }
        CHECK(api.setDataExtractionMode(&mode));
        variable = 10;
        ints[n] = SENTINEL;
        CHECK(api.get_IntElemValues(&variable, &part, ints) && variable == 10);
        expect(mode ? "integer slot values" : "integer element values", ints, 0, want_ints, n);
        CHECK(api.get_ElementMaterial(ints));
        expect("element material", ints, 0, want_ints, n);
        variable = 67;
        reals[n] = SENTINEL;
        CHECK(api.get_FloatElemValues(&variable, &part, reals) && variable == 67);
        expect(mode ? "real slot values" : "real element values", reals, 1, want, n);
    }
    mode = 0;
    CHECK(api.setDataExtractionMode(&mode));
}

// Rigid body 4 and joint 8 of cycle c, or their absence.
static void bodies(const struct analysis *a, int32_t c, double length) {
    float record[17];
    int32_t body = 4, joint = 8, quantity = 1;
    // R a quarter turn about z; t = s.p - R.(s.c) with p = (c, 2, 3) and
    // c = (1, 0, 0): R.c = (0, 1, 0), so t = s (c, 1, 3). The joint's force
    // triple (c, 2, 3) scales as a length (l - 2t + m); nothing behind it
    // is written.
    const double want[12] = {0, 1, 0, -1, 0, 0, 0, 0, 1, c * length, length, 3 * length};
    const double force[3] = {c * length, 2 * length, 3 * length};
    record[0] = record[12] = record[3] = record[15] = SENTINEL;
    if (!a->bodies) {
        CHECK(!api.get_RigidBodyData(&body, record) && record[0] == SENTINEL);
        CHECK(!api.get_JointData(&joint, &quantity, record) && record[0] == SENTINEL);
        return;
    }
    CHECK(api.get_RigidBodyData(&body, record));
    expect("rigid body", record, 1, want, 12);
    record[3] = SENTINEL;
    CHECK(api.get_JointData(&joint, &quantity, record) && record[15] == SENTINEL);
    expect("joint force", record, 1, force, 3);
}

static void run(const struct analysis *a, const char *dir) {
    char path[1024];
    const int32_t mode = 1;
    const double length = a->length_code == 1 ? 1e-3 : 1.0;
    int32_t count = 0, l = 0, m = 0, t = 0, step;
    int32_t ni[3] = {SENTINEL, SENTINEL, SENTINEL}, nj[3], nk[3];
    int32_t cycles[5];
    float xyz[MAX_VALUES], times[5];
    double want[MAX_VALUES], want_times[4];
    const int nodes = slots(a) + a->unstructured_nodes;
    int n;

    // Any cycle file of the run names it.
    snprintf(path, sizeof path, "%s/%s_0002.qvres", dir, a->run);
    CHECK(api.set_BaseFilename(&mode, path, dir));
    CHECK(api.getUnitSystem(&l, &m, &t) && l == a->length_code && m == 3 && t == 3);
    CHECK(api.get_NumStructuredParts(&count) && count == a->structured);
    CHECK(api.get_NumUnstructuredParts(&count) && count == a->unstructured_parts);
    CHECK(api.get_NumNodes(&count) && count == a->unstructured_nodes);
    CHECK(api.get_NumUnstructuredElements(&count) && count == a->elements);
    CHECK(api.get_NumStructuredNodes(ni, nj, nk) && ni[a->structured] == SENTINEL);
    for (n = 0; n < a->structured; ++n)
        CHECK(ni[n] == a->blocks[n][0] && nj[n] == a->blocks[n][1] && nk[n] == a->blocks[n][2]);
    // Coordinates (n, 2n, 3n).
    for (n = 0; n < 3 * nodes; ++n) want[n] = (n / 3) * (n % 3 + 1) * length;
    xyz[3 * nodes] = SENTINEL;
    CHECK(api.get_NodeCoordinates(xyz));
    expect("coordinates", xyz, 1, want, 3 * nodes);

    // Registered in time order, time c / 100 s.
    if (!api.get_NumSteps(&count) || count != a->steps) {
        fprintf(stderr, "%s: %d steps registered, expected %d\n", a->run, (int)count, a->steps);
        ++failures;
        return;
    }
    cycles[a->steps] = times[a->steps] = SENTINEL;
    CHECK(api.get_SetData(cycles, times));
    for (n = 0; n < a->steps; ++n) {
        want[n] = a->cycles[n];
        want_times[n] = a->cycles[n] / 100.0;
    }
    expect("cycles", cycles, 0, want, a->steps);
    expect("times", times, 1, want_times, a->steps);

    for (step = 0; step < a->steps; ++step) {
        current_cycle = cycles[step];
        CHECK(api.set_newStep(&step));
        node_values(a, cycles[step], length);
        element_values(a, cycles[step], length);
        bodies(a, cycles[step], length);
    }
    current_cycle = 0;
    CHECK(!api.set_newStep(&step));
    CHECK(api.resultsCleanUp());
}

int main(int argc, char **argv) {
    library_handle library;
    if (argc != 4) {
        fprintf(stderr, "usage: %s <library> <plate_run directory> <tank_test directory>\n",
                argv[0]);
        return 2;
    }
#ifdef _WIN32
    library = LoadLibraryA(argv[1]);
    if (!library) {
        fprintf(stderr, "LoadLibrary %s: error %lu\n", argv[1], (unsigned long)GetLastError());
        return 1;
    }
#else
    library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        return 1;
    }
#endif
    if (!resolve(library)) return 1;

    CHECK(api.set_Startup());
    run(&plate, argv[2]);
    run(&tank, argv[3]);

#ifdef _WIN32
    FreeLibrary(library);
#else
    dlclose(library);
#endif
    if (failures) fprintf(stderr, "host_e2e: %d check(s) failed\n", failures);
    return failures ? 1 : 0;
}
