#!/usr/bin/env python3
"""veldan-mpi against veldan: quality, wall time and peak memory.

    bench/run_mpi.py                          # ibm01..14 at k=2,8,32 and the 1e6/1e7-pin inputs
    bench/run_mpi.py --quick                  # ibm01..03, k=2,8, the 1e6-pin input
    bench/run_mpi.py --no-gen --inst ibm05 --k 8 --extra "-zparam=PHG_REFINEMENT_QUALITY=2"

Runs veldan-mpi on P=1 and P=2 processes (--np) and veldan
(-epsilon=E -seed=1 -dbglvl=0) on the instances of ../shared/data/hgr/ and
on inputs of 1e6 and 1e7 pins made with gen_circuit into /tmp. Every
partition is recounted by ../shared/tools/evaluate.py (cut, imbalance).
Peak resident memory: veldan's from wait4, veldan-mpi's per rank from its
-stats report. Writes mpi.csv and mpi.md to --out (default
bench/results/mpi-<date>).
"""
import argparse
import csv
import datetime
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SHARED = os.path.join(os.path.dirname(ROOT), 'shared')


def first_existing(paths):
    for p in paths:
        if p and os.path.exists(p):
            return p
    return paths[0]


def run_timed(cmd, env=None, timeout=None):
    """Runs cmd; returns status, stdout, stderr, wall seconds, peak RSS (KiB) of the child."""
    start = time.monotonic()
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        p = subprocess.Popen(cmd, stdout=out, stderr=err, env=env)
        deadline = None if timeout is None else start + timeout
        while True:
            pid, status, usage = os.wait4(p.pid, os.WNOHANG)
            if pid != 0:
                break
            if deadline is not None and time.monotonic() > deadline:
                p.kill()
                pid, status, usage = os.wait4(p.pid, 0)
                break
            time.sleep(0.05)
        p.returncode = os.waitstatus_to_exitcode(status)
        wall = time.monotonic() - start
        out.seek(0)
        err.seek(0)
        return (p.returncode, out.read().decode(errors='replace'),
                err.read().decode(errors='replace'), wall, usage.ru_maxrss)


def evaluate(hgr, part, k):
    p = subprocess.run([sys.executable, os.path.join(SHARED, 'tools', 'evaluate.py'), hgr, part,
                        str(k)], capture_output=True, text=True)
    if p.returncode != 0:
        return None
    return {kv.split('=')[0]: kv.split('=')[1] for kv in p.stdout.split()}


def mpi_env():
    env = dict(os.environ)
    env.setdefault('OMPI_ALLOW_RUN_AS_ROOT', '1')
    env.setdefault('OMPI_ALLOW_RUN_AS_ROOT_CONFIRM', '1')
    env.setdefault('OMPI_MCA_pml', 'ob1')
    env.setdefault('OMPI_MCA_btl', 'self,vader')
    env.setdefault('OMPI_MCA_mtl', '^ofi')
    env.setdefault('OMPI_MCA_osc', '^ucx')
    # Waiting ranks give their core away: the machine is shared.
    env.setdefault('OMPI_MCA_mpi_yield_when_idle', '1')
    return env


