#!/usr/bin/env python3
"""veldan beside the peer partitioners of ../shared/peers/, run by run.

Runs veldan settings and peer programs one child process at a time over a
set of instances, k values and seeds, at one imbalance bound (cut objective),
and for every run records the child's CPU time (user + system, os.wait4),
wall time and peak resident memory, and the cut and imbalance recounted by
../shared/tools/evaluate.py from the partition file the tool wrote. Writes a
Markdown report (a table per figure: one row per (instance, k), a column per
tool, ratios to a chosen column and their geometric means) and the raw runs
as CSV and JSON beside it.

Instances: names of ../shared/data/hgr/ (without .hgr), `shared` for the 18
with published results, or generated ones made on demand into --cache:
`circuitP` (examples/gen_circuit with about P pins, e.g. circuit1e6) and
`stencilN` (examples/gen_stencil N, a 3-D 7-point stencil matrix in the
row-net model, e.g. stencil64); `generated` stands for circuit1e6,
circuit4e6, stencil64 and stencil100.

Examples:
  bench/run_peers.py --inst ibm01,ibm02 --k 2,8 --veldan default,fast \\
      --peers mtk-default,kahypar-k
  bench/run_peers.py --inst circuit1e6,stencil64 --k 8 --veldan fast --peers mtk-default
  bench/run_peers.py --inst shared --k 2,8,32 --seeds 1,2 --ref kahypar-r --timeout 1800
  bench/run_peers.py --list
"""
import argparse
import csv
import datetime
import glob
import json
import math
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no __pycache__ beside the scripts
import run_bench  # noqa: E402

HERE = run_bench.HERE
REPO = run_bench.REPO
SHARED = run_bench.SHARED
DATA = run_bench.DATA
PEERS = os.path.join(SHARED, 'peers')
EVALUATE = os.path.join(SHARED, 'tools', 'evaluate.py')

# veldan settings: name -> options added to the common ones.
VELDAN_SETTINGS = {
    'default': '',
    'fast': '-nruns=2 -nvcycles=0',
    'kway': '-ptype=kway',
}
# Peer settings: name -> (label, binary, how to build the command).
PEER_SETTINGS = {
    'mtk-default': ('Mt-KaHyPar default', 'MtKaHyPar', 'default'),
    'mtk-quality': ('Mt-KaHyPar quality', 'MtKaHyPar', 'quality'),
    'kahypar-r': ('KaHyPar r', 'KaHyPar', 'cut_rKaHyPar_sea20.ini'),
    'kahypar-k': ('KaHyPar k', 'KaHyPar', 'cut_kKaHyPar_sea20.ini'),
}
GENERATED = ['circuit1e6', 'circuit4e6', 'stencil64', 'stencil100']
# gen_circuit writes about 4.57 pins per cell.
CIRCUIT_PINS_PER_CELL = 4.57


# --- tools ---------------------------------------------------------------------

class Tool:
    """One column of the report: a name, a label and a command builder."""

    def __init__(self, name, label, build, threaded=True):
        self.name, self.label, self.build, self.threaded = name, label, build, threaded


def veldan_tool(name, options, binary):
    def build(hgr, k, seed, eps, threads, rundir):
        part = os.path.join(rundir, 'veldan.part')
        cmd = [binary, f'-epsilon={eps:g}', f'-seed={seed}', '-dbglvl=0', f'-nthreads={threads}',
               f'-output={part}'] + shlex.split(options) + [hgr, str(k)]
        return cmd, lambda: part
    label = f'veldan {name}'
    return Tool(f'veldan-{name}', label, build)


