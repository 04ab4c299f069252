// Processor-time clock and the timer set of a partitioning run.
#pragma once

namespace veldan {

// User plus system processor time of the process so far, in seconds.
double ax_seconds();
// Wall-clock seconds on a clock that only moves forward.
double SteadySeconds();

// The fifteen accumulators of a run, in this order.
enum TimerId {
  TIMER_TOTAL = 0,
  TIMER_COARSEN,
  TIMER_REFINE,
  TIMER_INIT,
  TIMER_ITERATE,
  TIMER_WRAPUP,
  TIMER_MULTILEVEL,
  TIMER_INITPART,
  TIMER_PROJECT,  // never printed
  TIMER_SPARE,    // never printed
  TIMER_UNCOARSEN,
  TIMER_AUX1,
  TIMER_AUX2,
  TIMER_AUX3,
  TIMER_AUX4,
  NTIMERS
};

struct TimerSet {
  double t[NTIMERS];
};

// Starting a timer subtracts the clock from it, stopping adds it.
inline void starttimer(double& tmr) { tmr -= ax_seconds(); }
inline void stoptimer(double& tmr) { tmr += ax_seconds(); }

void InitTimers(TimerSet& timers);
// Prints the timing statistics; the Refinement, Initialize, Iterate and
// Wrap Up lines only when full is non-zero.
void PrintTimers(const TimerSet& timers, int full);

}  // namespace veldan
