// Processor-time clock and the timing statistics of a partitioning run.
#include "support/timers.h"

#include <chrono>
#include <cstdio>
#include <sys/resource.h>

namespace veldan {

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

double ax_seconds() {
  struct rusage r;
  getrusage(RUSAGE_SELF, &r);
  return static_cast<double>(r.ru_utime.tv_sec) +
         static_cast<double>(r.ru_utime.tv_usec) * 1e-6 +
         static_cast<double>(r.ru_stime.tv_sec) +
         static_cast<double>(r.ru_stime.tv_usec) * 1e-6;
}

void InitTimers(TimerSet& timers) {
  for (double& t : timers.t) t = 0.0;
}

void PrintTimers(const TimerSet& timers, int full) {
  const double* t = timers.t;
  std::printf("\nTiming Information ---------------------------------------------------------");
  std::printf("\n Multilevel: \t\t %7.3f", t[TIMER_MULTILEVEL]);
  std::printf("\n     Coarsening: \t\t %7.3f", t[TIMER_COARSEN]);
  std::printf("\n     Initial Partition: \t %7.3f", t[TIMER_INITPART]);
  std::printf("\n     Uncoarsening: \t\t %7.3f", t[TIMER_UNCOARSEN]);
  std::printf("\n             Aux1: \t\t %7.3f", t[TIMER_AUX1]);
  std::printf("\n             Aux2: \t\t %7.3f", t[TIMER_AUX2]);
  std::printf("\n             Aux3: \t\t %7.3f", t[TIMER_AUX3]);
  std::printf("\n             Aux4: \t\t %7.3f", t[TIMER_AUX4]);
  if (full) {
    std::printf("\n        Refinement: \t\t\t %7.3f", t[TIMER_REFINE]);
    std::printf("\n            Initialize: \t\t\t %7.3f", t[TIMER_INIT]);
    std::printf("\n            Iterate: \t\t\t\t %7.3f", t[TIMER_ITERATE]);
    std::printf("\n            Wrap Up: \t\t\t\t %7.3f", t[TIMER_WRAPUP]);
  }
  std::printf("\n Total: \t\t %7.3f", t[TIMER_TOTAL]);
  std::printf("\n----------------------------------------------------------------------------");
}

}  // namespace veldan
