#!/usr/bin/env python3
"""Two weights per cell against one: balance, cut and time of both runs.

usage: run_multi.py VELDAN [--inst a,b] [--k 2,4,8,16,32] [--schemes rb,kway]
                    [--seeds 1,2] [--eps 0.03] [--jobs 1] [--work DIR]
                    [--data DIR] [--out runs.csv] [--summary summary.md]
                    [--check first|all] [--timeout SECONDS] [--extra "OPTIONS"]

Per instance two inputs are generated (in --work, else a temporary folder):
  NAME.multi.hgr   header "nnets nvtxs 10 2" (11 2 with net weights), two
                   weights per cell: ibm01..ibm14 the area weight of
                   ibmNN.weight.hgr and 1; the other instances the cell's
                   degree (nets it is a pin of, 0 allowed) and 1;
  NAME.single.hgr  the same nets with the first weight alone (fmt 10 / 11).
Each (scheme, k, seed) runs once on each ("multi" and "single") with
-epsilon, -nthreads=1 and -dbglvl=0; every partition is recounted against
the two weights of the multi input. The cut of the first run of every
instance (every run with --check all) is compared with
../shared/tools/evaluate.py.

CSV (--out, default stdout), one row per run: instance, scheme, k, seed,
mode, status, cut, imb_w0, imb_w1, within_bound, cpu_s, then exit, w0_ok,
w1_ok, wall_s, note (last line of the child's standard error).
imb_wj = heaviest part in weight j / (total_j / k) - 1; wj_ok = 1 when every
part is within max(1+eps, ceil(avg_j)/avg_j) x avg_j in weight j (the
raising only when all weights j are integers); within_bound = the weights the
run was asked to balance (multi: w0 and w1, single: w0) are all within.
The summary (Markdown, --summary FILE, default standard error) gives per
scheme and k the geometric means of cut(multi)/cut(single) and
cpu(multi)/cpu(single) over matching runs (pairs with a zero cut are left
out and counted), multi runs within the bound, the largest imbalances of the
multi runs and single runs whose second weight is out of bound.
Exit status 1 when a run gave no usable partition or a cut disagreed with
evaluate.py.
"""
import argparse, concurrent.futures, csv, math, os, shutil, signal, subprocess, sys, \
    tempfile, threading, time

HERE = os.path.dirname(os.path.abspath(__file__))
SHARED = os.path.normpath(os.path.join(HERE, '..', '..', 'shared'))
IBM = [f'ibm{i:02d}' for i in range(1, 15)]
DEFAULT_INST = ','.join(IBM + ['sat14_AProVE07-27.cnf.primal', 'powersim.mtx'])
MODES = ('multi', 'single')


def num(tok):
    try:
        return int(tok)
    except ValueError:
        return float(tok)


