#!/usr/bin/env python3
"""Cut against CPU time for the run counts: -nruns x -nvcycles.

Runs the Release binary over the covered instances (as run_bench.py does, at
epsilon 0.03, one thread, every partition recounted) for every combination
of --nruns and --nvcycles, and prints a Markdown table: per setting and k,
the geometric mean of cut / published cut and of CPU / (0.78 x published
time), and the summed CPU seconds, beside the default setting's.

  bench/run_tradeoff.py                                  # rb, k=2,8,32, seed 1
  bench/run_tradeoff.py --scheme kway --nruns 1,4,10 --nvcycles 0,1
  bench/run_tradeoff.py --jobs 2 --csv tradeoff.csv      # two runs at once
"""
import argparse
import concurrent.futures
import csv
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import run_bench  # noqa: E402


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    ap.add_argument('--scheme', choices=['rb', 'kway'], default='rb')
    ap.add_argument('--k', type=run_bench.parse_int_list, default=[2, 8, 32])
    ap.add_argument('--seeds', type=run_bench.parse_int_list, default=[1])
    ap.add_argument('--nruns', type=run_bench.parse_int_list, default=[1, 2, 4, 10])
    ap.add_argument('--nvcycles', type=run_bench.parse_int_list, default=[0, 1])
    ap.add_argument('--inst', help='instances, comma-separated (default: all with a reference)')
    ap.add_argument('--bin', default=run_bench.default_binary())
    ap.add_argument('--jobs', type=int, default=1, help='runs at once (times get noisier)')
    ap.add_argument('--csv', help='also write every run to this file')
    args = ap.parse_args()

    insts = args.inst.split(',') if args.inst else run_bench.available_instances()
    _, ref = run_bench.read_reference(run_bench.REF, args.scheme)
    settings = [(r, v) for r in args.nruns for v in args.nvcycles if v <= r]
    tasks = [(s, inst, k, seed) for s in settings for inst in insts for k in args.k
             for seed in args.seeds]
    cache = {}

    def hg(src):
        if src not in cache:
            cache[src] = run_bench.read_hgr(src)
        return cache[src]

    for inst in insts:  # parse once, before the threads start
        hg(os.path.join(run_bench.DATA, inst + '.hgr'))
    tmp = tempfile.mkdtemp(prefix='veldan-tradeoff-')

    def task(t):
        (nruns, nvc), inst, k, seed = t
        row = run_bench.one_run(args.bin, os.path.join(run_bench.DATA, inst + '.hgr'), hg,
                                args.scheme, k, seed, f'-nruns={nruns} -nvcycles={nvc}',
                                tmp, None, 1)
        row['nruns'], row['nvcycles'] = nruns, nvc
        return row

    rows = []
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        for i, row in enumerate(pool.map(task, tasks)):
            rows.append(row)
            print(f'[{i + 1}/{len(tasks)}] nruns={row["nruns"]} nvcycles={row["nvcycles"]} '
                  f'{row["instance"]} k={row["k"]}: {row["status"]} cut={row.get("cut", "-")} '
                  f'cpu={row["cpu_s"]}s', file=sys.stderr, flush=True)
    os.rmdir(tmp)
    if args.csv:
        fields = ['nruns', 'nvcycles'] + run_bench.FIELDS
        with open(args.csv, 'w', newline='') as f:
            w = csv.DictWriter(f, fieldnames=fields)
            w.writeheader()
            for r in rows:
                w.writerow({k: r.get(k, '') for k in fields})

    bad = [r for r in rows if r['status'] != 'ok']
    head = ' | '.join(f'cut ratio k={k}' for k in args.k)
    thead = ' | '.join(f'time ratio k={k}' for k in args.k)
    print(f'| nruns | nvcycles | {head} | {thead} | CPU s (all runs) |')
    print('|' + '---:|' * (3 + 2 * len(args.k)))
    for s in settings:
        cr, tr = [], []
        for k in args.k:
            rs = [r for r in rows if (r['nruns'], r['nvcycles']) == s and r['k'] == k
                  and r['status'] == 'ok']
            pub = [(r, ref.get((r['instance'], k), (None, None))) for r in rs]
            cr.append(run_bench.geomean([float(r['cut']) / c for r, (c, _) in pub if c]))
            tr.append(run_bench.geomean([float(r['cpu_s']) / (run_bench.MACHINE_FACTOR * t)
                                         for r, (_, t) in pub if t]))
        cpu = sum(float(r['cpu_s']) for r in rows if (r['nruns'], r['nvcycles']) == s)
        print(f'| {s[0]} | {s[1]} | ' + ' | '.join(run_bench.fmt(x, '.3f') for x in cr) + ' | ' +
              ' | '.join(run_bench.fmt(x, '.3f') for x in tr) + f' | {cpu:.0f} |')
    if bad:
        print(f'\n{len(bad)} runs failed or broke the bound: ' +
              ', '.join(f'{r["instance"]} k={r["k"]} nruns={r["nruns"]} nvcycles={r["nvcycles"]} '
                        f'({r["status"]})' for r in bad))
    return 1 if bad else 0


if __name__ == '__main__':
    sys.exit(main())
