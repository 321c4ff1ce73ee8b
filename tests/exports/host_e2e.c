/* A host program as a post-processor would be: it loads the library with
 * dlopen, resolves every export it calls by name, and runs the whole calling
 * order over the two analyses that write_host_analysis wrote beforehand:
 *
 *   host_e2e <library> <plate_run directory> <tank_test directory>
 *
 * The expected values follow the formulas stated at the top of
 * write_host_analysis.cpp; they are worked out here from the model's
 * layout, independently of the library. Every failed check is reported and
 * the run goes on; the exit status is 1 when any check failed. */
#include <dlfcn.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "results_api.h"

/* Every export this host calls, resolved by name at run time. */
#define HOST_EXPORTS(X)                                                        \
    X(set_Startup) X(set_BaseFilename) X(set_newStep) X(resultsCleanUp)        \
    X(setDataExtractionMode) X(getUnitSystem) X(getResultsFileVersion)         \
    X(get_NumNodes) X(get_NumSteps) X(get_NumStructuredParts)                  \
    X(get_NumUnstructuredParts) X(get_NumUnstructuredElements)                 \
    X(get_NumStructuredNodes) X(get_PartInfo) X(get_ElementPartConnectivity)   \
    X(get_NodePartConnectivity) X(get_UnstructuredElementConnectivity)         \
    X(get_ElementType) X(get_NumMaterials) X(get_MaterialName)                 \
    X(get_ZPnumElementTypes) X(get_ZPElementType) X(get_ZPElement)             \
    X(get_ZPElementNumNodes) X(getQuorvexElementNumber)                        \
    X(getQuorvexNodeNumber) X(get_NodeCoordinates) X(get_NodeDisplacements)    \
    X(get_IntNodeValues) X(get_FloatNodeValues) X(get_NodeErosion)             \
    X(get_IntElemValues) X(get_FloatElemValues) X(get_ElementMaterial)         \
    X(get_RigidBodyData) X(get_JointData) X(get_SetData) X(get_NumVariables)   \
    X(get_VariableInfo) X(get_isResultAvailable)

static struct {
#define HOST_DECLARE(name) __typeof__(&name) name;
    HOST_EXPORTS(HOST_DECLARE)
#undef HOST_DECLARE
} api;

static int failures = 0;
static int current_cycle = 0; /* named in failure reports */

