#!/usr/bin/env python3
"""Balance under -epsilon against the -ufactor equivalents, both schemes.

usage: run_epsilon.py VELDAN [--mode epsilon|ufactor] [--schemes rb,kway]
                      [--k 2,3,5,8,12,32] [--seed 1] [--eps 0.03] [--inst a,b]
                      [--threads 1] [--out results.csv]

Every run is checked by ../shared/tools/evaluate.py (an independent count);
one CSV row per run: instance, scheme, k, mode, cut, km1, imbalance, cpu_s.
With --mode ufactor the factor is the one the shared quality script uses
(kway: 100*eps; rb: 50*((1+eps)^(1/log2 k) - 1)).
"""
import argparse, csv, math, os, resource, subprocess, sys, tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SHARED = os.path.normpath(os.path.join(HERE, '..', '..', 'shared'))
DEFAULT_INST = ','.join([f'ibm{i:02d}' for i in range(1, 15)] + [
    'Ill_Stokes.mtx', 'powersim.mtx', 'sat14_AProVE07-27.cnf.primal',
    'sat14_countbitssrl032.cnf.dual'])


def ufactor(scheme, k, eps):
    if scheme == 'kway':
        return 100 * eps
    return 50 * ((1 + eps) ** (1 / math.log2(k)) - 1)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('veldan')
    ap.add_argument('--mode', default='epsilon', choices=['epsilon', 'ufactor'])
    ap.add_argument('--schemes', default='rb,kway')
    ap.add_argument('--k', default='2,3,5,8,12,32')
    ap.add_argument('--seed', default='1')
    ap.add_argument('--eps', type=float, default=0.03)
    ap.add_argument('--inst', default=DEFAULT_INST)
    ap.add_argument('--threads', default='1')
    ap.add_argument('--data', default=os.path.join(SHARED, 'data', 'hgr'))
    ap.add_argument('--out', default='-')
    a = ap.parse_args()

    out = sys.stdout if a.out == '-' else open(a.out, 'a', newline='')
    w = csv.writer(out)
    w.writerow(['instance', 'scheme', 'k', 'mode', 'cut', 'km1', 'imbalance', 'cpu_s'])
    tmp = tempfile.mkdtemp()
    for inst in a.inst.split(','):
        src = os.path.join(a.data, inst + '.hgr')
        hgr = os.path.join(tmp, inst + '.hgr')
        if not os.path.exists(hgr):
            os.symlink(src, hgr)
        for scheme in a.schemes.split(','):
            for k in map(int, a.k.split(',')):
                bound = (f'-epsilon={a.eps}' if a.mode == 'epsilon'
                         else f'-ufactor={ufactor(scheme, k, a.eps):.4f}')
                cmd = [a.veldan, f'-ptype={scheme}', bound, f'-seed={a.seed}', '-dbglvl=0',
                       f'-nthreads={a.threads}', hgr, str(k)]
                before = resource.getrusage(resource.RUSAGE_CHILDREN)
                p = subprocess.run(cmd, capture_output=True, text=True)
                after = resource.getrusage(resource.RUSAGE_CHILDREN)
                cpu = (after.ru_utime + after.ru_stime) - (before.ru_utime + before.ru_stime)
                part = f'{hgr}.part.{k}'
                if p.returncode != 0 or not os.path.exists(part):
                    w.writerow([inst, scheme, k, a.mode, 'FAILED', p.returncode, '', f'{cpu:.2f}'])
                    out.flush()
                    continue
                ev = subprocess.run([sys.executable, os.path.join(SHARED, 'tools', 'evaluate.py'),
                                     src, part, str(k)], capture_output=True, text=True).stdout
                f = dict(x.split('=', 1) for x in ev.split())
                os.remove(part)
                w.writerow([inst, scheme, k, a.mode, f.get('cut'), f.get('km1'),
                            f.get('imbalance'), f'{cpu:.2f}'])
                out.flush()


if __name__ == '__main__':
    main()
