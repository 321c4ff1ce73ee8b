/* host.c: name an analysis, list its cycles and the peak pressure of each.
 * Build: cc host.c $(pkg-config --cflags --libs results_api)
 * Run:   ./a.out out/sample/sample_run_0.qvres out/sample */
#include <stdio.h>
#include <stdlib.h>

#include "results_api.h"

int main(int argc, char **argv) {
    const int32_t mode = 1; /* load the model and register every cycle file */
    int32_t steps = 0, parts = 0, elements = 0, k, p;
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

    /* Size every array from its count query. */
    int32_t *ni = calloc(parts + 1, sizeof *ni), *nj = calloc(parts + 1, sizeof *nj);
    int32_t *nk = calloc(parts + 1, sizeof *nk), *cycles = calloc(steps + 1, sizeof *cycles);
    float *times = calloc(steps + 1, sizeof *times);
    get_NumStructuredNodes(ni, nj, nk);
    get_SetData(cycles, times);
    long values = 2 + elements; /* the header pair, then one value per element */
    for (p = 0; p < parts; ++p) values += (long)(ni[p] - 1) * (nj[p] - 1) * (nk[p] - 1);
    float *pressure = calloc(values, sizeof *pressure);

    int status = 0;
    for (k = 0; k < steps && status == 0; ++k) {
        int32_t variable = 64, part = 1; /* pressure, stored for part 1 */
        if (!set_newStep(&k) || !get_FloatElemValues(&variable, &part, pressure)) {
            fprintf(stderr, "cannot read the pressure of cycle %d\n", cycles[k]);
            status = 1;
            break;
        }
        float peak = pressure[2];
        for (long e = 3; e < values; ++e)
            if (pressure[e] > peak) peak = pressure[e];
        printf("cycle %5d  t = %.3e s  peak pressure %.4g Pa\n", cycles[k], times[k], peak);
    }
    free(ni), free(nj), free(nk), free(cycles), free(times), free(pressure);
    resultsCleanUp();
    return status;
}
