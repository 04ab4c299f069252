#!/usr/bin/env python3
"""What more cores would allow, from a task trace of a one-thread run.

Run veldan with one thread and VELDAN_TASK_TRACE naming a file:

  VELDAN_TASK_TRACE=trace.txt veldan -nthreads=1 -seed=1 ibm08.hgr 8
  bench/critical_path.py trace.txt

The trace lists every task of the parallel sections (the runs and V-cycles
of each bisection, the halves of each recursive bisection, and the chunks
of the loops over a large level inside a run: the clique graph, the
contraction, the projection and the recounts of gains and cuts) with its
parent, the parallel call that started it and its processor time, children
included. A task's own time is its time less its children's; tasks started
by one call may run at once, the calls of one task run one after another.
So the work is T1 = the section's time, and the critical path is

  Tinf(task) = own(task) + sum over its calls of max over the call's tasks of Tinf

For P cores no schedule beats max(T1/P, Tinf), and a greedy one (the
work-stealing scheduler) needs at most T1/P + Tinf (Brent). The script prints
both speedups for each P and the part of the critical path spent outside
every parallel call (the sequential steps of the partitioning: the finest
level's set-up, choosing the best run, splitting; reading the file is not
part of the section).
"""
import sys
from collections import defaultdict


def analyse(section, tasks):
    children = defaultdict(lambda: defaultdict(list))  # parent -> group -> [ids]
    for tid, (parent, group, t) in tasks.items():
        children[parent][group].append(tid)
    memo = {}

    def own(tid, total):
        return max(0.0, total - sum(tasks[c][2] for g in children[tid].values() for c in g))

    def tinf(tid, total):
        if tid in memo:
            return memo[tid]
        path = own(tid, total)
        for g in children[tid].values():
            path += max(tinf(c, tasks[c][2]) for c in g)
        memo[tid] = path
        return path

    return tinf(0, section), own(0, section)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    sections = []
    tasks = None
    for line in open(sys.argv[1]):
        f = line.split()
        if not f:
            continue
        if f[0] == 'section':
            tasks = {}
            sections.append((float(f[1]), tasks))
        else:
            tasks[int(f[0])] = (int(f[1]), int(f[2]), float(f[3]))
    if not sections:
        sys.exit('no section in the trace')
    t1 = sum(s for s, _ in sections)
    tinf = 0.0
    seq = 0.0
    ntasks = 0
    for s, tasks in sections:
        ti, own_root = analyse(s, tasks)
        tinf += ti
        seq += own_root
        ntasks += len(tasks)
    print(f'tasks: {ntasks}, work T1: {t1:.3f} s, critical path Tinf: {tinf:.3f} s '
          f'(of which {seq:.3f} s outside every parallel call), parallelism T1/Tinf: '
          f'{t1 / tinf:.2f}')
    print('| cores | speedup bound T1/max(T1/P, Tinf) | greedy guarantee T1/(T1/P + Tinf) |')
    print('|---:|---:|---:|')
    for p in (1, 2, 4, 8, 16, 64):
        print(f'| {p} | {t1 / max(t1 / p, tinf):.2f} | {t1 / (t1 / p + tinf):.2f} |')


if __name__ == '__main__':
    main()
