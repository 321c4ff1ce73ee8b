/* results_api.h - read access to the results of an explicit-dynamics analysis.
 *
 * A host names one file of an analysis, then asks how the model is divided
 * into structured (I x J x K) and unstructured parts, which cycles were saved,
 * and, cycle by cycle, node and element values converted to SI units.
 *
 * Conventions shared by every function below:
 *  - Every argument is passed by address, scalar inputs included. Integers are
 *    4-byte signed (int32_t), reals are 4-byte IEEE floats.
 *  - Every function returns a one-byte truth value: true on success.
 *  - Scalar inputs are copied before any work is done: the library never
 *    changes an input, except where a function is documented to write -1 into
 *    an in/out argument on failure.
 *  - Text outputs are caller buffers that already hold a NUL-terminated
 *    string. Its length at the call (up to the first NUL) is the field width:
 *    the library writes exactly that many characters, the text cut or padded
 *    with blanks, and never writes a NUL. Prime a buffer with 35 blanks and a
 *    terminator to receive a whole 35-character name.
 *  - Arrays are allocated by the caller, sized from the count query named in
 *    each description; the library cannot check the size of a caller array.
 *  - A null pointer in any argument makes a function return false and write
 *    nothing at all. (Only the entries of get_VariableInfo's name array may
 *    be null: those names are skipped.)
 *  - Nothing ends the host process: a damaged, truncated or unreadable file
 *    and a failed allocation make the call that met them fail, and the next
 *    call with a good file or enough memory works.
 *  - One analysis is open at a time and all state is process-wide: calls must
 *    be serialised by the host.
 *
 * Calling order:
 *   1. set_Startup once.
 *   2. set_BaseFilename(mode, path, directory): loads the model; with mode 1
 *      also registers the analysis' cycle files found in directory.
 *   3. Model queries (counts, parts, materials, element kinds, attributes).
 *   4. set_newStep(k) for k = 0 .. get_NumSteps - 1 (or set_ResultsFilename)
 *      selects a cycle; value queries then read from that cycle.
 *   5. resultsCleanUp at the end, or before naming another analysis.
 *
 * Sizes used below: S structured parts, U unstructured parts (part numbers
 * 1..S are structured, S+1..S+U unstructured). A structured part of I x J x K
 * nodes has I*J*K slots; when I, J and K are all 2 or more it also has
 * (I-1)(J-1)(K-1) elements, the slots (i, j, k) with i, j, k >= 2, and
 * otherwise none. A part with I = 1 is a plane: its J*K slots hold values of
 * the real and sublayer element getters but are no elements. From the count
 * queries (get_NumStructuredParts, get_NumStructuredNodes, ...):
 *   T  slots of all structured parts: the sum of I*J*K;
 *   C  structured elements: the sum of (I-1)(J-1)(K-1) over the parts whose
 *      I, J and K are all 2 or more;
 *   P  plane slots: the sum of J*K over the parts with I = 1;
 *   E  unstructured elements (get_NumUnstructuredElements);
 *   N  T + get_NumNodes: every node once a cycle is selected;
 *   R  reported materials: those of 1..get_NumMaterials whose Euler
 *      material-fraction identifier is 0 or more (getEulerMatFracIDforQVMaterial
 *      true).
 * Every size stated below is exact: the library writes that many values and
 * none behind them. (A cycle file that states fewer unstructured elements
 * than the part records hold gives fewer values, never more.)
 */
#ifndef RESULTS_API_H
#define RESULTS_API_H

#include <stdbool.h>
#include <stdint.h>

#define RESULTS_API_VERSION_MAJOR 1
#define RESULTS_API_VERSION_MINOR 0
#define RESULTS_API_VERSION_PATCH 0
/* One number for compile-time checks: major * 10000 + minor * 100 + patch. */
#define RESULTS_API_VERSION                                                    \
    (RESULTS_API_VERSION_MAJOR * 10000 + RESULTS_API_VERSION_MINOR * 100 +     \
     RESULTS_API_VERSION_PATCH)

