#!/usr/bin/env python3
"""End-to-end tests of veldan-mpi on two MPI processes.

usage: run_tests.py partitions|errors|refusals --bin VELDAN_MPI --mpiexec MPIEXEC
                    [--veldan VELDAN] [--examples DIR] [--shared DIR]

partitions: every row partitions a hypergraph and checks the report and the
  partition file against a recount made here from the file as written
  (and by ../shared/tools/evaluate.py where it can read the file), the
  balance bound, fixed cells and repeatability.
errors: every row feeds a malformed input or command line and checks the
  exit status, the message (the same as veldan's when --veldan is given,
  otherwise the text of the row) and that no partition file is left. Most
  faults sit in the byte range that rank 1 reads, which the row checks.
refusals: rows of the errors kind for what the reader refuses beyond a bad
  token or an early end: a header of more than four fields, anything but
  blanks and comments after the last line, a negative cell weight, a folder
  given as a file, and fixed-cell files with more values than cells, two
  values on a line, or a part beyond k before a later fault.

Prints 'N passed, N failed' and exits non-zero on a failure.
"""
import argparse
import concurrent.futures
import math
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

ARGS = None


def mpi_command(extra):
    cmd = [ARGS.mpiexec]
    if ARGS.openmpi:
        cmd += ['--quiet', '--oversubscribe']
    return cmd + ['-np', str(ARGS.np), ARGS.bin] + extra


def mpi_env():
    env = dict(os.environ)
    # Root may run Open MPI jobs here; one machine needs only shared memory.
    env.setdefault('OMPI_ALLOW_RUN_AS_ROOT', '1')
    env.setdefault('OMPI_ALLOW_RUN_AS_ROOT_CONFIRM', '1')
    env.setdefault('OMPI_MCA_pml', 'ob1')
    env.setdefault('OMPI_MCA_btl', 'self,vader')
    env.setdefault('OMPI_MCA_mtl', '^ofi')
    env.setdefault('OMPI_MCA_osc', '^ucx')
    return env


def run(cmd, cwd, timeout=90):
    env = mpi_env()
    # mpirun keeps its session files under TMPDIR; jobs started at the same
    # time must not share the folder.
    session = tempfile.mkdtemp(prefix='mpi-session-')
    env['TMPDIR'] = session
    try:
        p = subprocess.run(cmd, cwd=cwd, capture_output=True, text=True, timeout=timeout,
                           env=env)
    finally:
        shutil.rmtree(session, ignore_errors=True)
    return p.returncode, p.stdout, p.stderr


# ---- an independent reading of .hgr files and recount ------------------------