#define CHECK(cond)                                                            \
    do {                                                                       \
        if (!(cond)) {                                                         \
            fprintf(stderr, "%s:%d: cycle %d: check failed: %s\n", __FILE__,  \
                    __LINE__, current_cycle, #cond);                           \
            ++failures;                                                        \
        }                                                                      \
    } while (0)

static int resolve(void *library) {
    void *symbol;
#define HOST_RESOLVE(name)                                                     \
    symbol = dlsym(library, #name);                                            \
    if (!symbol) {                                                             \
        fprintf(stderr, "export %s not found\n", #name);                       \
        return 0;                                                              \
    }                                                                          \
    memcpy(&api.name, &symbol, sizeof symbol);
    HOST_EXPORTS(HOST_RESOLVE)
#undef HOST_RESOLVE
    return 1;
}

/* ---- Comparisons -------------------------------------------------------- */

static int near(float got, double want) {
    return fabs((double)got - want) <= 1e-5 * fabs(want) + 1e-9;
}

/* n integers against the expected ones; the first mismatch is reported. */
static void expect_ints(const char *what, const int32_t *got, const int32_t *want, int n) {
    int i;
    for (i = 0; i < n; ++i) {
        if (got[i] != want[i]) {
            fprintf(stderr, "cycle %d: %s[%d] = %d, expected %d\n", current_cycle, what, i,
                    (int)got[i], (int)want[i]);
            ++failures;
            return;
        }
    }
}

static void expect_floats(const char *what, const float *got, const double *want, int n) {
    int i;
    for (i = 0; i < n; ++i) {
        if (!near(got[i], want[i])) {
            fprintf(stderr, "cycle %d: %s[%d] = %.9g, expected %.9g\n", current_cycle, what, i,
                    (double)got[i], want[i]);
            ++failures;
            return;
        }
    }
}

/* A count query that must succeed with `want`. */
static void expect_count(const char *what, bool (*query)(int32_t *), int32_t want) {
    int32_t value = -7;
    if (!query(&value) || value != want) {
        fprintf(stderr, "cycle %d: %s gave %d, expected %d\n", current_cycle, what, (int)value,
                (int)want);
        ++failures;
    }
}

/* ---- The "plate_run" analysis ------------------------------------------- */

/* Structured blocks in part order: part, I, J, K. */
static const int32_t plate_blocks[2][4] = {{1, 3, 3, 2}, {2, 2, 2, 3}};
enum {
    PLATE_SLOTS = 18 + 12,      /* 3*3*2 + 2*2*3 */
    PLATE_UNSTRUCTURED = 14,    /* nodes 1..14 of the connectivity */
    PLATE_NODES = PLATE_SLOTS + PLATE_UNSTRUCTURED,
    PLATE_ELEMENTS = 4,
    PLATE_CELLS = 4 + 2,        /* (3-1)(3-1)(2-1) + (2-1)(2-1)(3-1) */
    PLATE_STEPS = 4,
    SENTINEL = -12345
};
#define LENGTH_SCALE 1e-3 /* length code 1: millimetres */
#define STRESS_SCALE 1e3  /* (-1,-2,1): m - 2t - l = 0 - 0 + 3 */
#define POISON -1.0e6     /* stored in slots that carry no cell */

/* Mean index of the cells i and i+1 that exist (2..extent) around node
 * layer i: the cells around a node form a product set, so the average of a
 * linear cell formula is the formula at the mean indices. */
static double mean_cell(int i, int extent) {
    double sum = 0.0;
    int n = 0;
    if (i >= 2) {
        sum += i;
        ++n;
    }
    if (i + 1 <= extent) {
        sum += i + 1;
        ++n;
    }
    return sum / n;
}

static void plate_model_queries(void) {
    int32_t a = 0, b = 0, c = 0, part, elements, nodes;
    int32_t ni[3] = {0, 0, SENTINEL}, nj[3] = {0, 0, SENTINEL}, nk[3] = {0, 0, SENTINEL};
    int32_t ids[8], rows[8 * PLATE_ELEMENTS + 1], types[PLATE_ELEMENTS + 1], zp_nodes[8];
    float xyz[3 * PLATE_NODES + 1];
    double want_xyz[3 * PLATE_NODES];
    char name[9];
    int n;
    static const char *const part_names[4] = {"BLOCK   ", "BAR     ", "BRICKS  ", "SKIN    "};
    static const int32_t part_sizes[4][2] = {{4, 18}, {2, 12}, {2, 12}, {2, 6}};
    static const int32_t connectivity[8 * PLATE_ELEMENTS] = {
        1, 2, 3, 4, 5, 6, 7, 8, 5, 6, 7, 8, 9, 10, 11, 12,
        9, 10, 11, 12, 0, 0, 0, 0, 13, 14, 9, 0, 0, 0, 0, 0};

    CHECK(api.getUnitSystem(&a, &b, &c) && a == 1 && b == 3 && c == 3);
    CHECK(api.getResultsFileVersion(&a) && a == 140); /* layout level 5 */
    expect_count("structured parts", api.get_NumStructuredParts, 2);
    expect_count("unstructured parts", api.get_NumUnstructuredParts, 2);
    expect_count("nodes", api.get_NumNodes, PLATE_UNSTRUCTURED);
    expect_count("unstructured elements", api.get_NumUnstructuredElements, PLATE_ELEMENTS);
    CHECK(api.get_NumStructuredNodes(ni, nj, nk));
    CHECK(ni[0] == 3 && nj[0] == 3 && nk[0] == 2 && ni[1] == 2 && nj[1] == 2 && nk[1] == 3);
    CHECK(ni[2] == SENTINEL && nj[2] == SENTINEL && nk[2] == SENTINEL);

    for (part = 1; part <= 4; ++part) {
        int32_t p = part;
        strcpy(name, "........");
        elements = nodes = SENTINEL;
        CHECK(api.get_PartInfo(&p, &elements, &nodes, name));
        CHECK(elements == part_sizes[part - 1][0] && nodes == part_sizes[part - 1][1]);
        CHECK(strcmp(name, part_names[part - 1]) == 0);
    }
    part = 4;
    CHECK(api.get_ElementPartConnectivity(&part, ids) && ids[0] == 3 && ids[1] == 4);
    part = 4;
    CHECK(api.get_NodePartConnectivity(&part, ids));
    {
        /* SKIN: 9, 10, 11, 12 from the quadrilateral, then 13, 14. */
        static const int32_t skin_nodes[6] = {9, 10, 11, 12, 13, 14};
        expect_ints("SKIN nodes", ids, skin_nodes, 6);
    }
    rows[8 * PLATE_ELEMENTS] = SENTINEL;
    CHECK(api.get_UnstructuredElementConnectivity(rows));
    expect_ints("connectivity", rows, connectivity, 8 * PLATE_ELEMENTS);
    CHECK(rows[8 * PLATE_ELEMENTS] == SENTINEL);
    types[PLATE_ELEMENTS] = SENTINEL;
    CHECK(api.get_ElementType(types) && types[0] == 1 && types[1] == 1 && types[2] == 2 &&
          types[3] == 2 && types[4] == SENTINEL);

    expect_count("materials", api.get_NumMaterials, 2);
    a = 1;
    strcpy(name, "........");
    CHECK(api.get_MaterialName(&a, name) && strcmp(name, "STEEL   ") == 0);
    a = 3;
    CHECK(!api.get_MaterialName(&a, name) && a == -1);

    /* Hexahedra (kind 6), triangular (9) and quadrilateral shells (10),
     * numbered in kind order. */
    expect_count("element kinds", api.get_ZPnumElementTypes, 3);
    for (a = 1; a <= 4; ++a) {
        static const int32_t kind_of[5] = {0, 6, 9, 10, 0};
        b = SENTINEL;
        CHECK(api.get_ZPElementType(&a, &b) && b == kind_of[a]);
    }
    a = 30; /* element number of row 3, the quadrilateral */
    CHECK(api.get_ZPElement(&a, &b, zp_nodes) && b == 3);
    expect_ints("element 30", zp_nodes, connectivity + 16, 8);
    a = 40;
    CHECK(api.get_ZPElementNumNodes(&a, &b) && b == 3);
    a = 20;
    CHECK(api.getQuorvexElementNumber(&a, &b) && b == 2);
    a = 1044;
    CHECK(api.getQuorvexNodeNumber(&a, &b) && b == 44);

    /* Coordinates (n, 2n, 3n) in millimetres. */
    xyz[3 * PLATE_NODES] = SENTINEL;
    for (n = 0; n < PLATE_NODES; ++n) {
        want_xyz[3 * n] = n * LENGTH_SCALE;
        want_xyz[3 * n + 1] = 2 * n * LENGTH_SCALE;
        want_xyz[3 * n + 2] = 3 * n * LENGTH_SCALE;
    }
    CHECK(api.get_NodeCoordinates(xyz));
    expect_floats("coordinates", xyz, want_xyz, 3 * PLATE_NODES);
    CHECK(xyz[3 * PLATE_NODES] == SENTINEL);
}

/* Node values of cycle c: the integer node variable 26, the real node
 * variable 4 (a velocity: l - t = -3) and the displacements. */
static void plate_node_values(int32_t c) {
    int32_t ints[PLATE_NODES + 3], want_ints[PLATE_NODES + 2];
    float reals[3 * PLATE_NODES + 1];
    double want[3 * PLATE_NODES];
    int32_t variable, part = 1;
    int b, i, j, k, n, slot = 0;

    want_ints[0] = c;
    want_ints[1] = 26;
    for (n = 0; n < PLATE_NODES; ++n) want_ints[2 + n] = c + n;
    variable = 26;
    ints[PLATE_NODES + 2] = SENTINEL;
    CHECK(api.get_IntNodeValues(&variable, &part, ints) && variable == 26);
    expect_ints("integer node values", ints, want_ints, PLATE_NODES + 2);
    CHECK(ints[PLATE_NODES + 2] == SENTINEL);
    CHECK(api.get_NodeErosion(ints));
    expect_ints("node erosion", ints, want_ints, PLATE_NODES + 2);
    variable = 27; /* not stored: -1 over the variable */
    CHECK(!api.get_IntNodeValues(&variable, &part, ints) && variable == -1);

    /* Real node values: header pair unscaled, then the mean of the cell
     * formula c + 1000P + 100i + 10j + k around each structured node, then
     * c + 0.5u for the unstructured nodes; all x 10^-3. */
    want[0] = c;
    want[1] = 0.5;
    for (b = 0; b < 2; ++b) {
        const int32_t *blk = plate_blocks[b];
        for (i = 1; i <= blk[1]; ++i)
            for (j = 1; j <= blk[2]; ++j)
                for (k = 1; k <= blk[3]; ++k, ++slot)
                    want[2 + slot] = (c + 1000.0 * blk[0] + 100.0 * mean_cell(i, blk[1]) +
                                      10.0 * mean_cell(j, blk[2]) + mean_cell(k, blk[3])) *
                                     LENGTH_SCALE;
    }
    for (n = 0; n < PLATE_UNSTRUCTURED; ++n) want[2 + PLATE_SLOTS + n] = (c + 0.5 * n) * LENGTH_SCALE;
    variable = 4;
    reals[PLATE_NODES + 2] = SENTINEL;
    CHECK(api.get_FloatNodeValues(&variable, &part, reals) && variable == 4);
    expect_floats("real node values", reals, want, PLATE_NODES + 2);
    CHECK(reals[PLATE_NODES + 2] == SENTINEL);

    /* Displacements (c + n, -n, 0.5n) in millimetres; node 5 has none. */
    for (n = 0; n < PLATE_NODES; ++n) {
        want[3 * n] = n == 5 ? 0.0 : (c + n) * LENGTH_SCALE;
        want[3 * n + 1] = n == 5 ? 0.0 : -n * LENGTH_SCALE;
        want[3 * n + 2] = n == 5 ? 0.0 : 0.5 * n * LENGTH_SCALE;
    }
    reals[3 * PLATE_NODES] = SENTINEL;
    CHECK(api.get_NodeDisplacements(reals));
    expect_floats("displacements", reals, want, 3 * PLATE_NODES);
    CHECK(reals[3 * PLATE_NODES] == SENTINEL);
}

/* Element values of cycle c in both extraction modes: integer variable 10
 * (10000c + 1000P + 100i + 10j + k per slot, 10000c + 9000 + e) and real
 * variable 67 (c + 100P + 10i + j + 0.5k per element slot, c + 0.25e). */
static void plate_element_values(int32_t c) {
    enum { ALL = 2 + PLATE_SLOTS + PLATE_ELEMENTS, CELLS = 2 + PLATE_CELLS + PLATE_ELEMENTS };
    int32_t ints[ALL + 1], want_ints[ALL], want_cell_ints[CELLS];
    float reals[ALL + 1];
    double want[ALL], want_cells[CELLS];
    int32_t variable, part = 1, mode;
    int b, i, j, k, e, all = 2, cells = 2;

    want_ints[0] = want_cell_ints[0] = c;
    want_ints[1] = want_cell_ints[1] = 10;
    want[0] = want_cells[0] = c;
    want[1] = want_cells[1] = 67;
    for (b = 0; b < 2; ++b) {
        const int32_t *blk = plate_blocks[b];
        for (i = 1; i <= blk[1]; ++i)
            for (j = 1; j <= blk[2]; ++j)
                for (k = 1; k <= blk[3]; ++k, ++all) {
                    const int element = i >= 2 && j >= 2 && k >= 2;
                    const int32_t v = 10000 * c + 1000 * blk[0] + 100 * i + 10 * j + k;
                    const double r = (c + 100.0 * blk[0] + 10.0 * i + j + 0.5 * k) * STRESS_SCALE;
                    want_ints[all] = v;
                    want[all] = element ? r : POISON * STRESS_SCALE;
                    if (element) {
                        want_cell_ints[cells] = v;
                        want_cells[cells++] = r;
                    }
                }
    }
    for (e = 1; e <= PLATE_ELEMENTS; ++e, ++all, ++cells) {
        want_ints[all] = want_cell_ints[cells] = 10000 * c + 9000 + e;
        want[all] = want_cells[cells] = (c + 0.25 * e) * STRESS_SCALE;
    }

    /* Mode 0: element slots only. */
    variable = 10;
    ints[CELLS] = SENTINEL;
    CHECK(api.get_IntElemValues(&variable, &part, ints) && variable == 10);
    expect_ints("integer element values", ints, want_cell_ints, CELLS);
    CHECK(ints[CELLS] == SENTINEL);
    CHECK(api.get_ElementMaterial(ints));
    expect_ints("element material", ints, want_cell_ints, CELLS);
    variable = 67;
    reals[CELLS] = SENTINEL;
    CHECK(api.get_FloatElemValues(&variable, &part, reals) && variable == 67);
    expect_floats("real element values", reals, want_cells, CELLS);
    CHECK(reals[CELLS] == SENTINEL);

    /* Mode 1: every slot. */
    mode = 1;
    CHECK(api.setDataExtractionMode(&mode));
    variable = 10;
    ints[ALL] = SENTINEL;
    CHECK(api.get_IntElemValues(&variable, &part, ints));
    expect_ints("integer slot values", ints, want_ints, ALL);
    CHECK(ints[ALL] == SENTINEL);
    variable = 67;
    reals[ALL] = SENTINEL;
    CHECK(api.get_FloatElemValues(&variable, &part, reals));
    expect_floats("real slot values", reals, want, ALL);
    CHECK(reals[ALL] == SENTINEL);
    mode = 0;
    CHECK(api.setDataExtractionMode(&mode));
}

/* Rigid body 4 and joint 8 of cycle c. */
static void plate_bodies(int32_t c) {
    float record[17];
    double want[16];
    int32_t body = 4, joint = 8, quantity;
    int i;

    /* R a quarter turn about z; t = s.p - R.(s.c) with p = (c, 2, 3) and
     * c = (1, 0, 0): R.c = (0, 1, 0), so t = 10^-3 (c, 1, 3). */
    static const double turn[9] = {0, 1, 0, -1, 0, 0, 0, 0, 1};
    for (i = 0; i < 9; ++i) want[i] = turn[i];
    want[9] = c * LENGTH_SCALE;
    want[10] = 1 * LENGTH_SCALE;
    want[11] = 3 * LENGTH_SCALE;
    record[12] = SENTINEL;
    CHECK(api.get_RigidBodyData(&body, record));
    expect_floats("rigid body", record, want, 12);
    CHECK(record[12] == SENTINEL);

    /* Force triple (c, 2, 3) x 10^-3 (l - 2t + m = -3). */
    quantity = 1;
    for (i = 0; i < 17; ++i) record[i] = SENTINEL;
    want[0] = c * LENGTH_SCALE;
    want[1] = 2 * LENGTH_SCALE;
    want[2] = 3 * LENGTH_SCALE;
    CHECK(api.get_JointData(&joint, &quantity, record));
    expect_floats("joint force", record, want, 3);
    CHECK(record[3] == SENTINEL && record[15] == SENTINEL);
    /* In the joint frame: M.v = (-v2, v1, v3). */
    quantity = -1;
    want[0] = -2 * LENGTH_SCALE;
    want[1] = c * LENGTH_SCALE;
    CHECK(api.get_JointData(&joint, &quantity, record));
    expect_floats("joint force in its frame", record, want, 3);
    /* The frame as a homogeneous matrix. */
    quantity = 11;
    for (i = 0; i < 16; ++i) want[i] = 0.0;
    want[1] = 1;
    want[4] = -1;
    want[10] = 1;
    want[15] = 1;
    CHECK(api.get_JointData(&joint, &quantity, record));
    expect_floats("joint frame", record, want, 16);
    CHECK(record[16] == SENTINEL);
}

/* The result directory of every plate cycle. */
static void plate_variables(void) {
    static const char *const stored[4] = {"EROSION", "STRESS_XX", "X-VELOCITY", "MATERIAL"};
    static const int32_t indices[4] = {26, 67, 4, 10}, kinds[4] = {1, -2, 2, -1};
    char buffers[4][102];
    char *names[4];
    int32_t qualifiers[4], variables[4], entry_kinds[4], count = 0, entries = 0;
    int32_t code = -26, part = 1, kind = 1, exact = 0;
    int i;

    CHECK(api.get_NumVariables(&count, &entries) && count == 12 && entries == 4);
    for (i = 0; i < 4; ++i) {
        memset(buffers[i], 'Z', sizeof buffers[i]);
        names[i] = buffers[i];
    }
    CHECK(api.get_VariableInfo(qualifiers, names, variables, entry_kinds));
    for (i = 0; i < 4; ++i) {
        char want[100];
        memset(want, ' ', sizeof want);
        memcpy(want, stored[i], strlen(stored[i]));
        CHECK(memcmp(buffers[i], want, 100) == 0);
        CHECK(buffers[i][100] == 'Z');
        CHECK(qualifiers[i] == 1 && variables[i] == indices[i] && entry_kinds[i] == kinds[i]);
    }
    CHECK(api.get_isResultAvailable(&code, &part, &kind, &exact));
    kind = 2;
    CHECK(!api.get_isResultAvailable(&code, &part, &kind, &exact));
}

static void plate_run(const char *dir) {
    char path[1024];
    const int32_t mode = 1;
    int32_t cycles[PLATE_STEPS + 1], step = 0;
    float times[PLATE_STEPS + 1];
    int k;

    snprintf(path, sizeof path, "%s/plate_run_0001.qvres", dir);
    CHECK(api.set_BaseFilename(&mode, path, dir));
    plate_model_queries();

    /* Registered in time order whatever order the files were found in.
     * The arrays hold PLATE_STEPS values: nothing more runs with another
     * step count. */
    if (!api.get_NumSteps(&step) || step != PLATE_STEPS) {
        fprintf(stderr, "plate_run: %d steps registered, expected %d\n", (int)step, PLATE_STEPS);
        ++failures;
        return;
    }
    cycles[PLATE_STEPS] = SENTINEL;
    CHECK(api.get_SetData(cycles, times));
    for (k = 0; k < PLATE_STEPS; ++k) {
        CHECK(cycles[k] == 100 * (k + 1));
        CHECK(times[k] == (float)(k + 1)); /* time c / 100 seconds */
    }
    CHECK(cycles[PLATE_STEPS] == SENTINEL);

    for (step = 0; step < PLATE_STEPS; ++step) {
        current_cycle = cycles[step];
        CHECK(api.set_newStep(&step));
        plate_variables();
        plate_node_values(cycles[step]);
        plate_element_values(cycles[step]);
        plate_bodies(cycles[step]);
    }
    current_cycle = 0;
    step = PLATE_STEPS;
    CHECK(!api.set_newStep(&step));
    CHECK(api.resultsCleanUp());
}

/* ---- The "tank_test" analysis ------------------------------------------- */

static void tank_test(const char *dir) {
    enum { NODES = 8 + 4 };
    char path[1024];
    const int32_t mode = 1;
    int32_t cycles[3] = {SENTINEL, SENTINEL, SENTINEL}, values[NODES + 2], want[NODES + 2];
    int32_t a = 0, b = 0, c = 0, variable, part = 1, step = 0;
    float times[2], xyz[3 * NODES], record[16];
    double want_xyz[3 * NODES];
    int n;

    snprintf(path, sizeof path, "%s/tank_test_0002.qvres", dir);
    CHECK(api.set_BaseFilename(&mode, path, dir));
    CHECK(api.getUnitSystem(&a, &b, &c) && a == 3 && b == 3 && c == 3); /* none stated */
    expect_count("tank structured parts", api.get_NumStructuredParts, 1);
    expect_count("tank unstructured parts", api.get_NumUnstructuredParts, 1);
    expect_count("tank nodes", api.get_NumNodes, 4);
    expect_count("tank unstructured elements", api.get_NumUnstructuredElements, 1);
    expect_count("tank materials", api.get_NumMaterials, 1);
    expect_count("tank element kinds", api.get_ZPnumElementTypes, 1);
    a = 1;
    CHECK(api.get_ZPElementType(&a, &b) && b == 5); /* a tetrahedron */
    for (n = 0; n < NODES; ++n) {
        want_xyz[3 * n] = n;
        want_xyz[3 * n + 1] = n + 1;
        want_xyz[3 * n + 2] = n + 2;
    }
    CHECK(api.get_NodeCoordinates(xyz));
    expect_floats("tank coordinates", xyz, want_xyz, 3 * NODES);

    if (!api.get_NumSteps(&step) || step != 2) {
        fprintf(stderr, "tank_test: %d steps registered, expected 2\n", (int)step);
        ++failures;
        return;
    }
    CHECK(api.get_SetData(cycles, times));
    CHECK(cycles[0] == 2 && cycles[1] == 5 && cycles[2] == SENTINEL);
    CHECK(times[0] == 0.25f && times[1] == 0.5f);

    for (step = 0; step < 2; ++step) {
        current_cycle = cycles[step];
        CHECK(api.set_newStep(&step));
        want[0] = cycles[step];
        want[1] = 28;
        for (n = 0; n < NODES; ++n) want[2 + n] = 2 * n + cycles[step];
        variable = 28;
        CHECK(api.get_IntNodeValues(&variable, &part, values) && variable == 28);
        expect_ints("tank node values", values, want, NODES + 2);
        /* No rigid body or joint sections in these cycles. */
        a = 1;
        b = 1;
        record[0] = SENTINEL;
        CHECK(!api.get_RigidBodyData(&a, record) && record[0] == SENTINEL);
        CHECK(!api.get_JointData(&a, &b, record) && record[0] == SENTINEL);
    }
    current_cycle = 0;
    CHECK(api.resultsCleanUp());
}

int main(int argc, char **argv) {
    void *library;
    if (argc != 4) {
        fprintf(stderr, "usage: %s <library> <plate_run directory> <tank_test directory>\n",
                argv[0]);
        return 2;
    }
    library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        fprintf(stderr, "dlopen: %s\n", dlerror());
        return 1;
    }
    if (!resolve(library)) return 1;

    CHECK(api.set_Startup());
    plate_run(argv[2]);
    tank_test(argv[3]);

    dlclose(library);
    if (failures) fprintf(stderr, "host_e2e: %d check(s) failed\n", failures);
    return failures ? 1 : 0;
}
