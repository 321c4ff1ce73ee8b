/* qvres.h - re-entrant read access to the results of explicit-dynamics
 * analyses: many analyses open at once, many threads reading cycles.
 *
 * An analysis is opened from any of its files (a cycle file STEM_<n>.qvres,
 * STEM.qvres_base, STEM_base.qvres) or from the directory that holds its one
 * base file. The analysis is then immutable: every function that takes a
 * `const qvres_analysis *` may be called from any number of threads at once.
 * Cycle values are read through a reader, one open cycle file: a reader is
 * used by one thread at a time, and each thread opens its own, so several
 * threads read different (or the same) cycles of one analysis at once.
 * Close every reader before the analysis it came from.
 *
 * Conventions:
 *  - Every function returns a status, QVRES_OK on success. When `error` is
 *    not NULL it receives the status and a message that names the file and
 *    what was wrong (section, record, what did not fit). Nothing ever ends
 *    the process: damaged files, unreadable files and failed allocations are
 *    statuses.
 *  - Counts are 64-bit. Indices of parts and materials are 1-based, as the
 *    files number them; cycles and variable entries are 0-based.
 *  - Arrays are the caller's: each value query has a count query that says
 *    how many values it writes, and takes the capacity of the caller's
 *    buffer; a buffer too small is QVRES_E_CAPACITY and nothing is written.
 *    The buffer may be NULL when the capacity is 0 (an empty array).
 *  - Values are in SI units, bit for bit what the exports of results_api.h
 *    return for the same request after the header pair they write first.
 *  - Texts are NUL-terminated, trailing blanks removed.
 *  - A value read that meets a damaged array says where: the file, the
 *    section ("<Node>", "<Element>", ...), the array (variable index and
 *    part) and the byte offset of the record where the damage was met.
 *
 * Sizes used below: for a structured part of I x J x K nodes its slots are
 * I*J*K; T is the sum of the slots of all structured parts, E the number of
 * unstructured elements, and N = T + the unstructured nodes.
 */
#ifndef QVRES_H
#define QVRES_H

#include <stdint.h>

/* 2.0: value queries return the values alone (the stored header pair has
 * its own query); layouts, the variable catalogue, cell kinds and the
 * run's names are queries; value-read failures name the byte offset.
 * 2.1: histories and envelopes over a range of cycles, in threads.
 * 2.2: gauges: points mapped to the elements holding them and their
 * nearest nodes; envelopes of integer requests. */
#define QVRES_VERSION_MAJOR 2
#define QVRES_VERSION_MINOR 2
#define QVRES_VERSION_PATCH 7
/* One number for compile-time checks: major * 10000 + minor * 100 + patch. */
#define QVRES_VERSION                                                          \
    (QVRES_VERSION_MAJOR * 10000 + QVRES_VERSION_MINOR * 100 + QVRES_VERSION_PATCH)

#if defined(_WIN32)
#  if defined(QVRES_BUILDING)
#    define QVRES_EXPORT __declspec(dllexport)
#  else
#    define QVRES_EXPORT __declspec(dllimport)
#  endif
#  define QVRES_CALL __cdecl
#else
#  if defined(QVRES_BUILDING)
#    define QVRES_EXPORT __attribute__((visibility("default")))
#  else
#    define QVRES_EXPORT
#  endif
#  define QVRES_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef enum qvres_status {
    QVRES_OK = 0,
    QVRES_E_ARGUMENT = 1,    /* a null pointer, an index out of range, a bad option */
    QVRES_E_NOT_FOUND = 2,   /* no such file, or no base file for it */
    QVRES_E_LOCKED = 3,      /* a lock file says a solver or reader is using the run */
    QVRES_E_UNREADABLE = 4,  /* the file exists but cannot be opened */
    QVRES_E_DAMAGED = 5,     /* the file is damaged or truncated */
    QVRES_E_NOT_STORED = 6,  /* this cycle does not store what was asked */
    QVRES_E_CAPACITY = 7,    /* the caller's buffer is too small: see the count query */
    QVRES_E_NO_MEMORY = 8
} qvres_status;

