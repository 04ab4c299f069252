"""The module against the veldan program and the independent evaluator."""
import os
import pathlib
import runpy
import subprocess
import sys

import numpy as np
import pytest

import veldan

ROOT = pathlib.Path(__file__).resolve().parents[2]
SHARED = ROOT.parent / "shared"


def test_example_gives_the_programs_partition(tmp_path):
    program = os.environ.get("VELDAN_BIN")
    if not program:
        pytest.skip("VELDAN_BIN (the veldan program) is not set")
    out = tmp_path / "circuit1.part"
    subprocess.run([program, "-seed=1", "-epsilon=0.03", f"-output={out}",
                    str(ROOT / "examples" / "circuit1.hgr"), "4"],
                   check=True, stdout=subprocess.DEVNULL)
    example = runpy.run_path(str(ROOT / "examples" / "partition.py"), run_name="example")
    r = example["run"]()
    assert r.parts.tolist() == [int(x) for x in out.read_text().split()]
    assert r.balanced and r.imbalance <= 0.03 + 1e-9


# Python keyword -> command-line option, where the names differ.
CLI_NAMES = {"scheme": "ptype", "objective": "otype", "reconstruct": "reconst",
             "threads": "nthreads"}


@pytest.mark.parametrize("options", [
    {"scheme": "kway", "nruns": 2},
    {"coarsento": 40, "nruns": 2},
    {"ctype": "gfc1", "rtype": "moderate", "reconstruct": True, "nvcycles": 0},
    {"scheme": "kway", "objective": "soed", "coarsento": 60, "ufactor": 8.0},
    {"objective": "km1", "nruns": 2},
    {"preset": "fast", "nvcycles": 1},
])
def test_keyword_options_give_the_programs_partition(tmp_path, options):
    # Every option reaches the partitioning the same way from both sides.
    program = os.environ.get("VELDAN_BIN")
    if not program:
        pytest.skip("VELDAN_BIN (the veldan program) is not set")
    flags = []
    for key, value in options.items():
        name = CLI_NAMES.get(key, key)
        flags.append(f"-{name}" if value is True else f"-{name}={value}")
    if "ufactor" not in options:
        flags.append("-epsilon=0.03")
    out = tmp_path / "circuit1.part"
    hgr = ROOT / "examples" / "circuit1.hgr"
    subprocess.run([program, "-seed=2", f"-output={out}", *flags, str(hgr), "4"],
                   check=True, stdout=subprocess.DEVNULL)
    r = veldan.partition(veldan.read_hgr(str(hgr)), 4, seed=2, **options)
    assert r.parts.tolist() == [int(x) for x in out.read_text().split()]


@pytest.mark.parametrize("name", ["ibm01.hgr", "powersim.mtx.hgr",
                                  "sat14_AProVE07-27.cnf.primal.hgr"])
def test_evaluate_agrees_with_the_evaluator(tmp_path, name):
    hgr = SHARED / "data" / "hgr" / name
    evaluator = SHARED / "tools" / "evaluate.py"
    if not hgr.exists() or not evaluator.exists():
        pytest.skip(f"{hgr} or {evaluator} is absent")
    h = veldan.read_hgr(str(hgr))
    k = 5
    parts = veldan.partition(h, k, seed=1, nruns=1, nvcycles=0).parts
    # Also a partition the partitioner would not give: cells dealt round.
    for p in (parts, np.arange(h.nvtxs) % k):
        partfile = tmp_path / "part"
        partfile.write_text("".join(f"{x}\n" for x in p))
        line = subprocess.run([sys.executable, str(evaluator), str(hgr), str(partfile), str(k)],
                              check=True, capture_output=True, text=True).stdout
        want = dict(kv.split("=") for kv in line.split())
        m = veldan.evaluate(h, p, k)
        for key, got in (("cut", m.cut), ("km1", m.km1), ("soed", m.soed),
                         ("imbalance", m.imbalance), ("empty", m.empty_parts)):
            assert got == pytest.approx(float(want[key]), rel=1e-5, abs=1e-5), key