def read_hgr(path):
    """Nets (sets of 0-based cells), net weights, cell weights (ncon each)."""
    with open(path, newline='') as f:
        lines = [l.rstrip('\n').rstrip('\r') for l in f]
    lines = [l for l in lines if not l.startswith('%')]
    head = lines[0].split()
    nnets, ncells = int(head[0]), int(head[1])
    fmt = int(head[2]) if len(head) > 2 else 0
    ncon = int(head[3]) if len(head) > 3 else 1
    nets, netw = [], []
    for line in lines[1:1 + nnets]:
        tok = line.split()
        w = 1.0
        if fmt % 10:
            w, tok = float(tok[0]), tok[1:]
        nets.append({int(t) - 1 for t in tok})
        netw.append(w)
    cellw = [[1.0] * ncon for _ in range(ncells)]
    if (fmt // 10) % 10:
        for c in range(ncells):
            cellw[c] = [float(x) for x in lines[1 + nnets + c].split()[:ncon]]
    return nets, netw, cellw


def recount(path, part, k):
    nets, netw, cellw = read_hgr(path)
    assert len(part) == len(cellw), f'{len(part)} parts for {len(cellw)} cells'
    assert all(0 <= p < k for p in part), 'part number out of range'
    cut = soed = km1 = 0.0
    for pins, w in zip(nets, netw):
        span = len({part[c] for c in pins})
        if span > 1:
            cut += w
            soed += span * w
            km1 += (span - 1) * w
    ncon = len(cellw[0])
    pw = [[0.0] * ncon for _ in range(k)]
    for c, p in enumerate(part):
        for j in range(ncon):
            pw[p][j] += cellw[c][j]
    imb = []
    for j in range(ncon):
        avg = sum(pw[q][j] for q in range(k)) / k
        imb.append(max(pw[q][j] for q in range(k)) / avg - 1 if avg > 0 else 0.0)
    return {'cut': cut, 'soed': soed, 'km1': km1, 'pwgts': pw, 'imbalance': imb}


def parse_report(text):
    def num(label):
        m = re.search(re.escape(label) + r':\s*([-0-9.e+]+)', text)
        assert m, f'no "{label}" in the report'
        return float(m.group(1))
    rep = {'cut': num('Hyperedge Cut'), 'soed': num('Sum of External Degrees'),
           'km1': num('Connectivity - 1 (km1)')}
    sizes = re.search(r'Partition Sizes & External Degrees:\n(.*?)\n\n', text, re.S)
    assert sizes, 'no part sizes in the report'
    rep['pwgts'] = [[float(x) for x in grp.split()]
                    for grp in re.findall(r'\(([^)]*)\)\[', sizes.group(1))]
    rep['imbalance'] = [float(x) for x in
                        re.findall(r'Imbalance(?: of weight \d+)?:\s*([-0-9.]+)', text)]
    rep['held'] = re.search(r'Balance bound:\s*held', text) is not None
    return rep


def close(a, b):
    return abs(a - b) <= 1e-6 * max(1.0, abs(a), abs(b)) + 0.006


# ---- inputs --------------------------------------------------------------------

def circuit(examples):
    return os.path.join(examples, 'circuit1.hgr')


def decorated_copy(src, dst, seed):
    """The nets of src with net and cell weights, repeated pins, comments,
    carriage returns and trailing blanks."""
    rnd = random.Random(seed)
    nets, _, cellw = read_hgr(src)
    out = ['% decorated copy', f'{len(nets)} {len(cellw)} 11  ']
    for i, pins in enumerate(nets):
        pins = sorted(pins)
        toks = [str(c + 1) for c in pins]
        if rnd.random() < 0.1:
            toks.append(toks[0])  # a cell repeated within its net
        out.append(f'{rnd.randint(1, 4)}\t' + ' '.join(toks) + (' \t' if i % 7 == 0 else ''))
        if i % 500 == 0:
            out.append('% a comment among the nets')
    for c in range(len(cellw)):
        out.append(str(rnd.randint(1, 3)))
    with open(dst, 'w', newline='') as f:
        f.write('\r\n'.join(out) + '\r\n')


def two_weight_copy(src, dst, seed):
    rnd = random.Random(seed)
    nets, _, cellw = read_hgr(src)
    out = [f'{len(nets)} {len(cellw)} 10 2']
    out += [' '.join(str(c + 1) for c in sorted(p)) for p in nets]
    out += [f'{rnd.randint(1, 5)} {rnd.randint(0, 2)}' for _ in cellw]
    with open(dst, 'w') as f:
        f.write('\n'.join(out) + '\n')


# ---- partitions ----------------------------------------------------------------

def partition_rows(tmp):
    c1 = circuit(ARGS.examples)
    deco = os.path.join(tmp, 'deco.hgr')
    decorated_copy(c1, deco, 5)
    two = os.path.join(tmp, 'two.hgr')
    two_weight_copy(c1, two, 6)
    fixed = os.path.join(tmp, 'c1.fix')
    rnd = random.Random(7)
    fixedparts = [rnd.randrange(4) if rnd.random() < 0.1 else -1 for _ in range(3000)]
    with open(fixed, 'w') as f:
        f.write('\n'.join(map(str, fixedparts)) + '\n')
    rows = [
        # name, hgr, k, options, part-file name (None: beside the input), bound, fixed
        ('unit weights rb', c1, 4, ['-epsilon=0.03', '-seed=1'], None, 1.03, None),
        ('weights, CRLF, comments, kway', deco, 3, ['-ptype=kway', '-ufactor=10', '-seed=3'],
         None, 1.10, None),
        ('two weights per cell', two, 2, ['-epsilon=0.05', '-seed=2'], None, None, None),
        ('soed, two runs, -output', c1, 5, ['-otype=soed', '-nruns=2', '-epsilon=0.05',
                                            '-seed=4', '-output=' + os.path.join(tmp, 'out.part')],
         os.path.join(tmp, 'out.part'), 1.05, None),
        ('fixed cells', c1, 4, ['-epsilon=0.05', '-seed=5', '-fixed=' + fixed], None, 1.05,
         fixedparts),
    ]
    ibm = os.path.join(ARGS.shared, 'data', 'hgr', 'ibm01.hgr')
    if os.path.exists(ibm):
        local = os.path.join(tmp, 'ibm01.hgr')
        shutil.copy(ibm, local)
        rows.append(('ibm01 (shared data)', local, 8, ['-epsilon=0.03', '-seed=1'], None, 1.03,
                     None))
    return rows


def check_partition(row, tmp):
    name, hgr, k, opts, partname, bound, fixedparts = row
    if partname is None:
        partname = f'{hgr}.part.{k}'
    status, out, err = run(mpi_command(opts + [hgr, str(k)]), tmp)
    assert status == 0, f'status {status}: {err}'
    with open(partname) as f:
        part = [int(x) for x in f.read().split()]
    rep = parse_report(out)
    ref = recount(hgr, part, k)
    for key in ('cut', 'soed', 'km1'):
        assert close(rep[key], ref[key]), f'{key}: report {rep[key]}, recount {ref[key]}'
    assert len(rep['pwgts']) == k, f'{len(rep["pwgts"])} part weights for k={k}'
    for q in range(k):
        for j, w in enumerate(ref['pwgts'][q]):
            assert close(rep['pwgts'][q][j], w), f'part {q} weight {j}: {rep["pwgts"][q][j]} vs {w}'
    for j, imb in enumerate(ref['imbalance']):
        assert close(rep['imbalance'][j], imb), f'imbalance {j}: {rep["imbalance"][j]} vs {imb}'
    if bound is not None:
        assert ref['imbalance'][0] <= bound - 1 + 1e-9, \
            f'imbalance {ref["imbalance"][0]:.4f} above {bound - 1}'
        assert rep['held'], 'the report says the bound was not held'
    assert ref['cut'] > 0, 'no net is cut: not a real partition'
    if fixedparts is not None:
        bad = [c for c, p in enumerate(fixedparts) if p >= 0 and part[c] != p]
        assert not bad, f'{len(bad)} fixed cells moved, e.g. cell {bad[0] + 1}'
    evaluate = os.path.join(ARGS.shared, 'tools', 'evaluate.py')
    if os.path.exists(evaluate) and k > 1:
        p = subprocess.run([sys.executable, evaluate, hgr, partname, str(k)],
                           capture_output=True, text=True)
        if p.returncode == 0:
            figures = dict(kv.split('=') for kv in p.stdout.split())
            for key in ('cut', 'km1'):
                assert close(float(figures[key]), rep[key]), \
                    f'evaluate.py {key}={figures[key]}, report {rep[key]}'
    if name == 'unit weights rb':
        # The same seed gives the same partition.
        again = os.path.join(tmp, 'again.part')
        status, _, err = run(mpi_command(opts + ['-output=' + again, hgr, str(k)]), tmp)
        assert status == 0, err
        with open(again) as f:
            assert [int(x) for x in f.read().split()] == part, 'same seed, other partition'


# ---- errors --------------------------------------------------------------------

def nets_text(ncells, nnets, seed, width=4):
    rnd = random.Random(seed)
    return [' '.join(str(rnd.randint(1, ncells)) for _ in range(rnd.randint(2, width)))
            for _ in range(nnets)]


def late(lines_before_fault, fault, lines_after=None):
    """A file body where the fault sits in the second half of the bytes."""
    return lines_before_fault + [fault] + (lines_after or [])


def error_rows():
    n = 400  # nets: enough bytes that the last lines belong to rank 1
    body = nets_text(50, n, 1)
    rows = []

    def add(name, text, expect, status=254, args=None, fault_line=None, files=None):
        rows.append((name, text, expect, status, args or [], fault_line, files or {}))

    add('token with letters', '\n'.join([f'{n} 50'] + late(body[:n - 3], '3 4 2abc', body[n - 2:])) + '\n',
        'Failed to read the 2th cell for net 398\nHypergraph file g.hgr, line 399.', fault_line=399)
    add('float as a cell', '\n'.join([f'{n} 50'] + late(body[:n - 1], '3.7 5')) + '\n',
        'Failed to read the 0th cell for net 400\nHypergraph file g.hgr, line 401.', fault_line=401)
    add('cell out of range', '\n'.join([f'{n} 50'] + late(body[:n - 5], '9 51', body[n - 4:])) + '\n',
        'Cell number: 51 read for net 396 is wrong.\nHypergraph file g.hgr, line 397.',
        fault_line=397)
    add('empty hyperedge', '\n'.join([f'{n} 50'] + late(body[:n - 2], '  \t ', body[n - 1:])) + '\n',
        'Empty Hyperedge # 399\nHypergraph file g.hgr, line 400.', fault_line=400)
    add('blank line among the nets', '\n'.join([f'{n} 50'] + late(body[:n - 2], '', body[n - 2:])) + '\n',
        'Premature end of input file: file: g.hgr\nHypergraph file g.hgr, line 400 is blank where '
        'net 399 was expected.',
        fault_line=400)
    add('file ends early', '\n'.join([f'{n} 50'] + body[:n - 3]) + '\n',
        'Premature end of input file: file: g.hgr\nHypergraph file g.hgr, line 399.')
    # The end of the net section comes first, although rank 0 holds a bad
    # token: the pins are counted before any cell is read.
    add('early fault, premature end later', '\n'.join([f'{n} 50', '1 x'] + body[1:n - 3]) + '\n',
        'Premature end of input file: file: g.hgr\nHypergraph file g.hgr, line 399.')
    add('early fault, blank line later',
        '\n'.join([f'{n} 50', '1 x'] + late(body[1:n - 2], '', body[n - 2:])) + '\n',
        'Premature end of input file: file: g.hgr\nHypergraph file g.hgr, line 400 is blank where '
        'net 399 was expected.',
        fault_line=400)
    add('faults on both ranks', '\n'.join([f'{n} 50', '1 0'] + late(body[1:n - 2], '2 x', body[n - 1:])) + '\n',
        'Cell number: 0 read for net 1 is wrong.\nHypergraph file g.hgr, line 2.')
    add('one cell', '2 1\n1\n1\n', 'Cannot partition graph with 1 cells\nHypergraph file g.hgr, line 1.')
    add('header not a number', '% c\n4 x\n', 'Hypergraph file g.hgr, line 2: the header holds "x" '
        'where an integer is expected.')
    add('header of one value', '4\n', 'Hypergraph file g.hgr, line 1: the header must give the '
        'number of nets and the number of cells.')
    add('format out of range', '1 3 100\n1 2\n', 'Cannot read this type of file format!\n'
        'The format code is 100; it is 0 (no weights), 1 (net weights), 10 (cell weights) or 11 '
        '(both).\nHypergraph file g.hgr, line 1.')
    add('format the reader does not know', '1 3 7\n1 2\n', 'Cannot read this type of file '
        'format!\nThe format code is 7; it is 0 (no weights), 1 (net weights), 10 (cell weights) '
        'or 11 (both).\nHypergraph file g.hgr, line 1.')
    add('weights without the format', '1 3 1 2\n1 2 3\n', 'You specified ncon=2, but the fmt '
        'parameter does not specify vertex weights')
    wbody = [f'{(i % 3) + 1} {l}' for i, l in enumerate(body)]
    add('negative net weight', '\n'.join([f'{n} 50 1'] + late(wbody[:n - 2], '-2 1 2', wbody[n - 1:])) + '\n',
        'Hypergraph file g.hgr, line 400: the weight of net 399 is negative (-2).', fault_line=400)
    add('net weight not a number', '\n'.join([f'{n} 50 1'] + late(wbody[:n - 1], 'w 1 2')) + '\n',
        'Failed to read the weight for net 400\nHypergraph file g.hgr, line 401.', fault_line=401)
    cells2 = ['1 2'] * 50
    add('too few cell weights', '\n'.join([f'{n} 50 10 2'] + body + late(cells2[:40], '3', cells2[41:])) + '\n',
        'Not sufficient number of weights are provided for cell 41 <input line: 3>, 1\n'
        'Hypergraph file g.hgr, line 442.', fault_line=442)
    add('cell weight not a number', '\n'.join([f'{n} 50 10'] + body + ['1'] * 45 + ['1e']) + '\n',
        'Failed to read the 0th weight for cell 46\nHypergraph file g.hgr, line 447.',
        fault_line=447)
    add('cell weights end early', '\n'.join([f'{n} 50 10'] + body + ['1'] * 45) + '\n',
        'Premature end of input file: file: g.hgr\nHypergraph file g.hgr, line 447.')
    add('missing file', None, 'Hypergraph file g.hgr does not exist!')
    add('fixed file too short', '\n'.join([f'{n} 50'] + body) + '\n',
        'Fixed-cell file g.fix holds 3 values for 50 cells.', args=['-fixed=g.fix'],
        files={'g.fix': '1\n-1\n0\n'})
    add('fixed part beyond k', '\n'.join([f'{n} 50'] + body) + '\n',
        'The file g.fix contains more than 2 sets of pre-assigned vertices.',
        args=['-fixed=g.fix'], files={'g.fix': '\n'.join(['-1'] * 49 + ['2']) + '\n'})
    add('no folder for the output', '\n'.join([f'{n} 50'] + body) + '\n',
        'file: nodir/x.part, mode: w, [WriteHGraphPart: partfile]: No such file or directory\n'
        'Failed on ax_fopen()', args=['-output=nodir/x.part'])
    add('one part', '\n'.join([f'{n} 50'] + body) + '\n',
        'The number of partitions should be greater than 1!', status=2, args=['@1'])
    add('unknown option', '\n'.join([f'{n} 50'] + body) + '\n', 'Illegal command-line option(s)',
        status=2, args=['-nosuch=1'])
    add('bad ptype', '\n'.join([f'{n} 50'] + body) + '\n', 'Invalid option -ptype=rr',
        status=2, args=['-ptype=rr'])
    # Whole numbers in range, read as veldan reads them.
    for opt, rng in (('-nruns=abc', '1 to 2147483647'),
                     ('-seed=1.5', '-2147483648 to 2147483647'),
                     ('-dbglvl=-1', '0 to 2147483647')):
        add('option ' + opt, '\n'.join([f'{n} 50'] + body) + '\n',
            f'Invalid option {opt}\nThe value must be a whole number from {rng}.', status=2,
            args=[opt])
    add('parts not a whole number', '\n'.join([f'{n} 50'] + body) + '\n',
        'The number of partitions must be a whole number, not "3.5".', status=2, args=['@3.5'])
    return rows


def refusal_rows():
    n = 400
    body = nets_text(50, n, 1)
    plain = '\n'.join([f'{n} 50'] + body) + '\n'
    rows = []

    def add(name, text, expect, args=None, fault_line=None, files=None):
        rows.append((name, text, expect, 254, args or [], fault_line, files or {}))

    add('header of five fields', '\n'.join([f'{n} 50 0 1 7'] + body) + '\n',
        'Hypergraph file g.hgr, line 1: the header holds 5 fields; it holds 2 to 4: the number '
        'of nets, the number of cells, fmt and ncon.')
    # Blank lines, blanks and comments may follow the last line; the line
    # after them may not.
    add('text after the last net', plain + '% done\n\n \t\r\nextra 1\n',
        'Hypergraph file g.hgr, line 405: the file goes on after net 400, the last line the '
        'header announces ("extra 1").', fault_line=405)
    cells2 = ['1 2'] * 50
    add('text after the last cell weights',
        '\n'.join([f'{n} 50 10 2'] + body + cells2 + ['7']) + '\n',
        'Hypergraph file g.hgr, line 452: the file goes on after the weight line of cell 50, the '
        'last line the header announces ("7").', fault_line=452)
    add('negative cell weight',
        '\n'.join([f'{n} 50 10 2'] + body + late(cells2[:44], '1 -0.5', cells2[45:])) + '\n',
        'Hypergraph file g.hgr, line 446: weight 1 of cell 45 is negative (-0.5).',
        fault_line=446)
    add('hypergraph file a folder', None, 'Hypergraph file g.hgr is a folder, not a file.',
        files={'g.hgr': None})
    add('fixed file a folder', plain, 'Fixed-cell file g.fix is a folder, not a file.',
        args=['-fixed=g.fix'], files={'g.fix': None})
    add('fixed file with a value too many', plain,
        'Fixed-cell file g.fix, line 51: the file goes on after the value of its last cell '
        '(50 cells): "0".', args=['-fixed=g.fix'], files={'g.fix': '-1\n' * 50 + '0\n'})
    add('fixed file with two values on a line', plain,
        'Fixed-cell file g.fix, line 2: one value per line, but the line holds "-1 0".',
        args=['-fixed=g.fix'], files={'g.fix': '1\n-1 0\n' + '-1\n' * 48})
    add('fixed part beyond k before a bad value', plain,
        'Line 3 puts cell 3 in part 5; the parts are 0 to 1.', args=['-fixed=g.fix'],
        files={'g.fix': '0\n1\n5\nx\n' + '-1\n' * 46})
    return rows


def check_error(row, tmp):
    name, text, expect, status, args, fault_line, files = row
    folder = tempfile.mkdtemp(dir=tmp)
    if text is not None:
        with open(os.path.join(folder, 'g.hgr'), 'w') as f:
            f.write(text)
        if fault_line is not None:
            # The fault must lie in the second half of the bytes after the
            # header, which rank 1 reads.
            lines = text.split('\n')
            header = len(lines[0]) + 1
            start = sum(len(l) + 1 for l in lines[:fault_line - 1])
            assert start >= header + (len(text) - header) // 2, 'the fault is not in rank 1\'s range'
    for fname, content in files.items():
        if content is None:  # a folder where a file is named
            os.mkdir(os.path.join(folder, fname))
            continue
        with open(os.path.join(folder, fname), 'w') as f:
            f.write(content)
    k = '2'
    opts = [a for a in args if not a.startswith('@')]
    if any(a.startswith('@') for a in args):
        k = [a[1:] for a in args if a.startswith('@')][0]
    got_status, out, err = run(mpi_command(opts + ['g.hgr', k]), folder)
    assert got_status == status, f'status {got_status}, expected {status}; stderr: {err!r}'
    assert expect in err, f'expected {expect!r} in stderr, got {err!r}'
    if ARGS.veldan and status == 254:
        p = subprocess.run([ARGS.veldan] + opts + ['g.hgr', k], cwd=folder, capture_output=True,
                           text=True, timeout=60)
        assert p.returncode == got_status, f'veldan ends with {p.returncode}, veldan-mpi {got_status}'
        assert err == p.stderr, f'veldan says {p.stderr!r}, veldan-mpi {err!r}'
    elif ARGS.veldan and status == 2:
        p = subprocess.run([ARGS.veldan] + opts + ['g.hgr', k], cwd=folder, capture_output=True,
                           text=True, timeout=60)
        assert p.returncode == 2, f'veldan ends with {p.returncode}'
    assert err.count(expect) == 1, 'the message is printed more than once'
    left = [f for f in os.listdir(folder) if '.part' in f]
    assert not left, f'files left behind: {left}'


def main():
    global ARGS
    ap = argparse.ArgumentParser()
    ap.add_argument('family', choices=['partitions', 'errors', 'refusals'])
    ap.add_argument('--bin', required=True)
    ap.add_argument('--mpiexec', default='mpirun')
    ap.add_argument('--veldan')
    ap.add_argument('--examples', default=os.path.join(os.path.dirname(__file__), '..', '..', '..',
                                                       'examples'))
    ap.add_argument('--shared', default='')
    ap.add_argument('--jobs', type=int, default=3)
    ap.add_argument('--np', type=int, default=2, help='processes (the rows are laid out for 2)')
    ARGS = ap.parse_args()
    ARGS.bin = os.path.abspath(ARGS.bin)
    if ARGS.veldan:
        ARGS.veldan = os.path.abspath(ARGS.veldan)
        if not os.path.exists(ARGS.veldan):
            ARGS.veldan = None
    ARGS.examples = os.path.abspath(ARGS.examples)
    ARGS.shared = os.path.abspath(ARGS.shared) if ARGS.shared else ''
    version = subprocess.run([ARGS.mpiexec, '--version'], capture_output=True, text=True)
    text = version.stdout + version.stderr
    ARGS.openmpi = any(mark in text for mark in ('Open MPI', 'OpenRTE', 'open-mpi.org'))

    tmp = tempfile.mkdtemp(prefix='veldan-mpi-test-')
    try:
        if ARGS.family == 'partitions':
            rows, check = partition_rows(tmp), check_partition
        elif ARGS.family == 'errors':
            rows, check = error_rows(), check_error
        else:
            rows, check = refusal_rows(), check_error
        failed = 0

        def one(row):
            try:
                check(row, tmp)
                return row[0], None
            except AssertionError as e:
                return row[0], str(e) or 'assertion failed'
            except Exception as e:  # a crash of the harness counts as a failure
                return row[0], f'{type(e).__name__}: {e}'

        # Mostly waiting on process start-up: a few rows at a time.
        with concurrent.futures.ThreadPoolExecutor(max_workers=ARGS.jobs) as pool:
            for name, problem in pool.map(one, rows):
                print(f'{"ok  " if problem is None else "FAIL"} {name}' +
                      ('' if problem is None else f': {problem}'))
                failed += problem is not None
        print(f'{len(rows) - failed} passed, {failed} failed')
        return 1 if failed else 0
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == '__main__':
    sys.exit(main())