typedef struct qvres_error {
    qvres_status status;
    char message[1024];
} qvres_error;

/* The library's version, as the macros above give it for the header. */
QVRES_EXPORT int32_t QVRES_CALL qvres_version(void);

/* The status as a short text ("damaged or truncated file", ...). */
QVRES_EXPORT const char *QVRES_CALL qvres_status_text(qvres_status status);

/* ---- Analyses ------------------------------------------------------------ */

typedef struct qvres_analysis qvres_analysis;

typedef struct qvres_open_options {
    /* 0: register exactly this run's cycle files, STEM_<digits>.qvres.
     * 1: register every ".qvres" file whose name starts with the run prefix
     *    (the name up to its second-to-last underscore), as set_BaseFilename
     *    of results_api.h does. */
    int32_t prefix_rule;
    /* 1: a reader's lock that this library left behind, made on this host
     * by a process that no longer runs (a reader killed during an open), is
     * removed and the run opened. A lock of any other origin (a solver's, an
     * empty file, another host's) is never removed. 0: every lock refuses
     * the open; a stale one is named in the message. */
    int32_t clear_stale_lock;
    /* The most bytes the base file's arrays may inflate to, together; the
     * open fails as QVRES_E_DAMAGED beyond it. 0 selects the default: 64
     * times the base file's size plus 16 MiB, far above what genuine models
     * need (deflate can expand up to 1032 to 1, so a small hostile file
     * could otherwise claim gigabytes). */
    int64_t max_inflated_bytes;
} qvres_open_options;

/* Opens the analysis that `path` belongs to: a cycle file, a base file, or a
 * directory holding exactly one base file. `options` may be NULL (defaults).
 * Reads the base file under the reader's lock (QVRES_E_LOCKED when a lock
 * file exists) and registers the run's cycle files in time order. Cycle
 * files that cannot be registered (unreadable, damaged, a cycle number seen
 * twice, not a regular file such as a dangling link, a link out of the run's
 * directory, a name too long) are listed with qvres_get_skipped_file; none
 * is dropped silently, and a directory that cannot be listed is
 * QVRES_E_UNREADABLE. A base file whose counts do not add up (coordinates
 * for fewer nodes than the structured slots, connectivity naming nodes it
 * does not hold) is QVRES_E_DAMAGED. The reader's lock lasts while the
 * base file is read: another open of the same run at that moment, in this
 * process or another, is QVRES_E_LOCKED and may be tried again. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_open(const char *path,
                                                const qvres_open_options *options,
                                                qvres_analysis **analysis, qvres_error *error);

/* Releases everything of the analysis. NULL is ignored. */
QVRES_EXPORT void QVRES_CALL qvres_close(qvres_analysis *analysis);

typedef struct qvres_model {
    int64_t structured_parts;       /* part numbers 1 .. structured_parts */
    int64_t unstructured_parts;     /* the next part numbers */
    int64_t structured_slots;       /* T */
    int64_t unstructured_nodes;
    int64_t nodes;                  /* N = T + unstructured_nodes */
    int64_t unstructured_elements;  /* E */
    int64_t materials;
    int64_t cycles;
    int64_t skipped_files;
    int32_t file_version;
    int32_t unit_system[3];         /* length, mass and time unit codes */
    int32_t symmetry[2];
} qvres_model;

QVRES_EXPORT qvres_status QVRES_CALL qvres_get_model(const qvres_analysis *analysis,
                                                     qvres_model *model, qvres_error *error);

typedef struct qvres_part {
    char name[36];
    int32_t structured;   /* 1: an I x J x K block of nodes; 0: unstructured */
    int64_t extent[3];    /* I, J, K of a structured part; 0 otherwise */
    int64_t elements;     /* (I-1)(J-1)(K-1), or the unstructured part's elements */
    int64_t nodes;        /* I*J*K, or the unstructured part's distinct nodes */
} qvres_part;