#if defined(_WIN32)
#  if defined(RESULTS_API_BUILDING)
#    define RESULTS_API_EXPORT __declspec(dllexport)
#  else
#    define RESULTS_API_EXPORT __declspec(dllimport)
#  endif
#  define RESULTS_API_CALL __cdecl
#else
#  if defined(RESULTS_API_BUILDING)
#    define RESULTS_API_EXPORT __attribute__((visibility("default")))
#  else
#    define RESULTS_API_EXPORT
#  endif
#  define RESULTS_API_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Session ------------------------------------------------------------ */

/* Starts a session. Call once before anything else. Touches no file.
 * Always true. */
RESULTS_API_EXPORT bool RESULTS_API_CALL set_Startup(void);

/* Loads the model of the analysis that `path` belongs to. `path` names any
 * cycle file of the run (stem_NNNN.qvres) or an older-form base file
 * (stem_base.qvres); the base file is stem.qvres_base, else stem_base.qvres.
 * `directory` is the run's directory, without a trailing separator.
 * mode 0: load only; true when the model was loaded.
 * mode 1: load, then register every cycle file of the run found in
 *         `directory`, sorted by time; true when the model was loaded and the
 *         run prefix (the name up to its second-to-last underscore) was found.
 * other modes: load, then false.
 * False without loading when a lock file (directory/name.lock or stem.lock),
 * or anything else of that name, shows that a solver or another reader is
 * using the run; the previous model then stays. Otherwise the previous model
 * and cycle are dropped first, and a load that fails (an unreadable or
 * damaged base file, or named cycle file, or no memory) leaves no model: every
 * model query fails until a load succeeds. Cycle files that cannot be opened
 * or read are not registered. */
RESULTS_API_EXPORT bool RESULTS_API_CALL set_BaseFilename(const int32_t *mode,
                                                          const char *path,
                                                          const char *directory);

/* Opens the cycle file `path` as the current cycle. False for an empty path
 * or a file that cannot be read; after a failure every model and value query
 * fails until a cycle is opened successfully. */
RESULTS_API_EXPORT bool RESULTS_API_CALL set_ResultsFilename(const char *path);

/* Opens registered cycle number `step` (0 .. get_NumSteps - 1, in time order)
 * as the current cycle. False outside that range or when the file cannot be
 * read (then as for set_ResultsFilename). */
RESULTS_API_EXPORT bool RESULTS_API_CALL set_newStep(const int32_t *step);

/* Closes the files of the analysis and releases most of the model.
 * Part counts, node counts and coordinates stay readable; material and
 * parallel task lists, connectivity, element types and numberings are
 * released and their counts drop to 0. Always true. */
RESULTS_API_EXPORT bool RESULTS_API_CALL resultsCleanUp(void);

/* Element value mode: 1 makes the element value queries return every slot of
 * every structured part; any other value (mode 0, the default) returns the
 * elements, and for the real getter the plane slots too (see "Element
 * values" below). Reset to 0 by every set_BaseFilename. Always true. */
RESULTS_API_EXPORT bool RESULTS_API_CALL setDataExtractionMode(const int32_t *mode);

/* ---- Model attributes --------------------------------------------------- */

/* File version of the loaded base file (120, 130, 140, or the stored release
 * number / 100). Writes 0 and fails when no model is loaded. */
RESULTS_API_EXPORT bool RESULTS_API_CALL getResultsFileVersion(int32_t *version);

/* Length, mass and time unit codes of the last base file loaded (0, 0, 0
 * before any load; 3, 3, 3 when the file states none). Always true. */
RESULTS_API_EXPORT bool RESULTS_API_CALL getUnitSystem(int32_t *length, int32_t *mass,
                                                       int32_t *time);

/* The two symmetry words of the last base file loaded (0, 0 before any load;
 * 3, 0 when the file states none). Always true. */