def read_source(path):
    """Nets (0-based pins), net weights or None, first cell weights or None."""
    with open(path) as f:
        lines = [l for l in (x.rstrip('\n') for x in f) if not l.startswith('%')]
    hdr = lines[0].split()
    nnets, ncells = int(hdr[0]), int(hdr[1])
    fmt = int(hdr[2]) if len(hdr) > 2 else 0
    netw = fmt % 10 > 0
    cellw = (fmt // 10) % 10 > 0
    nets, netwgt = [], [] if netw else None
    for i in range(nnets):
        tok = lines[1 + i].split()
        if netw:
            netwgt.append(num(tok[0]))
            tok = tok[1:]
        nets.append([int(t) - 1 for t in tok])
    cw = None
    if cellw:
        cw = [num(lines[1 + nnets + c].split()[0]) for c in range(ncells)]
    return ncells, nets, netwgt, cw


def source_of(data, inst):
    return os.path.join(data, inst + ('.weight.hgr' if inst in IBM else '.hgr'))


def write_hgr(path, ncells, nets, netwgt, weights):
    """weights: one list per weight; the file gets ncon = len(weights)."""
    fmt = 11 if netwgt is not None else 10
    ncon = len(weights)
    tmp = path + '.tmp'
    with open(tmp, 'w') as f:
        f.write(f'{len(nets)} {ncells} {fmt}' + (f' {ncon}' if ncon > 1 else '') + '\n')
        for i, pins in enumerate(nets):
            head = [str(netwgt[i])] if netwgt is not None else []
            f.write(' '.join(head + [str(p + 1) for p in pins]) + '\n')
        for c in range(ncells):
            f.write(' '.join(str(w[c]) for w in weights) + '\n')
    os.replace(tmp, path)


class Instance:
    """The generated inputs of one instance and what the recount needs."""

    def __init__(self, name, data, work):
        self.name = name
        src = source_of(data, name)
        ncells, nets, netwgt, cw = read_source(src)
        if name in IBM:
            if cw is None:
                sys.exit(f'{src}: no cell weights')
            w0 = cw
        else:
            w0 = [0] * ncells
            for pins in nets:
                for p in set(pins):
                    w0[p] += 1
        self.ncells, self.netwgt = ncells, netwgt
        self.nets = [sorted(set(p)) for p in nets]
        self.weights = [w0, [1] * ncells]
        self.files = {'multi': os.path.join(work, name + '.multi.hgr'),
                      'single': os.path.join(work, name + '.single.hgr')}
        if not os.path.exists(self.files['multi']):
            write_hgr(self.files['multi'], ncells, nets, netwgt, self.weights)
        if not os.path.exists(self.files['single']):
            write_hgr(self.files['single'], ncells, nets, netwgt, self.weights[:1])

    def recount(self, part, k, eps):
        """cut, [imbalance per weight], [within the bound per weight]."""
        cut = 0
        for i, pins in enumerate(self.nets):
            if pins:
                p0 = part[pins[0]]
                for p in pins:
                    if part[p] != p0:
                        cut += self.netwgt[i] if self.netwgt is not None else 1
                        break
        imbs, oks = [], []
        for w in self.weights:
            pw = [0] * k
            for c, p in enumerate(part):
                pw[p] += w[c]
            total = sum(pw)
            avg = total / k
            if avg <= 0:
                imbs.append(0.0)
                oks.append(True)
                continue
            bound = (1 + eps) * avg
            if all(float(x).is_integer() for x in w):
                bound = max(bound, math.ceil(avg))
            imbs.append(max(pw) / avg - 1)
            oks.append(max(pw) <= bound * (1 + 1e-9))
        return cut, imbs, oks


def read_part(path, ncells, k):
    try:
        part = [int(x) for x in open(path).read().split()]
    except (OSError, ValueError):
        return None
    if len(part) != ncells or any(p < 0 or p >= k for p in part):
        return None
    return part


def run_one(task):
    """Runs veldan once; returns (task, exit code, cpu_s, wall_s, note, timed_out)."""
    veldan, hgr, k, scheme, seed, eps, extra, partfile, errfile, timeout = task[-1]
    cmd = [veldan, f'-ptype={scheme}', f'-epsilon={eps}', f'-seed={seed}', '-nthreads=1',
           '-dbglvl=0', f'-output={partfile}'] + extra + [hgr, str(k)]
    if os.path.exists(partfile):
        os.remove(partfile)
    start = time.monotonic()
    with open(errfile, 'w') as err:
        p = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=err)
    timer, fired = None, []
    if timeout:
        def kill():
            fired.append(1)
            os.kill(p.pid, signal.SIGKILL)
        timer = threading.Timer(timeout, kill)
        timer.start()
    _, status, ru = os.wait4(p.pid, 0)
    p.returncode = os.waitstatus_to_exitcode(status)
    if timer:
        timer.cancel()
    wall = time.monotonic() - start
    with open(errfile) as err:
        lines = [l.strip() for l in err if l.strip()]
    os.remove(errfile)
    return task, p.returncode, ru.ru_utime + ru.ru_stime, wall, (lines[-1] if lines else ''), \
        bool(fired)


def evaluate_cut(hgr, partfile, k):
    ev = subprocess.run([sys.executable, os.path.join(SHARED, 'tools', 'evaluate.py'),
                         hgr, partfile, str(k)], capture_output=True, text=True).stdout
    f = dict(x.split('=', 1) for x in ev.split() if '=' in x)
    return f.get('cut')


def geomean(xs):
    return math.exp(sum(math.log(x) for x in xs) / len(xs)) if xs else float('nan')