def peer_tool(name, peers_dir):
    label, binary, how = PEER_SETTINGS[name]
    path = os.path.join(peers_dir, binary)

    def found_part(rundir):
        # Each run has a folder of its own holding the input's link and
        # whatever the program wrote: its partition file is the one other file.
        files = [f for f in glob.glob(os.path.join(rundir, '*')) if not f.endswith('.hgr')]
        return files[0] if len(files) == 1 else None

    if binary == 'MtKaHyPar':
        def build(hgr, k, seed, eps, threads, rundir):
            cmd = [path, '-h', hgr, '-k', str(k), '-e', f'{eps:g}', '-o', 'cut',
                   f'--preset-type={how}', '-t', str(threads), '--seed', str(seed),
                   '--write-partition-file=true', f'--partition-output-folder={rundir}']
            return cmd, lambda: found_part(rundir)
        return Tool(name, label, build)

    mode = 'recursive' if '_rKaHyPar' in how else 'direct'
    config = os.path.join(peers_dir, 'kahypar-config', how)

    def build(hgr, k, seed, eps, threads, rundir):
        cmd = [path, '-h', hgr, '-k', str(k), '-e', f'{eps:g}', '-o', 'cut', '-m', mode,
               '-p', config, f'--seed={seed}', '-w', 'true']
        return cmd, lambda: found_part(rundir)
    return Tool(name, label, build, threaded=False)


# --- instances -------------------------------------------------------------------

def default_example(name):
    for b in ('build-bench', 'build'):
        p = os.path.join(REPO, b, 'examples', name)
        if os.path.exists(p):
            return p
    return os.path.join(REPO, 'build', 'examples', name)


def shared_instances():
    with open(run_bench.REF) as f:
        names = list(dict.fromkeys(r['instance'] for r in csv.DictReader(f)))
    return [n for n in names if os.path.exists(os.path.join(DATA, n + '.hgr'))]


def expand_instances(text):
    names = []
    for x in (t.strip() for t in text.split(',')):
        if x == 'shared':
            names += shared_instances()
        elif x == 'generated':
            names += GENERATED
        elif x == 'all':
            names += shared_instances() + GENERATED
        elif x:
            names.append(x)
    return list(dict.fromkeys(names))


def generated_kind(name):
    """('circuit', pins) or ('stencil', side) for a generated name, else None."""
    m = re.fullmatch(r'circuit(\d+(?:\.\d+)?(?:e\d+)?)', name)
    if m:
        return 'circuit', int(float(m.group(1)))
    m = re.fullmatch(r'stencil(\d+)', name)
    if m:
        return 'stencil', int(m.group(1))
    return None


def instance_path(name, cache, gen_circuit, gen_stencil):
    """Path of the instance's hgr file, generating it into the cache folder
    the first time it is asked for."""
    kind = generated_kind(name)
    if kind is None:
        return os.path.join(DATA, name + '.hgr')
    os.makedirs(cache, exist_ok=True)
    path = os.path.join(cache, name + '.hgr')
    if os.path.exists(path):
        return path
    tmp = path + '.tmp'
    if kind[0] == 'circuit':
        cells = int(round(kind[1] / CIRCUIT_PINS_PER_CELL))
        cmd = [gen_circuit, '-cells', str(cells), '-seed', '1', '-o', tmp]
    else:
        cmd = [gen_stencil, str(kind[1]), tmp]
    print(f'generating {name}: {" ".join(cmd)}', flush=True)
    subprocess.run(cmd, check=True)
    os.replace(tmp, path)
    return path


def count_pins(path):
    """(nets, cells, pins) of an hgr file, net weights not counted as pins."""
    nets = cells = None
    netw = False
    pins = seen = 0
    with open(path) as f:
        for line in f:
            if line.startswith('%'):
                continue
            if nets is None:
                hdr = line.split()
                nets, cells = int(hdr[0]), int(hdr[1])
                netw = len(hdr) > 2 and int(hdr[2]) % 10 > 0
                continue
            if seen == nets:
                break
            pins += len(line.split()) - (1 if netw else 0)
            seen += 1
    return nets, cells, pins


# --- one run ---------------------------------------------------------------------