/* Part 1 .. structured_parts + unstructured_parts. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_get_part(const qvres_analysis *analysis, int64_t part,
                                                    qvres_part *info, qvres_error *error);

/* The element rows (1-based rows of the connectivity) or the nodes of an
 * unstructured part: `elements` or `nodes` of qvres_get_part values. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_get_part_elements(const qvres_analysis *analysis,
                                                             int64_t part, int32_t *rows,
                                                             int64_t capacity,
                                                             qvres_error *error);
QVRES_EXPORT qvres_status QVRES_CALL qvres_get_part_nodes(const qvres_analysis *analysis,
                                                          int64_t part, int32_t *nodes,
                                                          int64_t capacity, qvres_error *error);

/* x, y, z of every node in model node order, in metres: 3 * N values. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_get_coordinates(const qvres_analysis *analysis,
                                                           float *xyz, int64_t capacity,
                                                           qvres_error *error);
/* 8 node numbers per unstructured element (0 = empty slot): 8 * E values. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_get_connectivity(const qvres_analysis *analysis,
                                                            int32_t *nodes, int64_t capacity,
                                                            qvres_error *error);
/* The solver's type code of each unstructured element: E values. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_get_element_types(const qvres_analysis *analysis,
                                                             int32_t *types, int64_t capacity,
                                                             qvres_error *error);

typedef struct qvres_material {
    char name[36];
    char body_name[257];
    int32_t euler_id;        /* Euler material-fraction identifier; -1 when none */
    int32_t has_poisson;     /* 1 when the base file stores Poisson ratios */
    float poisson_ratio;
} qvres_material;

/* Material 1 .. materials. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_get_material(const qvres_analysis *analysis,
                                                        int64_t material, qvres_material *info,
                                                        qvres_error *error);

typedef struct qvres_cycle {
    int32_t number;  /* the solver's cycle number */
    double time;     /* seconds */
} qvres_cycle;

/* Registered cycle 0 .. cycles - 1, in time order. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_get_cycle(const qvres_analysis *analysis, int64_t index,
                                                     qvres_cycle *cycle, qvres_error *error);

typedef struct qvres_skipped_file {
    char path[1024];
    char reason[1024];
} qvres_skipped_file;

/* Cycle file 0 .. skipped_files - 1 that was found but not registered. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_get_skipped_file(const qvres_analysis *analysis,
                                                            int64_t index,
                                                            qvres_skipped_file *file,
                                                            qvres_error *error);

typedef struct qvres_names {
    char base_file[1024];  /* the base file the analysis was read from */
    char directory[1024];  /* its directory, without a trailing separator */
    char run[256];         /* the run name: the base file's name without
                              ".qvres_base" or "_base.qvres" */
    char stem[1024];       /* directory + separator + run: cycle files are
                              stem + "_<n>.qvres" */
} qvres_names;

/* The names of the analysis's files, so that no host re-derives them. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_get_names(const qvres_analysis *analysis,
                                                     qvres_names *names, qvres_error *error);

/* Cell kinds of the unstructured elements (the kind positions of the
 * element type queries of results_api.h). */
#define QVRES_CELL_NONE 0
#define QVRES_CELL_BEAM 2
#define QVRES_CELL_TETRAHEDRON 5
#define QVRES_CELL_HEXAHEDRON 6
#define QVRES_CELL_PYRAMID 7
#define QVRES_CELL_WEDGE 8
#define QVRES_CELL_TRIANGLE 9
#define QVRES_CELL_QUADRILATERAL 10

typedef struct qvres_cell {
    int32_t kind;      /* QVRES_CELL_... from the type code and the entries:
                          type 1 a hexahedron when entry 8 is 1 or more, else
                          a tetrahedron, pyramid or wedge when entry 5, 6 or 7
                          is the first 0; type 2 a triangle when entry 4 is 0,
                          else a quadrilateral; type 3 a beam; others none */
    int32_t nodes;     /* the entries it uses, the first `nodes` of its 8 for
                          a kind; for none the entries that are not 0 */
    int32_t vtk_type;  /* hexahedron 12, wedge 13, pyramid 14, tetra 10,
                          quad 9, triangle 5, line 3; none: poly-vertex 2,
                          or 0 (an empty cell) when it has no node */
} qvres_cell;