RESULTS_API_EXPORT bool RESULTS_API_CALL getModelSymmetry(int32_t *word1, int32_t *word2);

/* The base file's layout level and material level. Writes 0, 0 and fails
 * when no model is loaded. */
RESULTS_API_EXPORT bool RESULTS_API_CALL getInputResultSwitches(int32_t *layout,
                                                                int32_t *materials);

/* True when the model carries parallel task information. */
RESULTS_API_EXPORT bool RESULTS_API_CALL hasParallelTaskInfo(void);

/* Number of parallel task information values. Always true. */
RESULTS_API_EXPORT bool RESULTS_API_CALL getParallelTaskInfoSize(int32_t *count);

/* Fills getParallelTaskInfoSize values. Always true. */
RESULTS_API_EXPORT bool RESULTS_API_CALL getParallelTaskInformation(int32_t *values);

/* Partner of element `element` in a pyramid/tetrahedron pair. Writes 0 and
 * fails when the model has no pairs, the element is out of range, or it has
 * no partner. */
RESULTS_API_EXPORT bool RESULTS_API_CALL getPyramidTetPairId(const int32_t *element,
                                                             int32_t *partner);

/* ---- Counts and parts --------------------------------------------------- */

/* Node count: all nodes after a base-file-only load, the unstructured nodes
 * once a cycle is open. Writes -1 and fails when no model is loaded. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumNodes(int32_t *count);
/* Number of registered cycles. -1 and false when no model is loaded. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumSteps(int32_t *count);
/* S. -1 and false when no model is loaded. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumStructuredParts(int32_t *count);
/* U. -1 and false when no model is loaded. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumUnstructuredParts(int32_t *count);
/* Same value as get_NumNodes. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumUnstructuredNodes(int32_t *count);
/* E, the elements of all unstructured parts. -1 and false when not loaded. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumUnstructuredElements(int32_t *count);

/* I, J and K of structured parts 1..S, one entry each (arrays of S). */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumStructuredNodes(int32_t *i_extents,
                                                                int32_t *j_extents,
                                                                int32_t *k_extents);

/* Not provided: always false, writes nothing. The two names are one
 * function. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumStructuredElements(void);
RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumMaterialInElement(void);

/* Not provided: writes -1, always false. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumElements(int32_t *count);

/* Name (text field, up to 35 characters), element count and node count of
 * part `part` (1..S+U). Writes nothing on failure. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_PartInfo(const int32_t *part, int32_t *elements,
                                                      int32_t *nodes, char *name);

/* Element numbers (1-based rows of the unstructured connectivity) of
 * unstructured part `part`; get_PartInfo's element count entries. Writes -1
 * into `part` and fails for a structured or unknown part. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_ElementPartConnectivity(int32_t *part,
                                                                     int32_t *ids);

/* Node numbers used by unstructured part `part`, in first-use order;
 * get_PartInfo's node count entries. -1 into `part` on failure. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_NodePartConnectivity(int32_t *part,
                                                                  int32_t *ids);

/* 8 node numbers per unstructured element (0 = empty slot): 8 * E values. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_UnstructuredElementConnectivity(int32_t *nodes);

/* Solver element type code of each unstructured element: E values. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_ElementType(int32_t *types);

/* ---- Node values (need a selected cycle, except coordinates) ------------ */

/* Initial x, y, z of every node in metres: 3 * N values. After a base-file
 * load with no cycle selected yet, when get_NumNodes counts every node
 * itself, 3 * get_NumNodes values. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_NodeCoordinates(float *xyz);

/* Displacement x, y, z of every node in metres: 3 * N values; a node without
 * a displacement gets 0, 0, 0. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_NodeDisplacements(float *xyz);

/* The stored header pair, then one value per node in model node order: N + 2
 * values, whatever the extraction mode. `variable` is the variable index;
 * `part` selects the stored array by part number. -1 into `variable` on
 * failure. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_IntNodeValues(int32_t *variable,
                                                           const int32_t *part,
                                                           int32_t *values);

/* As get_IntNodeValues for a real variable, values in SI units: N + 2
 * values. Structured nodes take the average of the cells around them. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_FloatNodeValues(int32_t *variable,
                                                             const int32_t *part,
                                                             float *values);

/* get_IntNodeValues of the erosion status (integer variable 26), part 1:
 * N + 2 values. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_NodeErosion(int32_t *values);

/* ---- Element values (need a selected cycle) ----------------------------- */