FIELDS = ['instance', 'k', 'seed', 'tool', 'status', 'exit', 'cut', 'km1', 'imbalance',
          'within_bound', 'cpu_s', 'wall_s', 'maxrss_mb', 'bytes_per_pin', 'pins', 'threads',
          'command', 'note']


def evaluate(hgr, part, k):
    p = subprocess.run([sys.executable, EVALUATE, hgr, part, str(k)], capture_output=True,
                       text=True)
    figures = dict(kv.split('=', 1) for kv in p.stdout.split() if '=' in kv)
    if p.returncode != 0 or 'error' in figures or 'cut' not in figures:
        return None, ' '.join((figures.get('error') or p.stderr.strip() or p.stdout).split())[:300]
    return figures, ''


def one_run(tool, name, src, pins, k, seed, eps, threads, tmp, timeout):
    rundir = tempfile.mkdtemp(dir=tmp)
    hgr = os.path.join(rundir, name + '.hgr')
    os.symlink(src, hgr)
    cmd, part_of = tool.build(hgr, k, seed, eps, threads, rundir)
    row = {'instance': name, 'k': k, 'seed': seed, 'tool': tool.name, 'pins': pins,
           'threads': threads if tool.threaded else 1,
           'command': ' '.join(shlex.quote(c) for c in cmd), 'note': ''}
    try:
        status, ru, wall, out, err = run_child(cmd, timeout)
        row['cpu_s'] = round(ru.ru_utime + ru.ru_stime, 3)
        row['wall_s'] = round(wall, 3)
        row['maxrss_mb'] = round(ru.ru_maxrss / 1024.0, 1)  # Linux reports KiB
        row['bytes_per_pin'] = round(ru.ru_maxrss * 1024.0 / pins, 1) if pins else ''
        part = part_of()
        row['status'], row['exit'], row['note'] = run_bench.child_status(status, timeout)
        if row['status'] == 'ok':
            if part is None:
                row['status'] = 'no partition file'
            else:
                figures, note = evaluate(hgr, part, k)
                if figures is None:
                    row['status'], row['note'] = 'bad partition', note
                else:
                    imb = float(figures['imbalance'])
                    row['cut'] = float(figures['cut'])
                    row['km1'] = float(figures['km1'])
                    row['imbalance'] = imb
                    # evaluate.py prints five decimals: allow their rounding.
                    row['within_bound'] = 'yes' if imb <= eps + 1e-5 else 'no'
                    row['status'] = 'ok' if row['within_bound'] == 'yes' else 'imbalanced'
        if row['status'] not in ('ok', 'imbalanced') and not row['note']:
            text = err.strip() or out.strip()
            row['note'] = ' '.join(text[-300:].split())
    except OSError as e:  # the program could not be started
        row.update(status='not started', exit='', note=str(e))
    finally:
        shutil.rmtree(rundir, ignore_errors=True)
    return row


def run_child(cmd, timeout):
    """run_bench.run_child in a session of its own, so that a timeout ends
    the program and any process it started, and nothing else."""
    if not timeout:
        return run_bench.run_child(cmd)
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        t0 = time.perf_counter()
        p = subprocess.Popen(cmd, stdout=out, stderr=err, start_new_session=True)
        timed_out = False
        deadline = t0 + timeout
        while os.waitid(os.P_PID, p.pid, os.WEXITED | os.WNOHANG | os.WNOWAIT) is None:
            if time.perf_counter() > deadline:
                try:
                    os.killpg(p.pid, 9)
                except ProcessLookupError:
                    pass
                timed_out = True
                break
            time.sleep(0.05)
        _, status, ru = os.wait4(p.pid, 0)
        wall = time.perf_counter() - t0
        p.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        err.seek(0)
        return ('timeout' if timed_out else status), ru, wall, \
            out.read().decode(errors='replace'), err.read().decode(errors='replace')


# --- report ----------------------------------------------------------------------

def geomean(xs):
    return math.exp(sum(map(math.log, xs)) / len(xs)) if xs else None


