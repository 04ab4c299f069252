#!/usr/bin/env python3
"""Partitions the bundled example circuit into 4 parts from Python.

    python3 examples/partition.py [hypergraph-file]

The same run as `veldan -seed=1 -epsilon=0.03 examples/circuit1.hgr 4`:
recursive bisection, every part within 3% of the average part weight.
"""
import os
import sys

import veldan

CIRCUIT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "circuit1.hgr")


def run(path=CIRCUIT, k=4):
    h = veldan.read_hgr(path)
    return veldan.partition(h, k, scheme="rb", epsilon=0.03, seed=1)


if __name__ == "__main__":
    r = run(*sys.argv[1:2])
    print(f"cut={r.cut:g} km1={r.km1:g} imbalance={r.imbalance:.4f}")