/* The cell of every unstructured element: E records. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_get_cells(const qvres_analysis *analysis,
                                                     qvres_cell *cells, int64_t capacity,
                                                     qvres_error *error);

/* ---- Variables and units ------------------------------------------------- */

/* The SI unit of a real variable (a variable index of the result
 * directory) from its catalogue exponents: "Pa", "m/s", "kg/m^3", "K", "J",
 * "N", ... or the product of base units where no name fits; "" for a
 * dimensionless one. `exponents` (may be NULL) receives the powers of
 * length, time, mass and temperature. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_variable_unit(int32_t variable, char *unit,
                                                         int64_t capacity, int32_t exponents[4],
                                                         qvres_error *error);

/* The powers of ten that take the units of unit codes `codes` (length,
 * mass and time, as qvres_model.unit_system gives them) to metres,
 * kilograms and seconds. QVRES_E_ARGUMENT when the codes name no decimal
 * system (mass code 4 and above). */
QVRES_EXPORT qvres_status QVRES_CALL qvres_unit_powers(const int32_t codes[3], int32_t powers[3],
                                                       qvres_error *error);

/* The built-in variable catalogue: the integer family (real = 0) and the
 * real family (real = 1). Entries are numbered 0 .. count - 1 in variable
 * index order; indices without a row are not entries. */
#define QVRES_GROUP_NONE 0
#define QVRES_GROUP_VECTOR 1            /* X, Y, Z */
#define QVRES_GROUP_SYMMETRIC_TENSOR 2  /* XX, YY, ZZ, XY, YZ, XZ */

typedef struct qvres_catalogue_entry {
    int32_t variable;        /* the variable index directory entries and requests carry */
    int32_t real;            /* 1 for the real family */
    char name[32];           /* catalogue name, "X-VELOCITY" */
    char display_name[32];   /* as qvres_get_variable gives it, "STN_RATE_XX" */
    char identifier[32];     /* "IVR_UX" */
    char description[128];
    char unit[32];           /* SI unit, as qvres_variable_unit; "" for integers */
    int32_t exponents[4];    /* length, time, mass, temperature */
    int32_t multi_material;  /* 1: one value per material, then the slot's own */
    int32_t group;           /* QVRES_GROUP_... */
    int32_t component;       /* 0..2 for X, Y, Z; 0..5 for XX, YY, ZZ, XY, YZ,
                                XZ (VTK's order; the catalogue's ZX is XZ) */
    char group_name[32];     /* the name without the component: "VELOCITY",
                                "EXT FORCE", "STRESS", "STN.RATE" */
    int32_t members;         /* 3, 6, or 0 for no group */
    int32_t member[6];       /* variable indices of the members in component order */
} qvres_catalogue_entry;

/* Vectors are the real rows whose names differ only in an axis letter X, Y,
 * Z standing alone before a '-' ("X-VELOCITY", "EXT X-FORCE") or last after
 * a blank ("DIRN X"), with equal exponents; symmetric tensors are STRESS,
 * STRAIN and STN.RATE XX .. ZX. Where the catalogue holds a name twice the
 * member is the lower index; the other row has no group. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_count_catalogue(int32_t real, int64_t *count,
                                                           qvres_error *error);
QVRES_EXPORT qvres_status QVRES_CALL qvres_get_catalogue_entry(int32_t real, int64_t entry,
                                                               qvres_catalogue_entry *e,
                                                               qvres_error *error);
/* The entry of variable index `variable` (as directory entries and
 * requests carry it); QVRES_E_NOT_FOUND for an index without a row. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_get_catalogue_variable(int32_t real, int32_t variable,
                                                                  qvres_catalogue_entry *e,
                                                                  qvres_error *error);
/* The entry a name stands for: the catalogue name, the display name or the
 * identifier, compared after one normalisation: blanks, tabs, CR and LF at
 * either end ignored, ASCII letters of either case alike, and '.', '_' and
 * blanks alike. Where several rows match, the lowest variable index.
 * QVRES_E_NOT_FOUND when none does. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_find_variable(int32_t real, const char *name,
                                                         qvres_catalogue_entry *e,
                                                         qvres_error *error);

/* ---- Cycle readers ------------------------------------------------------- */