def cell_figures(runs):
    """Figures of one (instance, k, tool) over its seeds: means of the
    successful runs (peak memory: the largest), or None when none succeeded."""
    good = [r for r in runs if r['status'] in ('ok', 'imbalanced')]
    if not good:
        return None
    mean = lambda key: sum(float(r[key]) for r in good) / len(good)  # noqa: E731
    peak = max(float(r['maxrss_mb']) for r in good)
    bpp = [float(r['bytes_per_pin']) for r in good if r['bytes_per_pin'] != '']
    return {'cut': mean('cut'), 'km1': mean('km1'), 'cpu': mean('cpu_s'), 'wall': mean('wall_s'),
            'peak': peak, 'bpp': max(bpp) if bpp else None,
            'imbalance': max(float(r['imbalance']) for r in good),
            'imbalanced': sum(r['status'] == 'imbalanced' for r in good),
            'failed': len(runs) - len(good)}


def failure_text(runs):
    statuses = sorted({r['status'] for r in runs})
    return 'failed (' + ', '.join(statuses) + ')'


METRICS = [  # key, title, number format
    ('cut', 'Cut (recounted; mean over the seeds)', '.1f'),
    ('cpu', 'CPU seconds (user + system of the child; mean over the seeds)', '.2f'),
    ('wall', 'Wall seconds (mean over the seeds)', '.2f'),
    ('peak', 'Peak resident memory, MB (largest over the seeds)', '.1f'),
    ('bpp', 'Peak memory per pin, bytes (largest over the seeds)', '.0f'),
    ('imbalance', 'Largest imbalance (heaviest part / average part - 1)', '.4f'),
]


def format_value(key, v, style):
    if key == 'cut' and float(v).is_integer():
        return f'{v:.0f}'
    return format(v, style)


