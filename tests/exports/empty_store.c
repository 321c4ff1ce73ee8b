/* A C host calls every export before naming an analysis: each must answer
 * with its fail marker and leave alone what it does not own. */
#include <stdio.h>
#include <string.h>

#include "results_api.h"

static int failures = 0;

#define CHECK(cond)                                                            \
    do {                                                                       \
        if (!(cond)) {                                                         \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__,   \
                    #cond);                                                    \
            ++failures;                                                        \
        }                                                                      \
    } while (0)

static void counts(void) {
    int32_t c;
    bool (*const count_queries[])(int32_t *) = {
        get_NumNodes,       get_NumSteps,           get_NumStructuredParts,
        get_NumUnstructuredParts, get_NumUnstructuredNodes,
        get_NumUnstructuredElements, get_NumElements, get_NumMaterials,
        get_ZPnumElementTypes};
    size_t i;
    for (i = 0; i < sizeof count_queries / sizeof count_queries[0]; ++i) {
        c = 42;
        CHECK(!count_queries[i](&c));
        CHECK(c == -1);
    }
    {
        int32_t a[1] = {7}, b[1] = {7}, k[1] = {7};
        CHECK(!get_NumStructuredNodes(a, b, k));
        CHECK(a[0] == 7 && b[0] == 7 && k[0] == 7);
    }
    CHECK(!get_NumStructuredElements());
    CHECK(!get_NumMaterialInElement());
}

static void session(void) {
    const int32_t mode0 = 0, step0 = 0, step_neg = -1;
    CHECK(set_Startup());
    CHECK(!set_BaseFilename(&mode0, "", "."));
    CHECK(!set_ResultsFilename(""));
    CHECK(!set_newStep(&step0));
    CHECK(!set_newStep(&step_neg));
    {
        const int32_t mode1 = 1;
        CHECK(setDataExtractionMode(&mode1));
    }
}

static void attributes(void) {
    int32_t a = 9, b = 9, c = 9, info[2] = {5, 5};
    const int32_t one = 1;
    CHECK(!getResultsFileVersion(&a) && a == 0);
    a = b = c = 9;
    CHECK(getUnitSystem(&a, &b, &c) && a == 0 && b == 0 && c == 0);
    a = b = 9;
    CHECK(getModelSymmetry(&a, &b) && a == 0 && b == 0);
    a = b = 9;
    CHECK(!getInputResultSwitches(&a, &b) && a == 0 && b == 0);
    CHECK(!hasParallelTaskInfo());
    a = 9;
    CHECK(getParallelTaskInfoSize(&a) && a == 0);
    CHECK(getParallelTaskInformation(info) && info[0] == 5 && info[1] == 5);
    a = 9;
    CHECK(!getPyramidTetPairId(&one, &a) && a == 0);
}

static void parts(void) {
    int32_t part = 1, e = 7, n = 7, ids[4] = {3, 3, 3, 3};
    char name[8] = "abc";
    CHECK(!get_PartInfo(&part, &e, &n, name));
    CHECK(part == 1 && e == 7 && n == 7 && strcmp(name, "abc") == 0);
    CHECK(!get_ElementPartConnectivity(&part, ids) && part == -1 && ids[0] == 3);
    part = 1;
    CHECK(!get_NodePartConnectivity(&part, ids) && part == -1 && ids[0] == 3);
    CHECK(!get_UnstructuredElementConnectivity(ids) && ids[0] == 3);
    CHECK(!get_ElementType(ids) && ids[0] == 3);
}

static void values(void) {
    float xyz[3] = {1.5f, 1.5f, 1.5f};
    int32_t ivals[4] = {3, 3, 3, 3};
    int32_t variable = 5;
    const int32_t part = 1, sublayer = 0;
    CHECK(!get_NodeCoordinates(xyz) && xyz[0] == 1.5f);
    CHECK(!get_NodeDisplacements(xyz) && xyz[0] == 1.5f);
    CHECK(!get_IntNodeValues(&variable, &part, ivals) && variable == -1 && part == 1);
    variable = 5;
    CHECK(!get_FloatNodeValues(&variable, &part, xyz) && variable == -1);
    CHECK(!get_NodeErosion(ivals) && ivals[0] == 3);
    variable = 5;
    CHECK(!get_IntElemValues(&variable, &part, ivals) && variable == -1);
    variable = 5;
    CHECK(!get_FloatElemValues(&variable, &part, xyz) && variable == -1);
    CHECK(!get_ElementErosion(ivals) && !get_ElementMaterial(ivals) && !get_ElementStatus(ivals));
    CHECK(ivals[0] == 3);
    variable = 5;
    CHECK(!get_LayerIntElemValues(&variable, &sublayer, ivals) && variable == -1 &&
          sublayer == 0);
}

static void materials(void) {
    int32_t material = 1, out = 9;
    const int32_t one = 1;
    float ratio = 2.5f, fractions[2] = {1.5f, 1.5f};
    char name[8] = "abcdef";
    CHECK(!get_MaterialName(&material, name) && material == -1 && strcmp(name, "abcdef") == 0);
    CHECK(!get_MaterialFractions(&one, fractions) && fractions[0] == 1.5f);
    CHECK(!getMaterialPoissonRatio(&one, &ratio) && ratio == 2.5f);
    CHECK(!getEulerMatFracBodyName(&one, name) && strcmp(name, "abcdef") == 0);
    CHECK(!getEulerMatFracIDforQVMaterial(&one, &out) && out == -1);
    out = 9;
    CHECK(!getQVMaterialforEulerMatFracID(&one, &out) && out == -1);
}

static void element_kinds(void) {
    const int32_t one = 1;
    int32_t type = 9, nodes[8] = {4, 4, 4, 4, 4, 4, 4, 4}, count = 9, number = 9;
    CHECK(!get_ZPElementType(&one, &type) && type == 9);
    CHECK(!get_ZPElement(&one, &type, nodes) && type == 9 && nodes[0] == 4);
    CHECK(!get_ZPElementNumNodes(&one, &count) && count == 0);
    CHECK(!getQuorvexElementNumber(&one, &number) && number == -1);
    number = 9;
    CHECK(!getQuorvexNodeNumber(&one, &number) && number == -1);
}

static void cycle_data(void) {
    const int32_t one = 1;
    float record[16];
    int32_t cycles[1] = {7}, variables = 9, entries = 9, q[1], v[1], k[1];
    float times[1] = {2.5f};
    char buffer[101];
    char *names[1];
    const int32_t kind = 2, exact = 0;
    memset(record, 0, sizeof record);
    record[0] = 3.0f;
    names[0] = buffer;
    CHECK(!get_JointData(&one, &one, record) && record[0] == 3.0f);
    CHECK(!get_RigidBodyData(&one, record) && record[0] == 3.0f);
    CHECK(!get_SetData(cycles, times) && cycles[0] == -1 && times[0] == 2.5f);
    CHECK(!get_NumVariables(&variables, &entries) && variables == -1 && entries == -1);
    CHECK(!get_VariableInfo(q, names, v, k));
    CHECK(!get_isResultAvailable(&one, &one, &kind, &exact));
}

int main(void) {
    session();
    counts();
    attributes();
    parts();
    values();
    materials();
    element_kinds();
    cycle_data();
    CHECK(resultsCleanUp());
    /* The two names are one function. */
    CHECK(get_NumStructuredElements == get_NumMaterialInElement);
    if (failures) fprintf(stderr, "%d checks failed\n", failures);
    return failures ? 1 : 0;
}
