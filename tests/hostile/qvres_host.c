/* qvres_host.c: a host of libqvres that reads everything an analysis holds:
 * the model, and for every cycle the count, values and layout of every
 * entry of its result directory and the displacements. Every buffer is
 * sized from a count query that succeeded. Usage: qvres_host PATH. Exit 0
 * when everything read, 1 with the library's messages on stderr. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include "qvres.h"

static int64_t failures = 0;

static void report(const char *what, const qvres_error *error) {
    fprintf(stderr, "qvres_host: %s: %s\n", what, error->message);
    ++failures;
}

static void read_request(qvres_reader *reader, const qvres_request *q, int integer) {
    qvres_error error;
    qvres_layout layout;
    int64_t count = -1, b;
    if (qvres_count_values(reader, q, &count, &error) != QVRES_OK) {
        report("count", &error);
        return;
    }
    void *values = malloc((size_t)count * 4 + 4);
    if (!values) {
        fprintf(stderr, "qvres_host: no memory for %lld values\n", (long long)count);
        ++failures;
        return;
    }
    const qvres_status s = integer ? qvres_read_int32(reader, q, values, count, &error)
                                   : qvres_read_float(reader, q, values, count, &error);
    if (s != QVRES_OK) report("read", &error);
    free(values);
    if (qvres_get_layout(reader, q, &layout, &error) != QVRES_OK) {
        report("layout", &error);
        return;
    }
    for (b = 0; b < layout.blocks; ++b) {
        qvres_layout_block block;
        if (qvres_get_layout_block(reader, q, b, &block, &error) != QVRES_OK) report("layout block", &error);
    }
}

int main(int argc, char **argv) {
    qvres_error error;
    qvres_analysis *analysis = NULL;
    qvres_model model;
    int64_t k, e;
    if (argc != 2) {
        fprintf(stderr, "usage: qvres_host PATH\n");
        return 2;
    }
    if (qvres_open(argv[1], NULL, &analysis, &error) != QVRES_OK) {
        fprintf(stderr, "qvres_host: %s\n", error.message);
        return 1;
    }
    if (qvres_get_model(analysis, &model, &error) != QVRES_OK) {
        fprintf(stderr, "qvres_host: %s\n", error.message);
        qvres_close(analysis);
        return 1;
    }
    for (k = 0; k < model.skipped_files; ++k) {
        qvres_skipped_file skipped;
        if (qvres_get_skipped_file(analysis, k, &skipped, &error) == QVRES_OK)
            printf("skipped %s\n", skipped.reason);
    }
    float *xyz = malloc((size_t)(3 * model.nodes + 1) * sizeof *xyz);
    int32_t *connectivity = malloc((size_t)(8 * model.unstructured_elements + 1) * sizeof *connectivity);
    qvres_cell *cells = malloc((size_t)(model.unstructured_elements + 1) * sizeof *cells);
    if (!xyz || !connectivity || !cells) {
        fprintf(stderr, "qvres_host: no memory for the model of %s\n", argv[1]);
        return 1;
    }
    if (qvres_get_coordinates(analysis, xyz, 3 * model.nodes, &error) != QVRES_OK) report("coordinates", &error);
    if (qvres_get_connectivity(analysis, connectivity, 8 * model.unstructured_elements, &error) != QVRES_OK)
        report("connectivity", &error);
    if (qvres_get_cells(analysis, cells, model.unstructured_elements, &error) != QVRES_OK)
        report("cells", &error);
    free(xyz), free(connectivity), free(cells);

    for (k = 0; k < model.cycles; ++k) {
        qvres_reader *reader = NULL;
        int64_t entries = 0;
        const qvres_request displacements = {QVRES_DISPLACEMENTS, 0, 0};
        if (qvres_reader_open(analysis, k, &reader, &error) != QVRES_OK) {
            report("cycle", &error);
            continue;
        }
        if (qvres_count_variables(reader, &entries, &error) != QVRES_OK) report("directory", &error);
        for (e = 0; e < entries; ++e) {
            qvres_variable v;
            qvres_request q = {QVRES_NODE_REALS, 0, 0};
            if (qvres_get_variable(reader, e, &v, &error) != QVRES_OK) {
                report("entry", &error);
                continue;
            }
            q.variable = v.index;
            q.part = v.part < 0 ? -v.part : v.part;
            switch (v.kind) {
            case QVRES_NODE_INTEGER: q.values = QVRES_NODE_INTEGERS; break;
            case QVRES_NODE_REAL: q.values = QVRES_NODE_REALS; break;
            case QVRES_ELEMENT_INTEGER:
                q.values = v.part < 0 ? QVRES_SUBLAYER_INTEGERS : QVRES_ELEMENT_INTEGERS;
                if (v.part < 0) q.part = v.part;
                break;
            case QVRES_ELEMENT_REAL: q.values = QVRES_ELEMENT_REALS; break;
            default: continue;
            }
            read_request(reader, &q, v.kind == QVRES_NODE_INTEGER || v.kind == QVRES_ELEMENT_INTEGER);
        }
        read_request(reader, &displacements, 0);
        qvres_reader_close(reader);
    }
    qvres_close(analysis);
    if (failures > 0) return 1;
    printf("qvres_host: %lld cycles read\n", (long long)model.cycles);
    return 0;
}
