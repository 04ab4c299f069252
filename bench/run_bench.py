#!/usr/bin/env python3
"""End-to-end benchmark of veldan against published cuts at epsilon 0.03.

Runs the Release binary over the instances of the shared data folder that the
reference table covers, for a list of k and seeds, one child process at a
time (by default), and writes into the output folder:

  runs.csv     one row per run, failures included (status column)
  summary.md   per (instance, k): mean cut, published mean cut, cut ratio,
               worst imbalance, mean CPU, CPU / (0.78 x published time),
               peak memory; geometric means per k and overall; commit id and
               CPU model at the top
  plot.svg     time ratio against cut ratio, one point per (instance, k),
               one colour per k

Every partition is recounted here (cut, SOED, k-1, imbalance) from the
hypergraph file and the written partition file; the program's own report is
not trusted. Inputs are symlinked into a temporary folder so that no partition
file lands in the shared folder.

Examples:
  bench/run_bench.py --quick
  bench/run_bench.py --scheme rb --k 2,4,8,16,32,64,128 --seeds 1,2,3
  bench/run_bench.py --scheme kway --inst ibm01,ibm02 --k 8 --extra "-nruns=4"
"""
import argparse
import concurrent.futures
import csv
import datetime
import math
import os
import shlex
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
SHARED = os.path.normpath(os.path.join(REPO, '..', 'shared'))
DATA = os.path.join(SHARED, 'data', 'hgr')
REF = os.path.join(SHARED, 'data', 'reference', 'cut_eps003.csv')

EPS = 0.03
# Publishers' machine time x 0.78 is taken as the time the same work needs
# here; the speed target is 0.2 of that.
MACHINE_FACTOR = 0.78
SPEED_TARGET = 0.2
QUICK_INST = ['ibm01', 'ibm02', 'ibm03']
QUICK_K = [2, 8]
QUICK_SEEDS = [1]
DEFAULT_K = [2, 4, 8, 16, 32, 64, 128]
DEFAULT_SEEDS = list(range(1, 11))


# --- the unbalance factor ------------------------------------------------------

def ufactor(scheme, k, eps=EPS):
    """The -ufactor value that bounds every part by (1 + eps) x average.

    Recursive bisection: each of the log2(k) bisection levels may deviate by
    b percent from an even split, b = 50 ((1 + eps)^(1/log2 k) - 1), rounded
    down so that the bound is never looser than eps. Direct k-way: 100 eps.
    """
    if scheme == 'kway':
        return 100.0 * eps
    d = math.log2(k)
    b = 50.0 * ((1.0 + eps) ** (1.0 / d) - 1.0)
    return math.floor(b * 1e6) / 1e6


# --- independent count -----------------------------------------------------------