/* Every element getter writes the stored header pair, then the values of the
 * structured parts, part by part in part order, then one value per
 * unstructured element in connectivity order. What a structured part gives
 * depends on the extraction mode (setDataExtractionMode) and the getter:
 *  - mode 1: every slot of every part, one value each, as stored (K fastest,
 *    then J, then I): 2 + T + E values for every getter but the sublayer one.
 *  - mode 0 (the default): a part with cells gives its elements, slots
 *    (i, j, k) with i, j, k >= 2 (K fastest, then J, then I); the real and
 *    sublayer getters also give every slot of a plane (I = 1; K fastest);
 *    any other part gives nothing. Sizes are stated with each getter.
 * In mode 0 a multi-material real variable (54, 81, 83, 85, 86, 87, 88, 89)
 * gives R + 1 values for each structured element or plane slot: the
 * reported materials in material order, then the slot's own value; an
 * unstructured element still gives one value. In mode 1 it is not
 * expanded: each slot gives its own value, then each unstructured element
 * its value, 2 + T + E values as for any variable. */

/* Integer element values. Mode 0: 2 + C + E values (planes give none).
 * Mode 1: 2 + T + E values. -1 into `variable` on failure. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_IntElemValues(int32_t *variable,
                                                           const int32_t *part,
                                                           int32_t *values);

/* Real element values in SI units. Mode 0: 2 + C + P + E values, or
 * 2 + (R + 1)(C + P) + E for a multi-material variable. Mode 1: 2 + T + E
 * values. -1 into `variable` on failure. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_FloatElemValues(int32_t *variable,
                                                             const int32_t *part,
                                                             float *values);

/* get_IntElemValues of integer variables 26 (erosion), 10 (material number)
 * and 12 (material status), part 1: 2 + C + E values in mode 0, 2 + T + E in
 * mode 1. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_ElementErosion(int32_t *values);
RESULTS_API_EXPORT bool RESULTS_API_CALL get_ElementMaterial(int32_t *values);
RESULTS_API_EXPORT bool RESULTS_API_CALL get_ElementStatus(int32_t *values);

/* Integer element values stored per shell sublayer: `sublayer` must equal
 * the stored qualifier, sign included; 0 selects -1. Whatever the extraction
 * mode, laid out as mode 0 lays out the real getter: the header pair, the
 * elements of each part with cells and every slot of each plane, in part
 * order, then the unstructured elements: 2 + C + P + E values. -1 into
 * `variable` on failure. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_LayerIntElemValues(int32_t *variable,
                                                                const int32_t *sublayer,
                                                                int32_t *values);

/* ---- Materials ---------------------------------------------------------- */

/* Number of materials K. -1 and false when no model is loaded. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumMaterials(int32_t *count);

/* Name of material 1..K (text field, up to 35 characters). -1 into
 * `material` on failure. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_MaterialName(int32_t *material, char *name);

/* Volume fraction of material 1..K in every structured element (planes and
 * unstructured elements give none), for the selected cycle: C values. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_MaterialFractions(const int32_t *material,
                                                               float *fractions);

/* Poisson ratio of material 1..K, when the base file stores them. */
RESULTS_API_EXPORT bool RESULTS_API_CALL getMaterialPoissonRatio(const int32_t *material,
                                                                 float *ratio);

/* Euler material-fraction body name of material 1..K (text field, up to 256
 * characters). */
RESULTS_API_EXPORT bool RESULTS_API_CALL getEulerMatFracBodyName(const int32_t *material,
                                                                 char *name);