def write_report(path, rows, tools, pairs, ref, args, meta):
    by = {}
    for r in rows:
        by.setdefault((r['instance'], r['k'], r['tool']), []).append(r)
    fig = {(i, k, t.name): cell_figures(by.get((i, k, t.name), [])) for i, k in pairs
           for t in tools}
    label = {t.name: t.label for t in tools}
    others = [t for t in tools if t.name != ref]
    lines = [f'# veldan and its peers, epsilon {args.epsilon:g}, cut objective', '',
             f'- date: {meta["date"]}; commit `{meta["commit"]}`; CPU: {meta["cpu"]} '
             f'({os.cpu_count()} cores); load average (1 min) at the start '
             f'{meta["load_start"]:.2f}, at the end {os.getloadavg()[0]:.2f}',
             f'- veldan: `{meta["binary"]}` (build type {meta["build_type"]})',
             f'- k: {",".join(map(str, args.k))}; seeds: {",".join(map(str, args.seeds))}; '
             f'threads per run: {args.threads} (KaHyPar is sequential); '
             + (f'timeout {args.timeout:g} s' if args.timeout else 'no timeout'),
             '- tools: ' + '; '.join(f'{t.label} (`{t.name}`)' for t in tools),
             f'- ratios: tool / {label[ref]}; geometric means over the (instance, k) rows '
             'where both have a result; runs one at a time',
             f'- cuts and imbalances recounted by `{os.path.relpath(EVALUATE, REPO)}` from each '
             'tool\'s partition file; `*` marks a row with a run above the bound',
             f'- command: `{meta["command"]}`', '']
    if meta['build_type'] not in ('Release', 'RelWithDebInfo'):
        lines += [f'**Warning: veldan is a {meta["build_type"]} build; times are not '
                  'comparable.**', '']

    # Overview: one line per tool.
    lines += ['## Overview', '',
              f'| tool | rows with a result | failed runs | runs above the bound | '
              f'cut / {label[ref]} | CPU / {label[ref]} | peak MB / {label[ref]} | total CPU s |',
              '|---|---:|---:|---:|---:|---:|---:|---:|']
    for t in tools:
        trs = [r for r in rows if r['tool'] == t.name]
        have = sum(1 for i, k in pairs if fig[(i, k, t.name)] is not None)
        ratios = {}
        for key in ('cut', 'cpu', 'peak'):
            xs = []
            for i, k in pairs:
                a, b = fig[(i, k, t.name)], fig[(i, k, ref)]
                if a and b and a[key] and b[key]:
                    xs.append(a[key] / b[key])
            g = geomean(xs)
            ratios[key] = f'{g:.3f} ({len(xs)})' if g is not None else '-'
        cpu_total = sum(float(r['cpu_s']) for r in trs if r.get('cpu_s') not in (None, ''))
        lines.append(f'| {t.label} | {have} of {len(pairs)} | '
                     f'{sum(r["status"] not in ("ok", "imbalanced") for r in trs)} | '
                     f'{sum(r["status"] == "imbalanced" for r in trs)} | {ratios["cut"]} | '
                     f'{ratios["cpu"]} | {ratios["peak"]} | {cpu_total:.1f} |')
    lines.append('')

    for key, title, style in METRICS:
        lines += [f'## {title}', '']
        head = ['instance', 'k', 'pins'] + [t.label for t in tools]
        align = ['---', '---:', '---:'] + ['---:'] * len(tools)
        if key != 'imbalance':
            head += [f'{t.label} / {label[ref]}' for t in others]
            align += ['---:'] * len(others)
        lines += ['| ' + ' | '.join(head) + ' |', '|' + '|'.join(align) + '|']
        ratio_lists = {t.name: [] for t in others}
        for i, k in pairs:
            pins = next((r['pins'] for r in rows if r['instance'] == i), '')
            cells = [i, str(k), str(pins)]
            for t in tools:
                f = fig[(i, k, t.name)]
                if f is None:
                    cells.append('**' + failure_text(by.get((i, k, t.name), [])) + '**'
                                 if by.get((i, k, t.name)) else '-')
                    continue
                v = f[key]
                text = '-' if v is None else format_value(key, v, style)
                if key in ('cut', 'imbalance') and f['imbalanced']:
                    text += '*'
                if f['failed']:
                    text += f' ({f["failed"]} failed)'
                cells.append(text)
            if key != 'imbalance':
                b = fig[(i, k, ref)]
                for t in others:
                    a = fig[(i, k, t.name)]
                    if a and b and a[key] and b[key]:
                        x = a[key] / b[key]
                        ratio_lists[t.name].append(x)
                        cells.append(f'{x:.3f}')
                    else:
                        cells.append('-')
            lines.append('| ' + ' | '.join(cells) + ' |')
        if key != 'imbalance' and others:
            cells = ['geometric mean', '', ''] + [''] * len(tools)
            for t in others:
                g = geomean(ratio_lists[t.name])
                cells.append(f'{g:.3f} ({len(ratio_lists[t.name])})' if g is not None else '-')
            lines.append('| ' + ' | '.join(cells) + ' |')
        lines.append('')

    def listing(title, chosen, detail):
        if chosen:
            lines.extend([f'## {title}', ''])
            lines.extend(f'- {r["instance"]} k={r["k"]} seed={r["seed"]} {label[r["tool"]]}: '
                         f'{detail(r)}' for r in chosen)
            lines.append('')

    listing('Failed runs', [r for r in rows if r['status'] not in ('ok', 'imbalanced')],
            lambda r: f'{r["status"]}{": " + r["note"] if r["note"] else ""}')
    listing('Runs above the bound', [r for r in rows if r['status'] == 'imbalanced'],
            lambda r: f'imbalance {r["imbalance"]:.5f}, cut {r["cut"]:g}')
    with open(path, 'w') as f:
        f.write('\n'.join(lines))
    return lines


