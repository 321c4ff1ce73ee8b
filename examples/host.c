/* host.c: name an analysis, list its cycles and the peak pressure and
 * temperature of each.
 * Build: cc host.c $(pkg-config --cflags --libs results_api)
 * Run:   ./a.out out/sample/sample_run_0.qvres out/sample */
#include <stdio.h>
#include <stdlib.h>

#include "results_api.h"

/* How many values get_FloatElemValues writes for `variable` in the default
 * mode: the header pair; for each structured part its elements when I, J
 * and K are all 2 or more, or its J x K slots when I is 1, each of them
 * taking one value, or for a multi-material variable one per reported
 * material and then its own; then one value per unstructured element. */
static long real_element_values(int32_t variable, int32_t parts, const int32_t *ni,
                                const int32_t *nj, const int32_t *nk, int32_t elements) {
    long per_slot = 1, slots = 0;
    int32_t p, m, materials = 0, id;
    switch (variable) {
    case 54: case 81: case 83: case 85: case 86: case 87: case 88: case 89:
        get_NumMaterials(&materials);
        for (m = 1; m <= materials; ++m)
            if (getEulerMatFracIDforQVMaterial(&m, &id)) ++per_slot; /* id >= 0: reported */
        break;
    default:
        break;
    }
    for (p = 0; p < parts; ++p) {
        if (ni[p] >= 2 && nj[p] >= 2 && nk[p] >= 2)
            slots += (long)(ni[p] - 1) * (nj[p] - 1) * (nk[p] - 1);
        else if (ni[p] == 1)
            slots += (long)nj[p] * nk[p];
    }
    return 2 + per_slot * slots + elements;
}

int main(int argc, char **argv) {
    const int32_t mode = 1; /* load the model and register every cycle file */
    const int32_t variables[2] = {64, 86}; /* pressure; temperature, per material */
    int32_t steps = 0, parts = 0, elements = 0, k, v;
    if (argc != 3) {
        fprintf(stderr, "usage: %s CYCLE_FILE DIRECTORY\n", argv[0]);
        return 2;
    }
    set_Startup();
    if (!set_BaseFilename(&mode, argv[1], argv[2])) {
        fprintf(stderr, "cannot open the analysis of %s\n", argv[1]);
        return 1;
    }
    get_NumSteps(&steps);
    get_NumStructuredParts(&parts);
    get_NumUnstructuredElements(&elements);

    /* Size every array from the count queries. */
    int32_t *ni = calloc(parts + 1, sizeof *ni), *nj = calloc(parts + 1, sizeof *nj);
    int32_t *nk = calloc(parts + 1, sizeof *nk), *cycles = calloc(steps + 1, sizeof *cycles);
    float *times = calloc(steps + 1, sizeof *times);
    get_NumStructuredNodes(ni, nj, nk);
    get_SetData(cycles, times);
    long count[2];
    float *values[2];
    for (v = 0; v < 2; ++v) {
        count[v] = real_element_values(variables[v], parts, ni, nj, nk, elements);
        values[v] = calloc(count[v], sizeof *values[v]);
    }

    int status = 0;
    for (k = 0; k < steps && status == 0; ++k) {
        float peak[2] = {0.0f, 0.0f};
        if (!set_newStep(&k)) status = 1;
        for (v = 0; v < 2 && status == 0; ++v) {
            int32_t variable = variables[v], part = 1; /* stored for part 1 */
            if (!get_FloatElemValues(&variable, &part, values[v])) {
                status = 1;
                break;
            }
            peak[v] = values[v][2]; /* behind the header pair; every value counts */
            for (long e = 3; e < count[v]; ++e)
                if (values[v][e] > peak[v]) peak[v] = values[v][e];
        }
        if (status != 0) {
            fprintf(stderr, "cannot read cycle %d\n", cycles[k]);
            break;
        }
        printf("cycle %5d  t = %.3e s  peak pressure %.4g Pa  peak temperature %.4g K\n",
               cycles[k], times[k], peak[0], peak[1]);
    }
    free(ni), free(nj), free(nk), free(cycles), free(times), free(values[0]), free(values[1]);
    resultsCleanUp();
    return status;
}
