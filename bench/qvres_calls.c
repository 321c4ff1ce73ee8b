/* qvres_calls: the C side of bench/python_arrays.py. Times, with libqvres
 * alone, the calls that qvres.Analysis.node_values and .history make:
 *
 *   qvres_calls DIR CYCLE NODE_VARIABLE ELEMENT_VARIABLE ELEMENT REPEATS
 *
 * node_values: the count query and the read of the node reals of
 *   NODE_VARIABLE in CYCLE, the reader open, into a buffer allocated once.
 * history: for every cycle, open a reader, read the element reals of
 *   ELEMENT_VARIABLE into one reused buffer and keep value ELEMENT.
 * Prints "name seconds" per line: the fastest of REPEATS runs, the figure
 * least disturbed by other work on the machine. */
#define _POSIX_C_SOURCE 199309L
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "qvres.h"

/* The calling thread's CPU time: on a machine shared with other work, time
 * spent waiting for a core is not counted. */
static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return (double)t.tv_sec + 1e-9 * (double)t.tv_nsec;
}

static double fastest(const double *t, int n) {
    double best = t[0];
    for (int k = 1; k < n; ++k)
        if (t[k] < best) best = t[k];
    return best;
}

static void fail(const qvres_error *e) {
    fprintf(stderr, "qvres_calls: %s\n", e->message);
    exit(1);
}

int main(int argc, char **argv) {
    qvres_error e;
    qvres_analysis *a = NULL;
    qvres_model m;
    if (argc != 7) {
        fprintf(stderr, "usage: %s DIR CYCLE NODE_VARIABLE ELEMENT_VARIABLE ELEMENT REPEATS\n", argv[0]);
        return 2;
    }
    const int64_t cycle = atoll(argv[2]), element = atoll(argv[5]);
    const int repeats = atoi(argv[6]);
    const qvres_request nodes = {QVRES_NODE_REALS, atoi(argv[3]), 1};
    const qvres_request elements = {QVRES_ELEMENT_REALS, atoi(argv[4]), 1};
    double *t = malloc((size_t)repeats * sizeof *t);
    if (repeats < 1 || !t) return 2;
    if (qvres_open(argv[1], NULL, &a, &e) || qvres_get_model(a, &m, &e)) fail(&e);

    qvres_reader *r = NULL;
    int64_t count = 0;
    if (qvres_reader_open(a, cycle, &r, &e) || qvres_count_values(r, &nodes, &count, &e)) fail(&e);
    float *buffer = malloc((size_t)count * sizeof *buffer);
    for (int k = 0; k < repeats; ++k) {
        const double start = now();
        if (qvres_count_values(r, &nodes, &count, &e) ||
            qvres_read_float(r, &nodes, buffer, count, &e))
            fail(&e);
        t[k] = now() - start;
    }
    qvres_reader_close(r);
    printf("node_values %.9f\n", fastest(t, repeats));
    free(buffer);

    float *values = NULL, sum = 0.0f;
    int64_t capacity = 0;
    for (int k = 0; k < repeats; ++k) {
        const double start = now();
        for (int64_t c = 0; c < m.cycles; ++c) {
            if (qvres_reader_open(a, c, &r, &e) || qvres_count_values(r, &elements, &count, &e)) fail(&e);
            if (count > capacity) {
                free(values);
                if (!(values = malloc((size_t)count * sizeof *values))) return 1;
                capacity = count;
            }
            if (qvres_read_float(r, &elements, values, capacity, &e)) fail(&e);
            sum += values[element];
            qvres_reader_close(r);
        }
        t[k] = now() - start;
    }
    printf("history %.9f\n", fastest(t, repeats));
    fprintf(stderr, "(checksum %g)\n", (double)sum);
    free(values);
    free(t);
    qvres_close(a);
    return 0;
}
