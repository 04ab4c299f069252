/* partition: partitions a small hypergraph held in arrays through the C
 * interface: a ring of four clusters of six cells, each cluster tied by a
 * chain of two-pin nets and one net over the whole cluster, neighbouring
 * clusters joined by one two-pin net. Prints the cut and km1 of a four-way
 * partition and what an invalid call reports.
 *
 *   cc partition.c $(pkg-config --cflags --libs --static veldan) -o partition */
#include <stdint.h>
#include <stdio.h>

#include <veldan/veldan_c.h>

#define NCLUSTERS 4
#define CSIZE 6
#define NVTXS (NCLUSTERS * CSIZE)
#define NNETS (NCLUSTERS * (CSIZE + 1))

int main(void) {
  int64_t netptr[NNETS + 1], netind[NCLUSTERS * (2 * (CSIZE - 1) + CSIZE + 2)];
  int64_t nnets = 0, npins = 0;
  netptr[0] = 0;
  for (int64_t c = 0; c < NCLUSTERS; c++) {
    const int64_t b = c * CSIZE;
    for (int64_t i = 0; i + 1 < CSIZE; i++) { /* the chain */
      netind[npins++] = b + i;
      netind[npins++] = b + i + 1;
      netptr[++nnets] = npins;
    }
    for (int64_t i = 0; i < CSIZE; i++) netind[npins++] = b + i; /* the cluster */
    netptr[++nnets] = npins;
    netind[npins++] = b + CSIZE - 1; /* to the next cluster */
    netind[npins++] = (c + 1) % NCLUSTERS * CSIZE;
    netptr[++nnets] = npins;
  }

  veldan_hypergraph h = {0}; /* NULL weights: every weight is 1 */
  h.nvtxs = NVTXS;
  h.nnets = nnets;
  h.netptr = netptr;
  h.netind = netind;
  h.ncon = 1;

  veldan_options o;
  veldan_default_options(&o);
  o.k = 4;
  o.epsilon = 0.03;
  o.seed = 1;

  int64_t parts[NVTXS];
  veldan_metrics m;
  if (veldan_partition(&h, &o, parts, &m) != VELDAN_OK) {
    fprintf(stderr, "veldan_partition: %s\n", veldan_last_error());
    return 1;
  }
  printf("veldan %s: cut %g, km1 %g, imbalance %.4f\n", veldan_version(), m.cut, m.km1,
         m.imbalance);

  /* Any partition can be measured; this one must measure as reported. */
  veldan_metrics again;
  if (veldan_evaluate(&h, parts, o.k, &again, NULL, NULL) != VELDAN_OK || again.cut != m.cut ||
      again.km1 != m.km1) {
    fprintf(stderr, "the partition does not measure as reported\n");
    return 1;
  }

  /* Errors come back as a status and a message; nothing is printed. */
  o.k = 0;
  const int status = veldan_partition(&h, &o, parts, NULL);
  printf("k = 0: status %d, \"%s\"\n", status, veldan_last_error());
  return status == VELDAN_INVALID_OPTIONS ? 0 : 1;
}