def write_raw(stem, rows, meta):
    with open(stem + '.csv', 'w', newline='') as f:
        w = csv.DictWriter(f, fieldnames=FIELDS)
        w.writeheader()
        for r in rows:
            w.writerow({k: r.get(k, '') for k in FIELDS})
    with open(stem + '.json', 'w') as f:
        json.dump({'meta': meta, 'runs': rows}, f, indent=1)


# --- driver ------------------------------------------------------------------------

def parse_list(text, conv=str):
    return [conv(x) for x in text.split(',') if x.strip()]


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split('\n\n')[0],
                                 epilog=__doc__.split('\n\n', 1)[1],
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument('--inst', default='ibm01,ibm02',
                    help='instances (names, shared, generated, all; default ibm01,ibm02)')
    ap.add_argument('--k', type=lambda s: parse_list(s, int), default=[2, 8],
                    help='k list (default 2,8)')
    ap.add_argument('--seeds', type=lambda s: parse_list(s, int), default=[1],
                    help='seed list (default 1)')
    ap.add_argument('--epsilon', type=float, default=0.03, help='imbalance bound (default 0.03)')
    ap.add_argument('--threads', type=int, default=1,
                    help='threads of every run that can use them (default 1)')
    ap.add_argument('--veldan', default='default,fast',
                    help='veldan settings: names of ' + ', '.join(
                        f'{n} ("{o}")' for n, o in VELDAN_SETTINGS.items()) +
                    ', or NAME=OPTIONS (default default,fast; "" for none)')
    ap.add_argument('--peers', default='mtk-default,kahypar-k',
                    help='peers: ' + ', '.join(PEER_SETTINGS) +
                    ' (default mtk-default,kahypar-k; "" for none)')
    ap.add_argument('--ref', help='column the ratios are taken against (a tool name, e.g. '
                    'mtk-default or veldan-fast; default the first veldan setting)')
    ap.add_argument('--timeout', type=float, default=0, help='seconds per run (0: none)')
    ap.add_argument('--out', help='Markdown report; the .csv and .json go beside it '
                    '(default bench/results/peers-<date>-<time>.md)')
    ap.add_argument('--cache', default='/tmp/veldan-peers-inputs',
                    help='folder of the generated inputs, kept for the next call')
    ap.add_argument('--bin', default=run_bench.default_binary(), help='veldan binary')
    ap.add_argument('--peers-dir', default=PEERS, help='folder of the peer binaries')
    ap.add_argument('--gen-circuit', default=default_example('gen_circuit'))
    ap.add_argument('--gen-stencil', default=default_example('gen_stencil'))
    ap.add_argument('--list', action='store_true', help='print the tools and instances and stop')
    # "--veldan x=-nruns=4" would read as an option of ours: glue the value on.
    argv = list(sys.argv[1:] if argv is None else argv)
    for i in range(len(argv) - 1):
        if argv[i] in ('--veldan', '--peers', '--inst') and argv[i + 1].startswith('-'):
            argv[i:i + 2] = [f'{argv[i]}={argv[i + 1]}']
    args = ap.parse_args(argv)

    if args.list:
        print('veldan settings:')
        for n, o in VELDAN_SETTINGS.items():
            print(f'  {n:<12} veldan-{n}: {o or "(no options)"}')
        print('peers:')
        for n, (lab, b, how) in PEER_SETTINGS.items():
            print(f'  {n:<12} {lab}: {b} {how}')
        print('shared instances: ' + ','.join(shared_instances()))
        print('generated instances: ' + ','.join(GENERATED) + ' (circuitP, stencilN)')
        return 0

    tools = []
    for s in parse_list(args.veldan):
        name, _, opts = s.partition('=')
        if not _:
            if name not in VELDAN_SETTINGS:
                ap.error(f'unknown veldan setting {name} (known: {", ".join(VELDAN_SETTINGS)}; '
                         'or NAME=OPTIONS)')
            opts = VELDAN_SETTINGS[name]
        tools.append(veldan_tool(name, opts, args.bin))
    for s in parse_list(args.peers):
        if s not in PEER_SETTINGS:
            ap.error(f'unknown peer {s} (known: {", ".join(PEER_SETTINGS)})')
        tools.append(peer_tool(s, args.peers_dir))
    if not tools:
        ap.error('no tool to run')
    if len({t.name for t in tools}) != len(tools):
        ap.error('a tool is named twice')
    ref = args.ref or tools[0].name
    if ref not in {t.name for t in tools}:
        ap.error(f'--ref {ref} is not among the tools run ({", ".join(t.name for t in tools)})')
    if not args.k or min(args.k) < 2 or not args.seeds or args.threads < 1 or args.epsilon <= 0:
        ap.error('need k values >= 2, a seed list, --threads >= 1 and --epsilon > 0')
    if any(t.name.startswith('veldan') for t in tools) and not os.access(args.bin, os.X_OK):
        ap.error(f'veldan binary not found: {args.bin} (build it, or pass --bin)')

    insts = expand_instances(args.inst)
    for name in insts:
        kind = generated_kind(name)
        if kind is None and not os.path.exists(os.path.join(DATA, name + '.hgr')):
            ap.error(f'no instance {name}: not in {DATA} and not circuitP or stencilN')
        gen = {'circuit': args.gen_circuit, 'stencil': args.gen_stencil}.get(kind and kind[0])
        if gen and not os.path.exists(os.path.join(args.cache, name + '.hgr')) \
                and not os.access(gen, os.X_OK):
            ap.error(f'generator not found: {gen} (build the examples)')

    commit = run_bench.git_commit()
    now = datetime.datetime.now()
    out = args.out or os.path.join(HERE, 'results', f'peers-{now:%Y%m%d-%H%M%S}.md')
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    stem = out[:-3] if out.endswith('.md') else out
    meta = {'commit': commit, 'cpu': run_bench.cpu_model(), 'binary': os.path.abspath(args.bin),
            'build_type': run_bench.build_type(args.bin),
            'date': now.isoformat(timespec='seconds'),
            'command': ' '.join(shlex.quote(a) for a in [sys.argv[0]] + argv),
            'load_start': os.getloadavg()[0], 'epsilon': args.epsilon, 'threads': args.threads,
            'tools': {t.name: t.label for t in tools}, 'ref': ref}

    rows, pairs = [], []
    tmp = tempfile.mkdtemp(prefix='veldan-peers-')
    t_start = time.time()
    try:
        for name in insts:
            src = instance_path(name, args.cache, args.gen_circuit, args.gen_stencil)
            _, _, pins = count_pins(src)
            for k in args.k:
                pairs.append((name, k))
                # Tools take turns within a seed, so that a drift in the
                # machine's load touches all of them alike.
                for seed in args.seeds:
                    for t in tools:
                        row = one_run(t, name, src, pins, k, seed, args.epsilon, args.threads,
                                      tmp, args.timeout or None)
                        rows.append(row)
                        write_raw(stem, rows, meta)  # a stopped call keeps what it has
                        print(f'{name} k={k} seed={seed} {t.label}: {row["status"]} '
                              f'cut={row.get("cut", "-")} imb={row.get("imbalance", "-")} '
                              f'cpu={row.get("cpu_s", "-")}s wall={row.get("wall_s", "-")}s '
                              f'rss={row.get("maxrss_mb", "-")}MB', flush=True)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)

    write_raw(stem, rows, meta)
    lines = write_report(out, rows, tools, pairs, ref, args, meta)
    print('\n'.join(lines))
    print(f'wrote {out}, {stem}.csv, {stem}.json in {time.time() - t_start:.0f} s')
    # Peers' failures are results; a veldan run that failed is an error.
    return 1 if any(r['tool'].startswith('veldan') and r['status'] != 'ok' for r in rows) else 0


if __name__ == '__main__':
    sys.exit(main())
