/* veldan: multilevel hypergraph partitioning, the C interface.
 *
 *   veldan_hypergraph h = {0};
 *   h.nvtxs = 6; h.nnets = 3; h.netptr = netptr; h.netind = netind;
 *   veldan_options o;
 *   veldan_default_options(&o);
 *   o.k = 3; o.epsilon = 0.03; o.seed = 1;
 *   int64_t parts[6];
 *   veldan_metrics m;
 *   if (veldan_partition(&h, &o, parts, &m) != VELDAN_OK)
 *     fprintf(stderr, "%s\n", veldan_last_error());
 *
 * Plain C types only; every call returns a status and leaves a message for
 * veldan_last_error (per thread). The library never ends the process and
 * prints nothing unless dbglvl asks for it. */
#ifndef VELDAN_VELDAN_C_H
#define VELDAN_VELDAN_C_H

#include <stdint.h>

#if defined(_WIN32)
#define VELDAN_C_API
#else
#define VELDAN_C_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes. */
enum {
  VELDAN_OK = 0,
  VELDAN_INVALID_HYPERGRAPH = 1,
  VELDAN_INVALID_OPTIONS = 2,
  VELDAN_OUT_OF_MEMORY = 3,
  VELDAN_INTERNAL_ERROR = 4
};

/* Schemes and objectives. */
enum { VELDAN_RB = 1, VELDAN_KWAY = 2 };
enum { VELDAN_CUT = 1, VELDAN_SOED = 2, VELDAN_KM1 = 3 };

/* A hypergraph held by the caller; cells and nets count from 0. The pins of
 * net e are netind[netptr[e]] .. netind[netptr[e + 1] - 1]. netwgt (nnets),
 * cellwgt (nvtxs * ncon, cell by cell) and fixed (nvtxs; -1 free, else the
 * part) may be NULL. */
typedef struct veldan_hypergraph {
  int64_t nvtxs;
  int64_t nnets;
  const int64_t* netptr;
  const int64_t* netind;
  const float* netwgt;
  int64_t ncon;
  const float* cellwgt;
  const int64_t* fixed;
} veldan_hypergraph;

/* The options of the command line; veldan_default_options fills in its
 * defaults (with dbglvl 0). ctype and rtype take the program's codes, 0 for
 * the default. epsilon above 0 bounds every part by (1 + epsilon) x the
 * average part weight and replaces ufactor. k runs from 1 to the number of
 * cells (1 without cells). seed runs from 0 to 2^63 - 2; below 0 draws one.
 * threads below 1, or above the cores the process may use, uses those
 * cores. */
typedef struct veldan_options {
  int scheme;
  int64_t k;
  double epsilon;
  double ufactor;
  int objective;
  int64_t nruns;
  int64_t nvcycles;
  int ctype;
  int rtype;
  int64_t cmaxnet;
  int64_t rmaxnet;
  int kwayrefine;
  int reconstruct;
  int64_t seed;
  int64_t threads;
  int64_t dbglvl;
  int64_t coarsento; /* above 0: coarsening stops at this many cells; 0: derived */
  /* Target weights of the parts (k * ncon fractions, weight j of part p at
   * p * ncon + j, those of a weight summing to 1), or NULL with
   * npart_weights 0: an even split. Read during the call only. */
  const double* part_weights;
  int64_t npart_weights;
  /* NULL, or nvtxs parts (0 .. k-1): the partition to improve instead of
   * partitioning from scratch (veldan_default_options sets NULL). */
  const int64_t* initial;
  /* Above 0: a budget of wall-clock seconds for the runs; nruns is then not
   * used and veldan_metrics.nruns and .nvcycles tell how many ran. */
  double time;
} veldan_options;

/* Measures of a partition. imbalance is the largest over the weights of a
 * cell (heaviest part / average part - 1). */
typedef struct veldan_metrics {
  double cut;
  double km1;
  double soed;
  double imbalance;
  int64_t empty_parts;
  int64_t fixed_violations;
  int64_t seed;   /* the seed used (veldan_partition only) */
  int balanced;   /* under epsilon: every part kept the bound */
  /* veldan_partition only: the runs and V-cycles made per bisection (or
   * k-way partitioning), the options' own or as many as the time allowed. */
  int64_t nruns;
  int64_t nvcycles;
} veldan_metrics;

VELDAN_C_API void veldan_default_options(veldan_options* options);
/* Presets: the defaults with the runs and V-cycles of a named setting. */
enum { VELDAN_PRESET_DEFAULT = 0, VELDAN_PRESET_FAST = 1, VELDAN_PRESET_QUALITY = 2 };
/* Fills *options as veldan_default_options does, then with the preset's
 * settings; fields set afterwards override them. VELDAN_INVALID_OPTIONS for
 * an unknown preset. */
VELDAN_C_API int veldan_preset_options(veldan_options* options, int preset);

/* Partitions h into parts[0 .. nvtxs-1]; metrics may be NULL. */
VELDAN_C_API int veldan_partition(const veldan_hypergraph* h, const veldan_options* options,
                                  int64_t* parts, veldan_metrics* metrics);

/* Measures a partition of h into k parts; part_weights (k * ncon entries)
 * and imbalance (ncon entries) may be NULL. */
VELDAN_C_API int veldan_evaluate(const veldan_hypergraph* h, const int64_t* parts, int64_t k,
                                 veldan_metrics* metrics, double* part_weights,
                                 double* imbalance);

/* Reads a hypergraph file (the program's input format, or Matrix Market)
 * into *h, whose arrays the library allocates; veldan_free_hypergraph
 * releases them. On failure *h is left empty and veldan_last_error names the
 * file and the line. */
VELDAN_C_API int veldan_read_hypergraph(const char* path, veldan_hypergraph* h);
VELDAN_C_API void veldan_free_hypergraph(veldan_hypergraph* h);

/* The message of the last failed call on this thread ("" after a success). */
VELDAN_C_API const char* veldan_last_error(void);

VELDAN_C_API const char* veldan_version(void);

#ifdef __cplusplus
}
#endif

#endif /* VELDAN_VELDAN_C_H */
