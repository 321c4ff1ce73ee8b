/* exports_host.c: a host of the 59 exports as the header asks hosts to be:
 * names an analysis, sizes every array from the count queries, selects each
 * cycle and reads every entry of its result directory, then cleans up.
 * Usage: exports_host PATH DIRECTORY. Exit 0 when everything read, 1 when a
 * call failed (named on stderr with PATH), never a signal. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "results_api.h"

static const char *g_path = "";

static int fail(const char *what) {
    fprintf(stderr, "exports_host: %s failed for %s\n", what, g_path);
    return 1;
}

/* calloc of `count` items, at least one; the library writes what it has
 * read, so untouched pages of a large array stay unmapped. */
static void *array(int64_t count, size_t size) {
    if (count < 0) return NULL;
    return calloc((size_t)count + 1, size);
}

int main(int argc, char **argv) {
    const int32_t mode = 1;
    int32_t steps = -1, parts = -1, uparts = -1, nodes = -1, elements = -1, materials = -1;
    int32_t p, m, k, reported = 0;
    int64_t slots = 0, cells = 0, planes = 0, failures = 0;
    if (argc != 3) {
        fprintf(stderr, "usage: exports_host PATH DIRECTORY\n");
        return 2;
    }
    g_path = argv[1];
    set_Startup();
    if (!set_BaseFilename(&mode, argv[1], argv[2])) return fail("set_BaseFilename");
    if (!get_NumSteps(&steps) || !get_NumStructuredParts(&parts) ||
        !get_NumUnstructuredParts(&uparts) || !get_NumNodes(&nodes) ||
        !get_NumUnstructuredElements(&elements) || !get_NumMaterials(&materials))
        return fail("a count query");

    int32_t *ni = array(parts, 4), *nj = array(parts, 4), *nk = array(parts, 4);
    int32_t *cycles = array(steps, 4);
    float *times = array(steps, 4);
    if (!ni || !nj || !nk || !cycles || !times) return fail("allocation");
    if (!get_NumStructuredNodes(ni, nj, nk)) return fail("get_NumStructuredNodes");
    for (p = 0; p < parts; ++p) {
        slots += (int64_t)ni[p] * nj[p] * nk[p];
        if (ni[p] >= 2 && nj[p] >= 2 && nk[p] >= 2)
            cells += (int64_t)(ni[p] - 1) * (nj[p] - 1) * (nk[p] - 1);
        else if (ni[p] == 1)
            planes += (int64_t)nj[p] * nk[p];
    }
    for (m = 1; m <= materials; ++m) {
        int32_t id = -1, mm = m;
        char name[36];
        memset(name, ' ', 35);
        name[35] = '\0';
        if (getEulerMatFracIDforQVMaterial(&mm, &id)) ++reported;
        mm = m;
        get_MaterialName(&mm, name);
    }
    for (p = 1; p <= parts + uparts; ++p) {
        int32_t e = 0, n = 0;
        char name[36];
        memset(name, ' ', 35);
        name[35] = '\0';
        if (!get_PartInfo(&p, &e, &n, name)) ++failures;
    }

    /* Coordinates: 3 * (T + every node) covers both forms of N. */
    float *xyz = array(3 * (slots + nodes), 4);
    int32_t *connectivity = array(8 * (int64_t)elements, 4), *types = array(elements, 4);
    if (!xyz || !connectivity || !types) return fail("allocation");
    if (!get_NodeCoordinates(xyz)) ++failures;
    if (elements > 0 && (!get_UnstructuredElementConnectivity(connectivity) || !get_ElementType(types)))
        ++failures;
    if (!get_SetData(cycles, times)) return fail("get_SetData");

    for (k = 0; k < steps; ++k) {
        int32_t variables = -1, entries = -1, e, unodes = -1;
        if (!set_newStep(&k)) return fail("set_newStep");
        if (!get_NumNodes(&unodes) || !get_NumVariables(&variables, &entries))
            return fail("a cycle count query");
        const int64_t n_all = slots + unodes;
        /* The largest value array any getter writes in mode 0 or 1. */
        int64_t most = 2 + n_all;
        const int64_t per_material = 2 + (int64_t)(reported + 1) * (cells + planes) + elements;
        if (per_material > most) most = per_material;
        if (2 + slots + elements > most) most = 2 + slots + elements;
        float *values = array(most, 4), *displacements = array(3 * n_all, 4);
        int32_t *ints = array(most, 4), *qualifiers = array(entries, 4), *indices = array(entries, 4);
        int32_t *kinds = array(entries, 4);
        char *text = array((int64_t)entries * 101, 1);
        char **names = array(entries, sizeof(char *));
        if (!values || !displacements || !ints || !qualifiers || !indices || !kinds || !text || !names)
            return fail("allocation");
        for (e = 0; e < entries; ++e) names[e] = text + (size_t)e * 101;
        if (!get_NodeDisplacements(displacements)) ++failures;
        if (!get_VariableInfo(qualifiers, names, indices, kinds)) return fail("get_VariableInfo");
        for (e = 0; e < entries; ++e) {
            int32_t variable = indices[e];
            const int32_t part = qualifiers[e] < 0 ? -qualifiers[e] : qualifiers[e];
            int ok = 1;
            switch (kinds[e]) {
            case 1: ok = get_IntNodeValues(&variable, &part, ints); break;
            case 2: ok = get_FloatNodeValues(&variable, &part, values); break;
            case -1:
                ok = qualifiers[e] < 0 ? get_LayerIntElemValues(&variable, &qualifiers[e], ints)
                                       : get_IntElemValues(&variable, &part, ints);
                break;
            case -2: ok = get_FloatElemValues(&variable, &part, values); break;
            default: break;
            }
            if (!ok) {
                fprintf(stderr, "exports_host: entry %d (variable %d, kind %d) of step %d failed for %s\n",
                        e, indices[e], kinds[e], k, g_path);
                ++failures;
            }
        }
        for (m = 1; m <= materials; ++m) get_MaterialFractions(&m, values);
        free(values), free(displacements), free(ints), free(qualifiers), free(indices), free(kinds);
        free(text), free(names);
    }
    free(ni), free(nj), free(nk), free(cycles), free(times), free(xyz), free(connectivity), free(types);
    resultsCleanUp();
    if (failures > 0) {
        fprintf(stderr, "exports_host: %lld reads failed for %s\n", (long long)failures, g_path);
        return 1;
    }
    printf("exports_host: %d steps read\n", steps);
    return 0;
}
