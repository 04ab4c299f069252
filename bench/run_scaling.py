#!/usr/bin/env python3
"""Scaling of veldan with the input size on generated circuit-like hypergraphs.

Generates hypergraphs of one shape (examples/gen_circuit: cells on a grid,
about 1.1 nets per cell, mostly 2- and 3-pin local nets, a tail of long nets)
with about 10^5, 10^6 and 10^7 pins, runs veldan on each at k = 8 and
epsilon 0.03 (one child process at a time), and prints the CPU time and the
peak memory per pin, and the growth exponent of the CPU time between
consecutive sizes (1.0 means linear).

Generated files are kept in --dir and reused when present.

Examples:
  bench/run_scaling.py --sizes 1e5,1e6
  bench/run_scaling.py --scheme kway --sizes 1e5,1e6,1e7 --csv scaling.csv
"""
import argparse
import csv
import math
import os
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # no __pycache__ beside the scripts
import run_bench  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))


def default_gen():
    for b in ('build-bench', 'build'):
        p = os.path.join(run_bench.REPO, b, 'examples', 'gen_circuit')
        if os.path.exists(p):
            return p
    return os.path.join(run_bench.REPO, 'build', 'examples', 'gen_circuit')


def header_and_pins(path):
    """(nets, cells, pins) of a generated file."""
    nets = cells = None
    pins = 0
    with open(path) as f:
        for line in f:
            if line.startswith('%'):
                continue
            if nets is None:
                nets, cells = map(int, line.split()[:2])
            else:
                pins += len(line.split())
    return nets, cells, pins


def generate(gen, cells, seed, path):
    if not os.path.exists(path):
        tmp = path + '.tmp'
        subprocess.run([gen, '-cells', str(cells), '-seed', str(seed), '-o', tmp], check=True)
        os.replace(tmp, path)
    return header_and_pins(path)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split('\n\n')[0],
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('--sizes', default='1e5,1e6,1e7', help='target pin counts')
    ap.add_argument('--k', type=int, default=8)
    ap.add_argument('--scheme', choices=['rb', 'kway'], default='rb')
    ap.add_argument('--seed', type=int, default=1, help='seed of veldan and of the generator')
    ap.add_argument('--extra', default='', help='extra options for veldan')
    ap.add_argument('--dir', default=os.path.join(tempfile.gettempdir(), 'veldan-scaling'),
                    help='folder of the generated hypergraphs (kept for reuse)')
    ap.add_argument('--gen', default=default_gen(), help='gen_circuit binary')
    ap.add_argument('--bin', default=run_bench.default_binary(), help='veldan binary')
    ap.add_argument('--csv', help='also write the rows to this CSV file')
    ap.add_argument('--no-check', action='store_true',
                    help='skip the independent recount of cut and imbalance')
    argv = list(sys.argv[1:] if argv is None else argv)
    for i in range(len(argv) - 1):
        if argv[i] == '--extra':
            argv[i:i + 2] = [f'--extra={argv[i + 1]}']
            break
    args = ap.parse_args(argv)
    for exe in (args.gen, args.bin):
        if not os.access(exe, os.X_OK):
            ap.error(f'not found: {exe} (build the gen_circuit and veldan targets)')
    sizes = [int(float(x)) for x in args.sizes.split(',') if x]
    os.makedirs(args.dir, exist_ok=True)

    # Pins per cell of this shape, from a sample: the net size distribution
    # does not depend on the cell count.
    sample = os.path.join(args.dir, f'circuit-sample-s{args.seed}.hgr')
    _, scells, spins = generate(args.gen, 20000, args.seed, sample)
    per_cell = spins / scells

    bt = run_bench.build_type(args.bin)
    print(f'commit {run_bench.git_commit()}, CPU {run_bench.cpu_model()}, binary {args.bin} ({bt})')
    if bt not in ('Release', 'RelWithDebInfo'):
        print(f'warning: {args.bin} is a {bt} build', file=sys.stderr)
    print(f'scheme {args.scheme}, k={args.k}, seed {args.seed}, {per_cell:.2f} pins per cell')

    tmp = tempfile.mkdtemp(prefix='veldan-scaling-run-')
    rows = []
    hdr = (f'{"pins":>10s} {"cells":>9s} {"nets":>9s} {"status":>10s} {"cut":>9s} '
           f'{"imbal":>7s} {"cpu_s":>8s} {"wall_s":>8s} {"peak_MB":>8s} {"us/pin":>7s} '
           f'{"B/pin":>7s} {"growth":>6s}')
    print(hdr)
    for target in sizes:
        cells = max(2, round(target / per_cell))
        path = os.path.join(args.dir, f'circuit-{cells}-s{args.seed}.hgr')
        nets, cells, pins = generate(args.gen, cells, args.seed, path)
        row = run_bench.one_run(args.bin, path, None if args.no_check else run_bench.read_hgr,
                                args.scheme, args.k, args.seed, args.extra, tmp, None)
        cpu, rss = float(row['cpu_s']), float(row['maxrss_mb'])
        r = {'pins': pins, 'cells': cells, 'nets': nets, 'status': row['status'],
             'cut': row.get('cut', ''), 'imbalance': row.get('imbalance', ''), 'cpu_s': cpu,
             'wall_s': float(row['wall_s']), 'peak_mb': rss,
             'us_per_pin': 1e6 * cpu / pins, 'bytes_per_pin': rss * 1024 * 1024 / pins}
        r['growth'] = (math.log(cpu / rows[-1]['cpu_s']) / math.log(pins / rows[-1]['pins'])
                       if rows and rows[-1]['cpu_s'] > 0 and cpu > 0 and pins != rows[-1]['pins']
                       else None)
        rows.append(r)
        print(f'{pins:10d} {cells:9d} {nets:9d} {r["status"]:>10s} {r["cut"] or "-":>9s} '
              f'{r["imbalance"][:7] or "-":>7s} {cpu:8.2f} {r["wall_s"]:8.2f} {rss:8.1f} '
              f'{r["us_per_pin"]:7.2f} {r["bytes_per_pin"]:7.0f} '
              f'{"-" if r["growth"] is None else format(r["growth"], ".2f"):>6s}', flush=True)
    os.rmdir(tmp)
    if args.csv:
        with open(args.csv, 'w', newline='') as f:
            w = csv.DictWriter(f, fieldnames=list(rows[0].keys()))
            w.writeheader()
            w.writerows(rows)
    return 0 if all(r['status'] == 'ok' for r in rows) else 1


if __name__ == '__main__':
    sys.exit(main())