typedef struct qvres_reader qvres_reader;

/* Opens registered cycle `index` for reading by the calling thread. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_reader_open(const qvres_analysis *analysis,
                                                       int64_t index, qvres_reader **reader,
                                                       qvres_error *error);
/* NULL is ignored. */
QVRES_EXPORT void QVRES_CALL qvres_reader_close(qvres_reader *reader);

/* Entry kinds of the result directory. */
#define QVRES_NODE_INTEGER 1
#define QVRES_NODE_REAL 2
#define QVRES_ELEMENT_INTEGER (-1)
#define QVRES_ELEMENT_REAL (-2)

typedef struct qvres_variable {
    int32_t index;      /* variable index */
    int32_t part;       /* the part (or sublayer) the array is stored for */
    int32_t kind;       /* QVRES_NODE_INTEGER ... */
    char name[101];     /* display name: dots and inner blanks as '_' */
} qvres_variable;

/* The entries of the cycle's result directory. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_count_variables(const qvres_reader *reader,
                                                           int64_t *count, qvres_error *error);
QVRES_EXPORT qvres_status QVRES_CALL qvres_get_variable(const qvres_reader *reader, int64_t entry,
                                                        qvres_variable *variable,
                                                        qvres_error *error);

/* What each request writes; qvres_get_layout says where each value stands.
 * Stored node and element arrays begin with a header pair of two words that
 * no request writes: qvres_read_header_int32 and qvres_read_header_float
 * give it. */
typedef enum qvres_values {
    /* x, y, z per node, metres: 3 * N floats. `variable`, `part` unused. */
    QVRES_DISPLACEMENTS = 1,
    /* One value per node: N values. Real node values of structured parts
     * are cell values averaged onto the nodes. */
    QVRES_NODE_INTEGERS = 2,
    QVRES_NODE_REALS = 3,
    /* One value per element slot of each structured part with cells
     * (reals: also every slot of each part with I = 1, and reported
     * materials + 1 values per slot for multi-material variables), then the
     * E unstructured values. */
    QVRES_ELEMENT_INTEGERS = 4,
    QVRES_ELEMENT_REALS = 5,
    /* Every slot as stored, then the unstructured elements: T + E values.
     * Slot (i, j, k) of a part with cells holds the element between node
     * layers i-1..i, j-1..j, k-1..k when i, j, k >= 2; its other slots hold
     * no element. Multi-material variables give the slot's own value. */
    QVRES_ELEMENT_INTEGERS_ALL_SLOTS = 6,
    QVRES_ELEMENT_REALS_ALL_SLOTS = 7,
    /* Element integers of shell sublayer `part` (0 selects -1), with every
     * slot of each part with I = 1. */
    QVRES_SUBLAYER_INTEGERS = 8,
    /* Material `part`'s volume fraction of each element of the structured
     * parts with I >= 2 (floats). */
    QVRES_MATERIAL_FRACTIONS = 9
} qvres_values;

typedef struct qvres_request {
    qvres_values values;
    int32_t variable;  /* variable index, for the integer and real queries */
    int32_t part;      /* part, sublayer or material */
} qvres_request;

/* How many values the request writes (qvres_layout.values). */
QVRES_EXPORT qvres_status QVRES_CALL qvres_count_values(const qvres_reader *reader,
                                                        const qvres_request *request,
                                                        int64_t *count, qvres_error *error);
/* Reads the values of an integer request (int32) or a real one (float). */
QVRES_EXPORT qvres_status QVRES_CALL qvres_read_int32(qvres_reader *reader,
                                                      const qvres_request *request,
                                                      int32_t *values, int64_t capacity,
                                                      qvres_error *error);