def gen_input(gen, pins, folder):
    # gen_circuit averages about 4.57 pins per cell.
    cells = int(round(pins / 4.57))
    path = os.path.join(folder, f'gen_{pins:.0e}.hgr'.replace('+', ''))
    if not os.path.exists(path):
        subprocess.run([gen, '-cells', str(cells), '-seed', '1', '-o', path], check=True)
    return path


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument('--bin-mpi', default=first_existing(
        [os.path.join(ROOT, 'build', 'programs', 'mpi', 'veldan-mpi'), '/tmp/mpibuild/veldan-mpi']))
    ap.add_argument('--veldan', default=os.path.join(ROOT, 'build', 'programs', 'veldan'))
    ap.add_argument('--gen', default=os.path.join(ROOT, 'build', 'examples', 'gen_circuit'))
    ap.add_argument('--mpiexec', default='mpirun')
    ap.add_argument('--np', default='1,2')
    ap.add_argument('--k', default='2,8,32')
    ap.add_argument('--inst', default=','.join(f'ibm{i:02d}' for i in range(1, 15)))
    ap.add_argument('--sizes', default='1e6,1e7', help='pins of the generated inputs')
    ap.add_argument('--gen-k', default='8', help='k for the generated inputs')
    ap.add_argument('--epsilon', default='0.03')
    ap.add_argument('--extra', default='', help='options added to every veldan-mpi command')
    ap.add_argument('--no-veldan', action='store_true')
    ap.add_argument('--no-gen', action='store_true')
    ap.add_argument('--no-ibm', action='store_true')
    ap.add_argument('--tmp', default='/tmp/veldan-mpi-bench')
    ap.add_argument('--timeout', type=float, default=3600)
    ap.add_argument('--quick', action='store_true')
    ap.add_argument('--out', default=os.path.join(
        ROOT, 'bench', 'results', 'mpi-' + datetime.datetime.now().strftime('%Y%m%d-%H%M%S')))
    a = ap.parse_args()
    if a.quick:
        a.inst, a.k, a.sizes = 'ibm01,ibm02,ibm03', '2,8', '1e6'

    os.makedirs(a.out, exist_ok=True)
    os.makedirs(a.tmp, exist_ok=True)
    nps = [int(x) for x in a.np.split(',')]
    jobs = []  # (instance name, path, k)
    if not a.no_ibm:
        for name in a.inst.split(','):
            src = os.path.join(SHARED, 'data', 'hgr', name + '.hgr')
            if not os.path.exists(src):
                print(f'skipping {name}: {src} not found')
                continue
            for k in a.k.split(','):
                jobs.append((name, src, int(k)))
    if not a.no_gen:
        for s in a.sizes.split(','):
            path = gen_input(a.gen, float(s), a.tmp)
            for k in a.gen_k.split(','):
                jobs.append((f'gen {s} pins', path, int(k)))

    rows = []
    fields = ['instance', 'k', 'tool', 'cut', 'km1', 'imbalance', 'within_bound', 'wall_s',
              'peak_rss_mib_max', 'peak_rss_mib_ranks', 'status']
    eps = float(a.epsilon)
    for name, path, k in jobs:
        part = os.path.join(a.tmp, 'bench.part')
        tools = [] if a.no_veldan else [('veldan', [a.veldan, f'-epsilon={a.epsilon}', '-seed=1',
                                                    '-dbglvl=0', f'-output={part}', path, str(k)])]
        for p in nps:
            tools.append((f'veldan-mpi P={p}',
                          [a.mpiexec, '--quiet', '--oversubscribe', '-np', str(p), a.bin_mpi,
                           f'-epsilon={a.epsilon}', '-seed=1', '-dbglvl=0', '-stats',
                           f'-output={part}'] + a.extra.split() + [path, str(k)]))
        for tool, cmd in tools:
            if os.path.exists(part):
                os.unlink(part)
            status, out, err, wall, rss = run_timed(cmd, env=mpi_env(), timeout=a.timeout)
            row = {'instance': name, 'k': k, 'tool': tool, 'status': status,
                   'wall_s': f'{wall:.2f}'}
            m = re.search(r'Peak resident memory per process \(KiB\):([ 0-9]+)', out)
            ranks = [int(x) for x in m.group(1).split()] if m else [rss]
            row['peak_rss_mib_max'] = f'{max(ranks) / 1024:.1f}'
            row['peak_rss_mib_ranks'] = ' '.join(f'{r / 1024:.1f}' for r in ranks)
            if status == 0 and os.path.exists(part):
                ev = evaluate(path, part, k)
                if ev:
                    row['cut'] = ev['cut']
                    row['km1'] = ev['km1']
                    row['imbalance'] = ev['imbalance']
                    row['within_bound'] = 'yes' if float(ev['imbalance']) <= eps + 1e-9 else 'NO'
            else:
                print(f'  failed: {" ".join(cmd)}\n{err[-2000:]}')
            rows.append(row)
            print(f'{name:>14} k={k:<3} {tool:<16} cut={row.get("cut", "-"):>8} '
                  f'imb={row.get("imbalance", "-"):>8} wall={row["wall_s"]:>7}s '
                  f'rss={row["peak_rss_mib_ranks"]} MiB', flush=True)

    with open(os.path.join(a.out, 'mpi.csv'), 'w', newline='') as f:
        w = csv.DictWriter(f, fieldnames=fields)
        w.writeheader()
        for r in rows:
            w.writerow({k: r.get(k, '') for k in fields})

    # Summary: cut ratios on the shared instances, memory on the generated ones.
    def pick(inst, k, tool):
        for r in rows:
            if r['instance'] == inst and r['k'] == k and r['tool'] == tool:
                return r
        return None

    lines = ['| instance | k | tool | cut | km1 | imbalance | within bound | wall s | '
             'peak RSS MiB (max) | per rank |',
             '|---|---|---|---|---|---|---|---|---|---|']
    for r in rows:
        lines.append(f'| {r["instance"]} | {r["k"]} | {r["tool"]} | {r.get("cut", "-")} | '
                     f'{r.get("km1", "-")} | {r.get("imbalance", "-")} | '
                     f'{r.get("within_bound", "-")} | {r["wall_s"]} | {r["peak_rss_mib_max"]} | '
                     f'{r["peak_rss_mib_ranks"]} |')
    summary = ['', '## Summary', '']
    for p in nps:
        tool = f'veldan-mpi P={p}'
        ratios, within, total, tv, tm = [], 0, 0, 0.0, 0.0
        for name, _, k in jobs:
            if name.startswith('gen'):
                continue
            r, v = pick(name, k, tool), pick(name, k, 'veldan')
            if r is None or 'cut' not in r:
                continue
            total += 1
            within += r.get('within_bound') == 'yes'
            tm += float(r['wall_s'])
            if v is not None and 'cut' in v and float(v['cut']) > 0:
                ratios.append(float(r['cut']) / float(v['cut']))
                tv += float(v['wall_s'])
        if total:
            gm = math.exp(sum(map(math.log, ratios)) / len(ratios)) if ratios else float('nan')
            summary.append(f'- {tool} on the shared instances: {within}/{total} partitions within '
                           f'the bound; cut / veldan cut, geometric mean over {len(ratios)} runs: '
                           f'{gm:.3f}; wall time {tm:.0f} s (veldan {tv:.0f} s)')
    for name, _, k in jobs:
        if not name.startswith('gen'):
            continue
        one, two = pick(name, k, 'veldan-mpi P=1'), pick(name, k, 'veldan-mpi P=2')
        if one and two and float(one['peak_rss_mib_max']) > 0:
            ratio = float(two['peak_rss_mib_max']) / float(one['peak_rss_mib_max'])
            summary.append(f'- {name}, k={k}: peak RSS of the largest rank, P=2 / P=1: '
                           f'{two["peak_rss_mib_max"]} / {one["peak_rss_mib_max"]} MiB = '
                           f'{ratio:.2f}; wall P=1 {one["wall_s"]} s, P=2 {two["wall_s"]} s' +
                           (f', veldan {pick(name, k, "veldan")["wall_s"]} s, '
                            f'{pick(name, k, "veldan")["peak_rss_mib_max"]} MiB'
                            if pick(name, k, 'veldan') else ''))
    host = os.uname()
    header = [f'# veldan-mpi benchmark, {datetime.datetime.now():%Y-%m-%d %H:%M}',
              '', f'Machine: {host.nodename}, {os.cpu_count()} cores, load average at the end '
              f'{os.getloadavg()[0]:.1f}; epsilon {a.epsilon}; extra options: '
              f'`{a.extra or "none"}`', '']
    with open(os.path.join(a.out, 'mpi.md'), 'w') as f:
        f.write('\n'.join(header + lines + summary) + '\n')
    print('\n'.join(summary))
    print(f'written: {a.out}/mpi.csv, {a.out}/mpi.md')
    failed = any(r['status'] != 0 for r in rows)
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