def summarize(rows, eps, mismatches, out):
    by = {}
    for r in rows:
        by[(r['instance'], r['scheme'], r['k'], r['seed'], r['mode'])] = r
    groups = []
    schemes = list(dict.fromkeys(r['scheme'] for r in rows))
    for s in schemes:
        ks = sorted({r['k'] for r in rows if r['scheme'] == s})
        groups += [(s, str(k), lambda r, s=s, k=k: r['scheme'] == s and r['k'] == k) for k in ks]
        groups.append((s, 'all', lambda r, s=s: r['scheme'] == s))
    groups.append(('all', 'all', lambda r: True))

    out.write(f'Two weights per cell (multi) against the first weight alone (single), '
              f'epsilon {eps}.\n\n')
    out.write('| scheme | k | pairs | cut multi/single | cut, reachable | zero cut '
              '| cpu multi/single | multi within bound | out of reach (4) | missed (5) '
              '| max imb w0 (multi) | max imb w1 (multi) | single w1 out of bound '
              '| no partition |\n')
    out.write('|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n')
    for s, k, sel in groups:
        multi = [r for r in rows if r['mode'] == 'multi' and sel(r)]
        single = [r for r in rows if r['mode'] == 'single' and sel(r)]
        cut_r, reach_r, cpu_r, zero, pairs = [], [], [], 0, 0
        for m in multi:
            o = by.get((m['instance'], m['scheme'], m['k'], m['seed'], 'single'))
            if o is None or m['cut'] is None or o['cut'] is None:
                continue
            pairs += 1
            if m['cut'] > 0 and o['cut'] > 0:
                cut_r.append(m['cut'] / o['cut'])
                if m.get('exit') != 4:
                    reach_r.append(m['cut'] / o['cut'])
            else:
                zero += 1
            if m['cpu'] > 0 and o['cpu'] > 0:
                cpu_r.append(m['cpu'] / o['cpu'])
        done = [m for m in multi if m['cut'] is not None]
        within = sum(1 for m in done if m['ok'][0] and m['ok'][1])
        mx0 = max((m['imb'][0] for m in done), default=float('nan'))
        mx1 = max((m['imb'][1] for m in done), default=float('nan'))
        sdone = [o for o in single if o['cut'] is not None]
        sout = sum(1 for o in sdone if not o['ok'][1])
        failed = sum(1 for r in multi + single if r['cut'] is None)
        proved = sum(1 for m in multi if m.get('exit') == 4)
        missed = sum(1 for m in multi if m.get('exit') == 5)
        out.write(f'| {s} | {k} | {pairs} | {geomean(cut_r):.4f} | {geomean(reach_r):.4f} | '
                  f'{zero} | {geomean(cpu_r):.3f} | {within} of {len(multi)} | {proved} | '
                  f'{missed} | {mx0:.4f} | {mx1:.4f} | {sout} of {len(single)} | {failed} |\n')
    out.write('\n`pairs`: (instance, scheme, k, seed) with a partition from both runs; '
              'pairs where either cut is 0 are left out of the cut ratio (`zero cut`). '
              'A run counts as within the bound when every part is within '
              f'max({1 + eps:g} x average, average rounded up) in both weights. '
              '`out of reach (4)`: multi runs that ended with status 4 (the program proved '
              'that no partition meets the bound); `cut, reachable`: the cut ratio over the '
              'other pairs; `missed (5)`: multi runs that ended with status 5.\n')
    bad = [r for r in rows if r['mode'] == 'multi' and r['cut'] is not None
           and not (r['ok'][0] and r['ok'][1])]
    if bad:
        out.write('\nMulti runs beyond the bound (instance scheme k seed: imb_w0 imb_w1):\n\n')
        for r in bad:
            out.write(f"- {r['instance']} {r['scheme']} k={r['k']} seed={r['seed']}: "
                      f"{r['imb'][0]:.4f} {r['imb'][1]:.4f}\n")
    failed = [r for r in rows if r['cut'] is None]
    if failed:
        out.write('\nRuns without a usable partition:\n\n')
        for r in failed:
            out.write(f"- {r['instance']} {r['scheme']} k={r['k']} seed={r['seed']} "
                      f"{r['mode']}: {r['status']} {r['note']}\n")
    if mismatches:
        out.write('\nCuts that differ from evaluate.py:\n\n')
        for m in mismatches:
            out.write(f'- {m}\n')


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('veldan')
    ap.add_argument('--inst', default=DEFAULT_INST)
    ap.add_argument('--k', default='2,4,8,16,32')
    ap.add_argument('--schemes', default='rb,kway')
    ap.add_argument('--seeds', default='1,2')
    ap.add_argument('--eps', type=float, default=0.03)
    ap.add_argument('--jobs', type=int, default=1)
    ap.add_argument('--work', help='folder for the generated inputs, kept for reuse')
    ap.add_argument('--data', default=os.path.join(SHARED, 'data', 'hgr'))
    ap.add_argument('--out', default='-')
    ap.add_argument('--summary', default='-')
    ap.add_argument('--check', default='first', choices=['first', 'all'])
    ap.add_argument('--timeout', type=float, default=0)
    ap.add_argument('--extra', default='', help='options appended to every command')
    ap.add_argument('--from-csv', help='summarize this CSV of an earlier call instead of '
                    'running (the veldan argument is then ignored)')
    a = ap.parse_args()

    if a.from_csv:
        rows = []
        with open(a.from_csv, newline='') as f:
            for c in csv.DictReader(f):
                r = {'instance': c['instance'], 'scheme': c['scheme'], 'k': int(c['k']),
                     'seed': c['seed'], 'mode': c['mode'], 'status': c['status'],
                     'note': c['note'], 'cpu': float(c['cpu_s']), 'cut': None,
                     'exit': int(c['exit'])}
                if c['cut'] != '':
                    r.update(cut=float(c['cut']), imb=[float(c['imb_w0']), float(c['imb_w1'])],
                             ok=[c['w0_ok'] == '1', c['w1_ok'] == '1'])
                rows.append(r)
        sm = sys.stdout if a.summary == '-' else open(a.summary, 'w')
        summarize(rows, a.eps, [], sm)
        return

    veldan = os.path.abspath(a.veldan)
    if not os.access(veldan, os.X_OK):
        sys.exit(f'{a.veldan}: not an executable program')
    tmp = tempfile.mkdtemp(prefix='veldan-multi-')
    work = a.work or tmp
    os.makedirs(work, exist_ok=True)
    names = [n[:-4] if n.endswith('.hgr') else n for n in a.inst.split(',') if n]
    insts = {}
    for n in names:
        print(f'inputs of {n} ...', file=sys.stderr, flush=True)
        insts[n] = Instance(n, a.data, work)

    tasks = []
    for n in names:
        for scheme in a.schemes.split(','):
            for k in map(int, a.k.split(',')):
                for seed in a.seeds.split(','):
                    for mode in MODES:
                        i = len(tasks)
                        tasks.append((n, scheme, k, seed, mode,
                                      (veldan, insts[n].files[mode], k, scheme, seed, a.eps,
                                       a.extra.split(), os.path.join(tmp, f'run{i}.part'),
                                       os.path.join(tmp, f'run{i}.err'), a.timeout)))

    out = sys.stdout if a.out == '-' else open(a.out, 'w', newline='')
    w = csv.writer(out)
    w.writerow(['instance', 'scheme', 'k', 'seed', 'mode', 'status', 'cut', 'imb_w0', 'imb_w1',
                'within_bound', 'cpu_s', 'exit', 'w0_ok', 'w1_ok', 'wall_s', 'note'])
    out.flush()
    rows, mismatches, checked = [], [], set()
    try:
        with concurrent.futures.ThreadPoolExecutor(max(1, a.jobs)) as ex:
            for task, code, cpu, wall, note, timed_out in ex.map(run_one, tasks):
                n, scheme, k, seed, mode, params = task
                partfile = params[7]
                inst = insts[n]
                if timed_out:
                    status = 'timeout'
                elif code < 0:
                    status = f'signal {-code}'
                elif code != 0:
                    status = f'exit {code}'
                else:
                    status = 'ok'
                part = None
                if not timed_out and code >= 0:
                    part = read_part(partfile, inst.ncells, k)
                    if part is None:
                        status = ('no partition file' if not os.path.exists(partfile)
                                  else 'bad partition') + ('' if code == 0 else f' (exit {code})')
                r = {'instance': n, 'scheme': scheme, 'k': k, 'seed': seed, 'mode': mode,
                     'status': status, 'note': note, 'cpu': cpu, 'cut': None, 'exit': code}
                if part is not None:
                    cut, imbs, oks = inst.recount(part, k, a.eps)
                    r.update(cut=cut, imb=imbs, ok=oks)
                    if a.check == 'all' or n not in checked:
                        checked.add(n)
                        ev = evaluate_cut(inst.files['multi'], partfile, k)
                        if ev != f'{cut:g}':
                            mismatches.append(f'{n} {scheme} k={k} seed={seed} {mode}: '
                                              f'recount {cut}, evaluate.py {ev}')
                            print(f'cut mismatch: {mismatches[-1]}', file=sys.stderr)
                    own = oks if mode == 'multi' else oks[:1]
                    w.writerow([n, scheme, k, seed, mode, status, f'{cut:g}',
                                f'{imbs[0]:.5f}', f'{imbs[1]:.5f}', int(all(own)), f'{cpu:.2f}',
                                code, int(oks[0]), int(oks[1]), f'{wall:.2f}', note])
                else:
                    w.writerow([n, scheme, k, seed, mode, status, '', '', '', 0, f'{cpu:.2f}',
                                code, '', '', f'{wall:.2f}', note])
                out.flush()
                if os.path.exists(partfile):
                    os.remove(partfile)
                rows.append(r)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)

    sm = sys.stderr if a.summary == '-' else open(a.summary, 'w')
    summarize(rows, a.eps, mismatches, sm)
    if sm is not sys.stderr:
        sm.close()
    if out is not sys.stdout:
        out.close()
    return 1 if mismatches or any(r['cut'] is None for r in rows) else 0


if __name__ == '__main__':
    sys.exit(main())