QVRES_EXPORT qvres_status QVRES_CALL qvres_read_float(qvres_reader *reader,
                                                      const qvres_request *request, float *values,
                                                      int64_t capacity, qvres_error *error);

/* The stored header pair of the array a node or element integer (real)
 * request, all-slot or sublayer request reads. QVRES_E_ARGUMENT for
 * displacements and material fractions, which have none. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_read_header_int32(qvres_reader *reader,
                                                             const qvres_request *request,
                                                             int32_t pair[2], qvres_error *error);
QVRES_EXPORT qvres_status QVRES_CALL qvres_read_header_float(qvres_reader *reader,
                                                             const qvres_request *request,
                                                             float pair[2], qvres_error *error);

/* Where the values of a request stand. Structured values come first, block
 * by block (one block per structured part that gives values, in part
 * order), each block's positions in slot order with K fastest, then J, then
 * I, `columns` values per position; then `unstructured` positions of
 * `unstructured_columns` values each (nodes or elements in model order). */
#define QVRES_AT_NODES 1
#define QVRES_AT_ELEMENTS 2

typedef struct qvres_layout {
    int64_t values;                /* what qvres_count_values gives */
    int64_t columns;               /* values per structured position: 1; 3 for
                                      displacements; reported materials + 1 for a
                                      multi-material real element request */
    int64_t blocks;                /* structured parts that give values */
    int64_t unstructured_first;    /* index of the first unstructured value */
    int64_t unstructured;          /* unstructured positions */
    int64_t unstructured_columns;  /* 3 for displacements, else 1 */
    int32_t at;                    /* QVRES_AT_NODES or QVRES_AT_ELEMENTS */
} qvres_layout;

typedef struct qvres_layout_block {
    int32_t part;        /* the structured part */
    int32_t elements;    /* 1 when every slot given is an element (parts with
                            cells of element requests and material fractions);
                            0 for nodes, the slots of a part with I = 1, and
                            all-slot requests (see QVRES_ELEMENT_INTEGERS_ALL_SLOTS) */
    int64_t first;       /* index of its first value */
    int64_t extent[3];   /* slots given along I, J, K */
    int64_t origin[3];   /* 1-based slot index in the part of the first slot
                            given along I, J, K: (2, 2, 2) for the elements of a
                            part with cells, (1, 1, 1) otherwise */
} qvres_layout_block;

QVRES_EXPORT qvres_status QVRES_CALL qvres_get_layout(const qvres_reader *reader,
                                                      const qvres_request *request,
                                                      qvres_layout *layout, qvres_error *error);
/* Block 0 .. blocks - 1. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_get_layout_block(const qvres_reader *reader,
                                                            const qvres_request *request,
                                                            int64_t block,
                                                            qvres_layout_block *info,
                                                            qvres_error *error);
/* The material (1-based) column 0 .. columns - 1 of a multi-material
 * request holds; 0 for the slot's own value (the last column) and for every
 * column of other requests. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_get_layout_column(const qvres_reader *reader,
                                                             const qvres_request *request,
                                                             int64_t column, int32_t *material,
                                                             qvres_error *error);

/* Joint `joint`'s quantity (see get_JointData of results_api.h) into a
 * record of 16 floats: quantity 11 the frame as a 4 x 4 matrix, quantity 0
 * and a joint the cycle does not hold 16 zeros; any other quantity (1..13,
 * -1..-13) a triple in the first 3, leaving the other 13 as they were. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_read_joint(qvres_reader *reader, int32_t joint,
                                                      int32_t quantity, float record[16],
                                                      qvres_error *error);
/* Rigid body `body`'s rotation and translation: 12 floats. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_read_rigid_body(qvres_reader *reader, int32_t body,
                                                           float record[12], qvres_error *error);

/* ---- Histories and envelopes over cycles (2.1) --------------------------- */