def read_hgr(path):
    """Nets (lists of 0-based distinct cells), net weights, cell weights."""
    with open(path) as f:
        lines = [l for l in (x.rstrip('\n') for x in f) if not l.startswith('%')]
    hdr = lines[0].split()
    nnets, ncells = int(hdr[0]), int(hdr[1])
    fmt = int(hdr[2]) if len(hdr) > 2 else 0
    netw, cellw = fmt % 10 > 0, (fmt // 10) % 10 > 0
    nets, weights = [], []
    for i in range(nnets):
        tok = lines[1 + i].split()
        w = 1.0
        if netw:
            w = float(tok[0])
            tok = tok[1:]
        nets.append(list({int(t) - 1 for t in tok}))
        weights.append(w)
    cw = [1.0] * ncells
    if cellw:
        for c in range(ncells):
            cw[c] = float(lines[1 + nnets + c].split()[0])
    return nets, weights, cw


def count(hg, part, k):
    """Cut, SOED, k-1, part weights and imbalance of a part vector, or an
    error text when the vector does not fit the hypergraph."""
    nets, weights, cw = hg
    if len(part) != len(cw):
        return {'error': f'{len(part)} entries for {len(cw)} cells'}
    if any(p < 0 or p >= k for p in part):
        return {'error': 'part number out of range'}
    cut = soed = km1 = 0.0
    for pins, w in zip(nets, weights):
        span = len({part[p] for p in pins})
        if span > 1:
            cut += w
            soed += span * w
            km1 += (span - 1) * w
    pw = [0.0] * k
    for c, p in enumerate(part):
        pw[p] += cw[c]
    avg = sum(pw) / k
    return {'cut': cut, 'soed': soed, 'km1': km1, 'maxpart': max(pw), 'avgpart': avg,
            'imbalance': (max(pw) / avg - 1.0) if avg > 0 else 0.0,
            'empty': sum(1 for x in pw if x == 0)}


# --- one run -----------------------------------------------------------------------

def run_child(cmd, timeout=None, cwd=None):
    """Runs cmd with stdout/stderr in files; returns (status, rusage, wall,
    stdout, stderr). rusage is the child's own (os.wait4), so ru_maxrss is
    its peak resident size and not the largest of all children so far."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        t0 = time.perf_counter()
        p = subprocess.Popen(cmd, stdout=out, stderr=err, cwd=cwd)
        timed_out = False
        if timeout:
            # Poll without reaping, so that wait4 below still sees the child.
            deadline = t0 + timeout
            while True:
                r = os.waitid(os.P_PID, p.pid, os.WEXITED | os.WNOHANG | os.WNOWAIT)
                if r is not None:
                    break
                if time.perf_counter() > deadline:
                    p.kill()
                    timed_out = True
                    break
                time.sleep(0.05)
        _, status, ru = os.wait4(p.pid, 0)
        wall = time.perf_counter() - t0
        p.returncode = os.waitstatus_to_exitcode(status)  # keeps Popen from waiting again
        out.seek(0)
        err.seek(0)
        return ('timeout' if timed_out else status), ru, wall, \
            out.read().decode(errors='replace'), err.read().decode(errors='replace')


FIELDS = ['instance', 'scheme', 'k', 'seed', 'ufactor', 'extra', 'status', 'exit', 'cut',
          'soed', 'km1', 'imbalance', 'maxpart', 'avgpart', 'empty', 'threads', 'cpu_s', 'wall_s',
          'maxrss_mb', 'note']


def child_status(status, timeout):
    """(status, exit, note) of a finished child as run_child gives its wait
    status: 'ok' on exit 0, else the timeout, signal or exit code."""
    if status == 'timeout':
        return 'timeout', '', f'killed after {timeout:g} s'
    code = os.waitstatus_to_exitcode(status)
    if code < 0:
        return f'signal {-code}', code, ''
    if code != 0:
        return f'exit {code}', code, ''
    return 'ok', code, ''


def one_run(binary, src, hg_cache, scheme, k, seed, extra, tmp, timeout, threads=1):
    inst = os.path.basename(src)[:-len('.hgr')]
    uf = ufactor(scheme, k)
    # Own folder per run: parallel runs of one instance and k must not share
    # a partition file.
    rundir = tempfile.mkdtemp(dir=tmp)
    hgr = os.path.join(rundir, inst + '.hgr')
    os.symlink(src, hgr)
    cmd = [binary, f'-ptype={scheme}', f'-ufactor={uf:g}', f'-seed={seed}', '-dbglvl=0',
           f'-nthreads={threads}']
    cmd += shlex.split(extra) + [hgr, str(k)]
    row = {'instance': inst, 'scheme': scheme, 'k': k, 'seed': seed, 'ufactor': f'{uf:g}',
           'extra': extra, 'threads': threads, 'note': ''}
    status, ru, wall, out, err = run_child(cmd, timeout)
    row['cpu_s'] = f'{ru.ru_utime + ru.ru_stime:.3f}'
    row['wall_s'] = f'{wall:.3f}'
    row['maxrss_mb'] = f'{ru.ru_maxrss / 1024.0:.1f}'  # Linux reports KiB
    part_path = f'{hgr}.part.{k}'
    row['status'], row['exit'], row['note'] = child_status(status, timeout)
    if row['status'] == 'ok':
        if not os.path.exists(part_path):
            row['status'] = 'no partition file'
        elif hg_cache is None:
            row['status'], row['note'] = 'ok', 'not recounted'
        else:
            try:
                part = [int(x) for x in open(part_path).read().split()]
                f = count(hg_cache(src), part, k)
            except ValueError as e:
                f = {'error': f'unreadable partition file: {e}'}
            if 'error' in f:
                row['status'] = 'bad partition'
                row['note'] = f['error']
            else:
                row['status'] = 'imbalanced' if f['imbalance'] > EPS + 1e-9 else 'ok'
                row['cut'] = f'{f["cut"]:g}'
                row['soed'] = f'{f["soed"]:g}'
                row['km1'] = f'{f["km1"]:g}'
                row['imbalance'] = f'{f["imbalance"]:.6f}'
                row['maxpart'] = f'{f["maxpart"]:g}'
                row['avgpart'] = f'{f["avgpart"]:g}'
                row['empty'] = f['empty']
    if row['status'] not in ('ok', 'imbalanced') and not row['note']:
        row['note'] = ' '.join((err.strip() or out.strip()[-300:]).split())[:300]
    for p in (part_path, hgr):
        if os.path.lexists(p):
            os.remove(p)
    os.rmdir(rundir)
    return row


# --- context -------------------------------------------------------------------------

def git_commit():
    try:
        h = subprocess.run(['git', '-C', REPO, 'rev-parse', '--short', 'HEAD'],
                           capture_output=True, text=True, check=True).stdout.strip()
        dirty = subprocess.run(['git', '-C', REPO, 'status', '--porcelain',
                                '--untracked-files=no'],
                               capture_output=True, text=True).stdout.strip()
        return h + ('-dirty' if dirty else '')
    except (OSError, subprocess.CalledProcessError):
        return 'unknown'


def cpu_model():
    try:
        for line in open('/proc/cpuinfo'):
            if line.startswith('model name'):
                return line.split(':', 1)[1].strip()
    except OSError:
        pass
    return 'unknown'


def build_type(binary):
    """CMAKE_BUILD_TYPE of the build folder holding the binary, if found."""
    d = os.path.dirname(os.path.abspath(binary))
    for _ in range(3):
        cache = os.path.join(d, 'CMakeCache.txt')
        if os.path.exists(cache):
            for line in open(cache):
                if line.startswith('CMAKE_BUILD_TYPE:'):
                    return line.split('=', 1)[1].strip() or 'unset'
            return 'unset'
        d = os.path.dirname(d)
    return 'unknown'


def default_binary():
    for b in ('build-bench', 'build'):
        p = os.path.join(REPO, b, 'programs', 'veldan')
        if os.path.exists(p):
            return p
    return os.path.join(REPO, 'build', 'programs', 'veldan')


def read_reference(path, scheme):
    col = 'published_rb' if scheme == 'rb' else 'published_kway'
    ref = {}
    with open(path) as f:
        for r in csv.DictReader(f):
            cut, t = r.get(f'{col}_cut_mean'), r.get(f'{col}_time_mean')
            ref[(r['instance'], int(r['k']))] = (float(cut) if cut else None,
                                                 float(t) if t else None)
    return col, ref


# --- summary -----------------------------------------------------------------------

def geomean(xs):
    return math.exp(sum(map(math.log, xs)) / len(xs)) if xs else float('nan')


def fmt(x, spec):
    return '-' if x is None or (isinstance(x, float) and math.isnan(x)) else format(x, spec)


def summarise(rows, ref, insts, ks):
    """One record per (instance, k) in run order, with the figures of the
    table; cut and time ratios where a published value exists."""
    out = []
    for inst in insts:
        for k in ks:
            rs = [r for r in rows if r['instance'] == inst and r['k'] == k]
            if not rs:
                continue
            good = [r for r in rs if r['status'] in ('ok', 'imbalanced')]
            pub_cut, pub_t = ref.get((inst, k), (None, None))
            s = {'instance': inst, 'k': k, 'runs': len(rs), 'good': len(good),
                 'failed': len(rs) - len(good),
                 'imbalanced': sum(r['status'] == 'imbalanced' for r in rs),
                 'pub_cut': pub_cut, 'pub_time': pub_t,
                 'maxrss': max(float(r['maxrss_mb']) for r in rs)}
            cpus = [float(r['cpu_s']) for r in good]
            s['cpu'] = sum(cpus) / len(cpus) if cpus else None
            walls = [float(r['wall_s']) for r in good]
            s['wall'] = sum(walls) / len(walls) if walls else None
            if good:
                cuts = [float(r['cut']) for r in good]
                s['cut'] = sum(cuts) / len(cuts)
                s['mincut'] = min(cuts)
                s['maximb'] = max(float(r['imbalance']) for r in good)
            else:
                s['cut'] = s['mincut'] = s['maximb'] = None
            s['cut_ratio'] = s['cut'] / pub_cut if (s['cut'] is not None and pub_cut) else None
            s['time_ratio'] = (s['cpu'] / (MACHINE_FACTOR * pub_t)
                               if (s['cpu'] is not None and pub_t) else None)
            out.append(s)
    return out


def write_summary(path, summary, rows, args, meta):
    col = meta['column']
    lines = [f'# veldan benchmark: scheme {args.scheme}, epsilon {EPS}', '',
             f'- commit: `{meta["commit"]}`',
             f'- CPU: {meta["cpu"]}',
             f'- binary: `{meta["binary"]}` (build type {meta["build_type"]})',
             f'- date: {meta["date"]}',
             f'- k: {",".join(map(str, args.k))}; seeds: {",".join(map(str, args.seeds))}; '
             f'extra options: `{args.extra or "(none)"}`; threads per run: {args.threads}; '
             f'parallel jobs: {args.jobs}',
             f'- reference: `{col}` of {os.path.basename(REF)}; time ratio = mean CPU / '
             f'({MACHINE_FACTOR} x published mean time); speed target: time ratio <= '
             f'{SPEED_TARGET}',
             f'- runs: {len(rows)}, failed: {sum(r["status"] not in ("ok", "imbalanced") for r in rows)}, '
             f'imbalanced (> {EPS}): {sum(r["status"] == "imbalanced" for r in rows)}',
             f'- command: `{meta["command"]}`', '']
    if meta['build_type'] not in ('Release', 'RelWithDebInfo'):
        lines += [f'**Warning: the binary is not a Release build ({meta["build_type"]}); '
                  'times are not comparable.**', '']
    if args.jobs > 1:
        lines += [f'**Warning: {args.jobs} runs in parallel; times may be disturbed.**', '']
    lines += ['| instance | k | runs ok | mean cut | min cut | published | cut ratio | max imbalance '
              '| mean CPU s | mean wall s | published s | time ratio | peak MB | flags |',
              '|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|']
    for s in summary:
        flags = []
        if s['failed']:
            flags.append(f'**FAILED {s["failed"]}**')
        if s['imbalanced']:
            flags.append(f'**IMBALANCED {s["imbalanced"]}**')
        if s['time_ratio'] is not None and s['time_ratio'] > SPEED_TARGET:
            flags.append('slow')
        lines.append(
            f'| {s["instance"]} | {s["k"]} | {s["good"]}/{s["runs"]} | {fmt(s["cut"], ".1f")} | '
            f'{fmt(s["mincut"], ".0f")} | {fmt(s["pub_cut"], ".1f")} | '
            f'{fmt(s["cut_ratio"], ".3f")} | {fmt(s["maximb"], ".4f")} | {fmt(s["cpu"], ".2f")} | '
            f'{fmt(s["wall"], ".2f")} | '
            f'{fmt(s["pub_time"], ".3f")} | {fmt(s["time_ratio"], ".3f")} | '
            f'{s["maxrss"]:.1f} | {" ".join(flags)} |')
    lines += ['', '## Geometric means', '',
              '| k | pairs | cut ratio | time ratio | pairs without a result |',
              '|---:|---:|---:|---:|---:|']
    groups = [(str(k), [s for s in summary if s['k'] == k]) for k in args.k]
    groups.append(('all', summary))
    for name, ss in groups:
        cr = [s['cut_ratio'] for s in ss if s['cut_ratio'] is not None]
        tr = [s['time_ratio'] for s in ss if s['time_ratio'] is not None]
        missing = sum(1 for s in ss if s['cut'] is None)
        if not ss:
            continue
        lines.append(f'| {name} | {len(cr)} | {fmt(geomean(cr), ".4f")} | '
                     f'{fmt(geomean(tr), ".4f")} | {missing} |')
    bad = [r for r in rows if r['status'] not in ('ok', 'imbalanced')]
    if bad:
        lines += ['', '## Failed runs', '']
        for r in bad:
            lines.append(f'- {r["instance"]} k={r["k"]} seed={r["seed"]}: {r["status"]}'
                         f'{": " + r["note"] if r["note"] else ""}')
    imb = [r for r in rows if r['status'] == 'imbalanced']
    if imb:
        lines += ['', '## Imbalanced runs', '']
        for r in imb:
            lines.append(f'- {r["instance"]} k={r["k"]} seed={r["seed"]}: imbalance '
                         f'{r["imbalance"]} (cut {r["cut"]})')
    with open(path, 'w') as f:
        f.write('\n'.join(lines) + '\n')
    return lines


# --- picture ---------------------------------------------------------------------

PALETTE = ['#1f77b4', '#ff7f0e', '#2ca02c', '#d62728', '#9467bd', '#8c564b', '#e377c2',
           '#7f7f7f', '#bcbd22', '#17becf']


def svg_escape(t):
    return str(t).replace('&', '&amp;').replace('<', '&lt;').replace('>', '&gt;')


def nice_ticks(lo, hi, n=6):
    span = hi - lo
    step = 10 ** math.floor(math.log10(span / n)) if span > 0 else 1.0
    for m in (1, 2, 2.5, 5, 10):
        if span / (m * step) <= n:
            step *= m
            break
    t = math.ceil(lo / step) * step
    ticks = []
    while t <= hi + 1e-12:
        ticks.append(round(t, 10))
        t += step
    return ticks


def write_svg(path, summary, ks, title):
    """Scatter of time ratio (x, log scale) against cut ratio (y), one point
    per (instance, k) with both ratios, coloured by k, with the speed target
    and cut ratio 1 drawn as guides."""
    pts = [(s['time_ratio'], s['cut_ratio'], s['k'], s['instance']) for s in summary
           if s['time_ratio'] and s['cut_ratio']]
    W, H, L, R, T, B = 760, 520, 80, 150, 50, 60
    pw, ph = W - L - R, H - T - B
    out = [f'<svg xmlns="http://www.w3.org/2000/svg" width="{W}" height="{H}" '
           f'font-family="sans-serif" font-size="12">',
           f'<rect width="{W}" height="{H}" fill="white"/>',
           f'<text x="{W / 2}" y="24" text-anchor="middle" font-size="15">{svg_escape(title)}</text>']
    if not pts:
        out.append(f'<text x="{W / 2}" y="{H / 2}" text-anchor="middle">no (instance, k) '
                   'with both a result and a published value</text></svg>')
        with open(path, 'w') as f:
            f.write('\n'.join(out) + '\n')
        return
    xs = [math.log10(p[0]) for p in pts] + [math.log10(SPEED_TARGET)]
    ys = [p[1] for p in pts] + [1.0]
    x0, x1 = math.floor(min(xs) * 2) / 2, math.ceil(max(xs) * 2) / 2
    if x1 - x0 < 1:
        x1 = x0 + 1
    y0, y1 = min(ys), max(ys)
    pad = max((y1 - y0) * 0.08, 0.01)
    y0, y1 = y0 - pad, y1 + pad

    def X(v):
        return L + (math.log10(v) - x0) / (x1 - x0) * pw

    def Y(v):
        return T + (1 - (v - y0) / (y1 - y0)) * ph

    out.append(f'<rect x="{L}" y="{T}" width="{pw}" height="{ph}" fill="none" stroke="black"/>')
    # x axis: decades and their 2 and 5 multiples
    e = math.floor(x0)
    while e <= x1:
        for m in (1, 2, 5):
            v = m * 10 ** e
            if x0 - 1e-9 <= math.log10(v) <= x1 + 1e-9:
                x = X(v)
                out.append(f'<line x1="{x:.1f}" y1="{T}" x2="{x:.1f}" y2="{T + ph}" '
                           f'stroke="#e0e0e0"/>')
                out.append(f'<text x="{x:.1f}" y="{T + ph + 16}" text-anchor="middle">{v:g}</text>')
        e += 1
    for v in nice_ticks(y0, y1):
        y = Y(v)
        out.append(f'<line x1="{L}" y1="{y:.1f}" x2="{L + pw}" y2="{y:.1f}" stroke="#e0e0e0"/>')
        out.append(f'<text x="{L - 6}" y="{y + 4:.1f}" text-anchor="end">{v:g}</text>')
    # guides
    xt = X(SPEED_TARGET)
    out.append(f'<line x1="{xt:.1f}" y1="{T}" x2="{xt:.1f}" y2="{T + ph}" stroke="#555" '
               f'stroke-dasharray="6,4"/>')
    out.append(f'<text x="{xt + 4:.1f}" y="{T + 14}" fill="#555">speed target {SPEED_TARGET}</text>')
    y1line = Y(1.0)
    out.append(f'<line x1="{L}" y1="{y1line:.1f}" x2="{L + pw}" y2="{y1line:.1f}" stroke="#555" '
               f'stroke-dasharray="2,3"/>')
    out.append(f'<text x="{L + pw / 2}" y="{H - 16}" text-anchor="middle">time ratio: mean CPU / '
               f'({MACHINE_FACTOR} x published time), log scale</text>')
    out.append(f'<text x="20" y="{T + ph / 2}" text-anchor="middle" '
               f'transform="rotate(-90 20 {T + ph / 2})">cut ratio: mean cut / published mean cut'
               '</text>')
    colour = {k: PALETTE[i % len(PALETTE)] for i, k in enumerate(ks)}
    for tr, cr, k, inst in pts:
        out.append(f'<circle cx="{X(tr):.1f}" cy="{Y(cr):.1f}" r="4" fill="{colour[k]}" '
                   f'fill-opacity="0.8"><title>{svg_escape(inst)} k={k}: cut ratio {cr:.3f}, '
                   f'time ratio {tr:.3f}</title></circle>')
    ly = T + 10
    out.append(f'<text x="{L + pw + 16}" y="{ly}">k</text>')
    for k in ks:
        if any(p[2] == k for p in pts):
            ly += 18
            out.append(f'<circle cx="{L + pw + 22}" cy="{ly - 4}" r="5" fill="{colour[k]}"/>')
            out.append(f'<text x="{L + pw + 34}" y="{ly}">{k}</text>')
    out.append('</svg>')
    with open(path, 'w') as f:
        f.write('\n'.join(out) + '\n')


# --- driver ----------------------------------------------------------------------

def parse_int_list(text):
    return [int(x) for x in text.split(',') if x.strip()]


def available_instances():
    with open(REF) as f:
        names = list(dict.fromkeys(r['instance'] for r in csv.DictReader(f)))
    return [n for n in names if os.path.exists(os.path.join(DATA, n + '.hgr'))]


def default_out(commit):
    base = os.path.join(HERE, 'results', f'{datetime.date.today().isoformat()}-{commit}')
    out, i = base, 2
    while os.path.exists(out):
        out, i = f'{base}-{i}', i + 1
    return out


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split('\n\n')[0],
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('--scheme', choices=['rb', 'kway'], default='rb')
    ap.add_argument('--k', type=parse_int_list, help='k list, e.g. 2,8,32 (default 2..128)')
    ap.add_argument('--seeds', type=parse_int_list, help='seed list (default 1..10)')
    ap.add_argument('--inst', help='instances, comma-separated (default: all with a reference)')
    ap.add_argument('--out', help='output folder (default bench/results/<date>-<commit>)')
    ap.add_argument('--extra', default='', help='extra options for veldan, e.g. "-nruns=4"')
    ap.add_argument('--jobs', type=int, default=1,
                    help='runs at once (default 1: timings must not be disturbed)')
    ap.add_argument('--quick', action='store_true',
                    help='smoke test: ibm01..ibm03, k=2,8, seed 1 (explicit options still win)')
    ap.add_argument('--bin', default=default_binary(), help='veldan binary (Release build)')
    ap.add_argument('--timeout', type=float, default=0, help='seconds per run (0: none)')
    ap.add_argument('--threads', type=int, default=1,
                    help='-nthreads of every run (default 1; the time ratio is CPU time)')
    # "--extra -nruns=4" would read as an option of ours: glue the value on.
    argv = list(sys.argv[1:] if argv is None else argv)
    for i in range(len(argv) - 1):
        if argv[i] == '--extra':
            argv[i:i + 2] = [f'--extra={argv[i + 1]}']
            break
    args = ap.parse_args(argv)

    if args.k is None:
        args.k = QUICK_K if args.quick else DEFAULT_K
    if args.seeds is None:
        args.seeds = QUICK_SEEDS if args.quick else DEFAULT_SEEDS
    known = available_instances()
    if args.inst:
        insts = [x for x in args.inst.split(',') if x]
    else:
        insts = QUICK_INST if args.quick else known
    missing = [i for i in insts if not os.path.exists(os.path.join(DATA, i + '.hgr'))]
    if missing:
        ap.error(f'no such instance in {DATA}: {", ".join(missing)}')
    if not os.access(args.bin, os.X_OK):
        ap.error(f'binary not found: {args.bin} (build it, or pass --bin)')
    if args.threads < 1 or args.jobs < 1 or not args.k or not args.seeds or min(args.k) < 2:
        ap.error('need --jobs >= 1, a k list of values >= 2 and a seed list')

    commit = git_commit()
    meta = {'commit': commit, 'cpu': cpu_model(), 'binary': os.path.abspath(args.bin),
            'build_type': build_type(args.bin),
            'date': datetime.datetime.now().isoformat(timespec='seconds'),
            'command': ' '.join(shlex.quote(a) for a in [sys.argv[0]] + argv)}
    col, ref = read_reference(REF, args.scheme)
    meta['column'] = col
    out = args.out or default_out(commit)
    os.makedirs(out, exist_ok=True)
    if meta['build_type'] not in ('Release', 'RelWithDebInfo'):
        print(f'warning: {args.bin} is a {meta["build_type"]} build', file=sys.stderr)

    cache, lock = {}, threading.Lock()

    def hg_cache(src):
        with lock:
            if src not in cache:
                # Runs go instance by instance: a few parsed files suffice.
                while len(cache) > args.jobs:
                    cache.pop(next(iter(cache)))
                cache[src] = read_hgr(src)
            return cache[src]

    tasks = [(inst, k, seed) for inst in insts for k in args.k for seed in args.seeds]
    rows = []
    tmp = tempfile.mkdtemp(prefix='veldan-bench-')
    print(f'{len(tasks)} runs, scheme {args.scheme}, commit {commit}, output {out}')
    t_start = time.time()
    try:
        def task(t):
            inst, k, seed = t
            return one_run(args.bin, os.path.join(DATA, inst + '.hgr'), hg_cache, args.scheme,
                           k, seed, args.extra, tmp, args.timeout or None, args.threads)

        with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
            for i, row in enumerate(pool.map(task, tasks)):
                rows.append(row)
                print(f'[{i + 1}/{len(tasks)}] {row["instance"]} k={row["k"]} seed={row["seed"]}: '
                      f'{row["status"]} cut={row.get("cut", "-")} imb={row.get("imbalance", "-")} '
                      f'cpu={row["cpu_s"]}s wall={row["wall_s"]}s rss={row["maxrss_mb"]}MB',
                      flush=True)
    finally:
        os.rmdir(tmp) if os.path.isdir(tmp) and not os.listdir(tmp) else None

    with open(os.path.join(out, 'runs.csv'), 'w', newline='') as f:
        w = csv.DictWriter(f, fieldnames=FIELDS)
        w.writeheader()
        for r in rows:
            w.writerow({k: r.get(k, '') for k in FIELDS})
    summary = summarise(rows, ref, insts, args.k)
    lines = write_summary(os.path.join(out, 'summary.md'), summary, rows, args, meta)
    write_svg(os.path.join(out, 'plot.svg'), summary, args.k,
              f'veldan {args.scheme} vs {col} (commit {commit})')
    print('\n'.join(lines))
    print(f'\nwrote {out}/runs.csv, summary.md, plot.svg in {time.time() - t_start:.0f} s')
    bad = sum(r['status'] != 'ok' for r in rows)
    return 1 if bad else 0


if __name__ == '__main__':
    sys.exit(main())