/* Euler material-fraction identifier of material 1..K; false (with the
 * negative value written) when it is negative or the material is unknown. */
RESULTS_API_EXPORT bool RESULTS_API_CALL getEulerMatFracIDforQVMaterial(const int32_t *material,
                                                                        int32_t *id);

/* First material carrying identifier `id`; -1 and false when none does. */
RESULTS_API_EXPORT bool RESULTS_API_CALL getQVMaterialforEulerMatFracID(const int32_t *id,
                                                                        int32_t *material);

/* ---- Host element kinds and numbering ----------------------------------- */

/* Number of host element kinds present (0..7). -1 and false when no model is
 * loaded. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_ZPnumElementTypes(int32_t *count);

/* Kind position (1..10; 2 beam, 5 tetrahedron, 6 hexahedron, 7 pyramid,
 * 8 wedge, 9 triangular shell, 10 quadrilateral shell) of host element type
 * number `index`, 0 when no kind has it. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_ZPElementType(const int32_t *index, int32_t *type);

/* Host type number and the 8 connectivity entries of the element with
 * external number `element`. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_ZPElement(const int32_t *element, int32_t *type,
                                                       int32_t *nodes);

/* Number of nodes (entries before the first 0) of the element with external
 * number `element`; 0 on failure. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_ZPElementNumNodes(const int32_t *element,
                                                               int32_t *count);

/* Row of the unstructured connectivity that carries external element number
 * `index` (0 when none does); -1 and false outside the numbering. */
RESULTS_API_EXPORT bool RESULTS_API_CALL getQuorvexElementNumber(const int32_t *index,
                                                                 int32_t *number);

/* Node position that carries external node number `index` (0 when none
 * does); -1 and false outside the numbering. */
RESULTS_API_EXPORT bool RESULTS_API_CALL getQuorvexNodeNumber(const int32_t *index,
                                                              int32_t *number);

/* ---- Joints, rigid bodies and result sets ------------------------------- */

/* One quantity of joint `joint` in the selected cycle, into a record of 16
 * floats: quantity 1..13 a triple in SI units, -1..-13 the triple rotated
 * by the joint frame, 11 the frame as a 4 x 4 column-major matrix, 0 (or an
 * unknown joint) sixteen zeros. False when the cycle holds no joint data. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_JointData(const int32_t *joint,
                                                       const int32_t *quantity,
                                                       float *record);

/* Rigid motion of rigid body `body` in the selected cycle, 12 floats: the
 * rotation (column-major 3 x 3) and the translation in metres. An unknown
 * body gives the identity. False when the cycle holds no rigid body data. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_RigidBodyData(const int32_t *body, float *record);

/* Cycle number and time in seconds of every registered cycle: get_NumSteps
 * values each. -1 into cycles[0] and false when no model is loaded. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_SetData(int32_t *cycles, float *times);

/* ---- Variables of the selected cycle ------------------------------------ */

/* Variable count and number of result directory entries D of the selected
 * cycle. -1 into both and false when no model is loaded. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_NumVariables(int32_t *variables, int32_t *entries);

/* For each of the D directory entries: its part qualifier (signed), its name
 * as exactly 100 characters (dots and inner blanks turned into '_', no NUL)
 * into the buffer that names[i] points to, its variable index and its kind
 * (1 node integer, 2 node real, -1 element integer, -2 element real). */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_VariableInfo(int32_t *qualifiers, char **names,
                                                          int32_t *variables, int32_t *kinds);

/* True when the selected cycle stores variable `code` (a negative code -c
 * means index c) of entry kind `kind` for part `part`; with `exact` 0 the
 * part matches by absolute value, with 1 sign included. */
RESULTS_API_EXPORT bool RESULTS_API_CALL get_isResultAvailable(const int32_t *code,
                                                               const int32_t *part,
                                                               const int32_t *kind,
                                                               const int32_t *exact);

#ifdef __cplusplus
}
#endif

#endif /* RESULTS_API_H */