/* A series reads the same values of every cycle of a range: each wanted
 * array of each cycle is read once, whatever the number of positions, and
 * the cycles are spread over threads, each with its own reader. Results do
 * not depend on the number of threads. */

/* What a history row of an integer request holds where the cycle gave no
 * value (real requests hold a quiet NaN there). */
#define QVRES_NO_INTEGER INT32_MIN

/* How positions are given. */
#define QVRES_BY_VALUE 0     /* 0-based indices into the values a request writes */
#define QVRES_BY_POSITION 1  /* 0-based positions of the request's layout: the
                                structured positions block by block, then the
                                unstructured ones (nodes or elements in model
                                order); each gives the value of `column` */

typedef struct qvres_series {
    const qvres_request *requests;  /* all real or all integer requests */
    int64_t request_count;          /* 1 or more; an envelope takes exactly 1 */
    const int64_t *positions;       /* an envelope may give NULL and 0: every value */
    int64_t position_count;
    int32_t by;                     /* QVRES_BY_VALUE or QVRES_BY_POSITION */
    /* With QVRES_BY_POSITION: for a multi-material request the material
     * (1-based) whose column is read, 0 for the slot's own value (its
     * unstructured elements have one value); for displacements the
     * component 0, 1, 2 (x, y, z); 0 for every other request. */
    int32_t column;
    int64_t first_cycle;            /* registered cycles first .. last, inclusive */
    int64_t last_cycle;
    int32_t threads;                /* 0: one per processor the calling thread
                                       may run on (its affinity, and on Linux
                                       no more than its control group's
                                       quota); never more than the cycles
                                       nor than 256 */
    /* 0: a cycle whose file is missing, unreadable or damaged fails the call
     * naming the file. 1: such a cycle is a gap instead: its rows hold no
     * value and it is listed among the gaps (request -1). A position beyond
     * a cycle's values always fails the call (QVRES_E_ARGUMENT, naming the
     * file). */
    int32_t skip_failed_cycles;
} qvres_series;

/* A cycle, or a request of a cycle, that gave no values. A request that
 * the cycle does not store is always a gap (QVRES_E_NOT_STORED): its row
 * holds no value, never a 0. */
typedef struct qvres_series_gap {
    int64_t cycle;        /* registered cycle index */
    int64_t request;      /* the request, or -1 for the whole cycle */
    qvres_status status;  /* QVRES_E_NOT_STORED, QVRES_E_DAMAGED, QVRES_E_NOT_FOUND, ... */
    char message[1024];   /* names the file */
} qvres_series_gap;

/* Gaps: `gaps` may be NULL with `gap_capacity` 0 (the gaps are then only
 * counted); otherwise it must hold cycles x requests records (the most
 * there can be). They come in cycle order, then request order.
 * `gap_count` (may be NULL) receives their number. A call that fails
 * for any reason but QVRES_E_ARGUMENT and QVRES_E_CAPACITY (which write
 * nothing) may have written part of the values and gaps. */

/* The values of a history: cycles x requests x positions. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_count_history(const qvres_analysis *analysis,
                                                         const qvres_series *series,
                                                         int64_t *count, qvres_error *error);
/* Value of cycle first + c, request r, position p at
 * values[(c * request_count + r) * position_count + p]. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_read_history_float(
    const qvres_analysis *analysis, const qvres_series *series, float *values, int64_t capacity,
    qvres_series_gap *gaps, int64_t gap_capacity, int64_t *gap_count, qvres_error *error);
QVRES_EXPORT qvres_status QVRES_CALL qvres_read_history_int32(
    const qvres_analysis *analysis, const qvres_series *series, int32_t *values,
    int64_t capacity, qvres_series_gap *gaps, int64_t gap_capacity, int64_t *gap_count,
    qvres_error *error);

#define QVRES_MAXIMUM 1
#define QVRES_MINIMUM 2

/* The positions of an envelope of one request: position_count, or
 * without positions the values of the first cycle of the range that can
 * be read (every cycle read must then give as many). */
