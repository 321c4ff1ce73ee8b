// A C host calls every export before naming an analysis: each must answer
// with its fail marker and leave alone what it does not own.
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

int main(void) {
    const int32_t zero = 0, one = 1, minus_one = -1, kind = 2;
    int32_t a = 9, b = 9, c = 9, part = 1, variable = 5, ids[4] = {3, 3, 3, 3};
    int32_t nodes[8] = {4, 4, 4, 4, 4, 4, 4, 4}, q[1], v[1], k[1];
    float xyz[16] = {1.5f, 1.5f}, ratio = 2.5f;
    char name[8] = "abcdef", buffer[101];
    char *names[1];
    size_t i;
    bool (*const count_queries[])(int32_t *) = {
        get_NumNodes,           get_NumSteps,         get_NumStructuredParts,
        get_NumUnstructuredParts, get_NumUnstructuredNodes, get_NumUnstructuredElements,
        get_NumElements,        get_NumMaterials,     get_ZPnumElementTypes};
    bool (*const int_values[])(int32_t *, const int32_t *, int32_t *) = {
        get_IntNodeValues, get_IntElemValues, get_LayerIntElemValues};
    bool (*const float_values[])(int32_t *, const int32_t *, float *) = {
        get_FloatNodeValues, get_FloatElemValues};
    bool (*const int_arrays[])(int32_t *) = {
        get_UnstructuredElementConnectivity, get_ElementType, get_NodeErosion,
        get_ElementErosion, get_ElementMaterial, get_ElementStatus};
    bool (*const lookups[])(const int32_t *, int32_t *) = {
        getEulerMatFracIDforQVMaterial, getQVMaterialforEulerMatFracID,
        getQuorvexElementNumber, getQuorvexNodeNumber};

    // Session.
    CHECK(set_Startup());
    CHECK(!set_BaseFilename(&zero, "", "."));
    CHECK(!set_ResultsFilename(""));
    CHECK(!set_newStep(&zero) && !set_newStep(&minus_one));
    CHECK(setDataExtractionMode(&one));

    // Counts: -1 each.
    for (i = 0; i < sizeof count_queries / sizeof count_queries[0]; ++i) {
        c = 42;
        CHECK(!count_queries[i](&c) && c == -1);
    }
    a = b = c = 9;
    CHECK(!get_NumStructuredNodes(&a, &b, &c) && a == 9 && b == 9 && c == 9);
    CHECK(!get_NumStructuredElements() && !get_NumMaterialInElement());
#ifndef _WIN32
    // The two names are one function. (A DLL defines them as two functions
    // that answer alike.)
    CHECK(get_NumStructuredElements == get_NumMaterialInElement);
#endif

    // Attributes: zeros where the function writes any.
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
    CHECK(getParallelTaskInformation(ids) && ids[0] == 3);
    a = 9;
    CHECK(!getPyramidTetPairId(&one, &a) && a == 0);

    // Parts: -1 over an in/out part number, nothing into the lists.
    a = b = 7;
    CHECK(!get_PartInfo(&part, &a, &b, name) && part == 1 && a == 7 && b == 7);
    CHECK(!get_ElementPartConnectivity(&part, ids) && part == -1 && ids[0] == 3);
    part = 1;
    CHECK(!get_NodePartConnectivity(&part, ids) && part == -1 && ids[0] == 3);
    for (i = 0; i < sizeof int_arrays / sizeof int_arrays[0]; ++i)
        CHECK(!int_arrays[i](ids) && ids[0] == 3);

    // Values: -1 over the variable, the const part or sublayer untouched.
    CHECK(!get_NodeCoordinates(xyz) && !get_NodeDisplacements(xyz) && xyz[0] == 1.5f);
    for (i = 0; i < sizeof int_values / sizeof int_values[0]; ++i) {
        variable = 5;
        CHECK(!int_values[i](&variable, &zero, ids) && variable == -1 && ids[0] == 3);
    }
    for (i = 0; i < sizeof float_values / sizeof float_values[0]; ++i) {
        variable = 5;
        CHECK(!float_values[i](&variable, &one, xyz) && variable == -1 && xyz[0] == 1.5f);
    }

    // Materials, element kinds and numbering.
    part = 1;
    CHECK(!get_MaterialName(&part, name) && part == -1 && strcmp(name, "abcdef") == 0);
    CHECK(!get_MaterialFractions(&one, xyz) && xyz[0] == 1.5f);
    CHECK(!getMaterialPoissonRatio(&one, &ratio) && ratio == 2.5f);
    CHECK(!getEulerMatFracBodyName(&one, name) && strcmp(name, "abcdef") == 0);
    for (i = 0; i < sizeof lookups / sizeof lookups[0]; ++i) {
        a = 9;
        CHECK(!lookups[i](&one, &a) && a == -1);
    }
    a = 9;
    CHECK(!get_ZPElementType(&one, &a) && a == 9);
    CHECK(!get_ZPElement(&one, &a, nodes) && a == 9 && nodes[0] == 4);
    CHECK(!get_ZPElementNumNodes(&one, &a) && a == 0);

    // Cycle data.
    a = 7;
    CHECK(!get_JointData(&one, &one, xyz) && !get_RigidBodyData(&one, xyz) && xyz[0] == 1.5f);
    CHECK(!get_SetData(&a, xyz) && a == -1 && xyz[0] == 1.5f);
    a = b = 9;
    CHECK(!get_NumVariables(&a, &b) && a == -1 && b == -1);
    names[0] = buffer;
    CHECK(!get_VariableInfo(q, names, v, k));
    CHECK(!get_isResultAvailable(&one, &one, &kind, &zero));

    CHECK(resultsCleanUp());
    if (failures) fprintf(stderr, "%d checks failed\n", failures);
    return failures ? 1 : 0;
}
