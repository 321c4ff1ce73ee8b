/* qvres_host.c: open an analysis, list its cycles and the peak pressure of each.
 * Build: cc qvres_host.c $(pkg-config --cflags --libs qvres)
 * Run:   ./a.out out/sample */
#include <stdio.h>
#include <stdlib.h>

#include "qvres.h"

int main(int argc, char **argv) {
    qvres_error error;
    qvres_analysis *analysis = NULL;
    qvres_model model;
    int64_t k;
    if (argc != 2) {
        fprintf(stderr, "usage: %s FILE_OR_DIRECTORY\n", argv[0]);
        return 2;
    }
    if (qvres_open(argv[1], NULL, &analysis, &error) != QVRES_OK) {
        fprintf(stderr, "%s\n", error.message);
        return 1;
    }
    qvres_get_model(analysis, &model, &error);
    for (k = 0; k < model.skipped_files; ++k) {
        qvres_skipped_file skipped;
        qvres_get_skipped_file(analysis, k, &skipped, &error);
        fprintf(stderr, "skipped %s\n", skipped.reason);
    }

    int status = 0;
    for (k = 0; k < model.cycles && status == 0; ++k) {
        qvres_cycle cycle;
        qvres_reader *reader = NULL;
        /* Pressure (real variable 64) of the elements, stored for part 1. */
        const qvres_request pressure = {QVRES_ELEMENT_REALS, 64, 1};
        int64_t count = 0;
        float *values = NULL;
        qvres_get_cycle(analysis, k, &cycle, &error);
        if (qvres_reader_open(analysis, k, &reader, &error) != QVRES_OK ||
            qvres_count_values(reader, &pressure, &count, &error) != QVRES_OK ||
            !(values = malloc((count + 1) * sizeof *values)) ||
            qvres_read_float(reader, &pressure, values, count, &error) != QVRES_OK) {
            fprintf(stderr, "cycle %d: %s\n", cycle.number, values ? error.message : "no memory");
            status = 1;
        } else {
            /* One value per element (the stored header pair is not among
             * them: qvres_read_header_float gives it). */
            float peak = count > 0 ? values[0] : 0.0f;
            for (int64_t e = 1; e < count; ++e)
                if (values[e] > peak) peak = values[e];
            printf("cycle %5d  t = %.3e s  peak pressure %.4g Pa\n", cycle.number, cycle.time,
                   peak);
        }
        free(values);
        qvres_reader_close(reader);
    }
    qvres_close(analysis);
    return status;
}