QVRES_EXPORT qvres_status QVRES_CALL qvres_count_envelope(const qvres_analysis *analysis,
                                                          const qvres_series *series,
                                                          int64_t *count, qvres_error *error);
/* Per position the largest (QVRES_MAXIMUM) or smallest (QVRES_MINIMUM)
 * value over the cycles and the registered cycle index where it first
 * occurred (the earliest cycle on ties). NaN values are passed over; a
 * position no cycle gave a value gets NaN and cycle -1. Holds one cycle's
 * values per thread, never all cycles. `values` and `cycles` both have
 * `capacity` entries. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_read_envelope(
    const qvres_analysis *analysis, const qvres_series *series, int32_t extreme, float *values,
    int64_t *cycles, int64_t capacity, qvres_series_gap *gaps, int64_t gap_capacity,
    int64_t *gap_count, qvres_error *error);
/* The same of an integer request (2.2): QVRES_NO_INTEGER values are passed
 * over, and a position no cycle gave a value gets QVRES_NO_INTEGER and
 * cycle -1. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_read_envelope_int32(
    const qvres_analysis *analysis, const qvres_series *series, int32_t extreme, int32_t *values,
    int64_t *cycles, int64_t capacity, qvres_series_gap *gaps, int64_t gap_capacity,
    int64_t *gap_count, qvres_error *error);

/* ---- Gauges: points mapped to elements and nodes (2.2) ------------------ */

/* Where a point (x, y, z in metres, in the initial configuration: the
 * coordinates of qvres_get_coordinates) lies. The elements that hold points
 * are the solids: the hexahedral cells of the structured parts and the
 * unstructured hexahedra, wedges, pyramids and tetrahedra. A point on a face
 * shared by several elements (within a relative 1e-7 of it) is given the
 * first of them in element order: the structured parts' cells in part and
 * slot order, then the unstructured elements. Cells with no volume hold no
 * point; a cell whose nodes have no finite coordinates is passed over. */
typedef struct qvres_gauge {
    int32_t part;          /* the part of the element holding the point; 0: none */
    int32_t structured;    /* 1: a cell of a structured part */
    int64_t cell[3];       /* a structured cell's 1-based slot (i, j, k) in its
                              part, each 2 or more (see QVRES_ELEMENT_*_ALL_SLOTS);
                              0 otherwise */
    int64_t element;       /* an unstructured element 0 .. E-1; -1 otherwise */
    int64_t slot;          /* the element's index among the values of the all-slot
                              requests: its slot 0 .. T-1, or T + element; -1 when
                              no element holds the point. Histories of element
                              variables take it with QVRES_BY_VALUE. */
    int64_t node;          /* the nearest node 0 .. N-1 (the lowest on ties); -1
                              when not asked for or no node has finite coordinates */
    double node_distance;  /* metres from the point to that node */
} qvres_gauge;

/* What qvres_locate_points finds; both may be asked for at once. */
#define QVRES_GAUGE_ELEMENTS 1  /* the element holding each point: a point that no
                                   element holds fails the call */
#define QVRES_GAUGE_NODES 2     /* the nearest node of each point */

/* One record per point: gauges[p] for the point at points[3p .. 3p + 2],
 * `capacity` records (at least point_count). The elements are binned once
 * per call, so one call with every point costs far less than a call per
 * point; the records can be kept and reused for as long as the analysis.
 * A point with a coordinate that is not finite, or outside every element
 * when elements are asked for, is QVRES_E_ARGUMENT: the message names the
 * point's index and coordinates and `failed_point` (may be NULL) receives
 * its index (the lowest such), -1 otherwise. A model whose coordinates do
 * not cover the nodes its cells name is QVRES_E_DAMAGED. */
QVRES_EXPORT qvres_status QVRES_CALL qvres_locate_points(const qvres_analysis *analysis,
                                                         const double *points,
                                                         int64_t point_count, int32_t find,
                                                         qvres_gauge *gauges, int64_t capacity,
                                                         int64_t *failed_point,
                                                         qvres_error *error);

#ifdef __cplusplus
}
#endif

#endif /* QVRES_H */
