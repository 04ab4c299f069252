"""The veldan module on small hypergraphs written here."""
import concurrent.futures
import pathlib

import numpy as np
import pytest

import veldan

ROOT = pathlib.Path(__file__).resolve().parents[2]


def two_clusters():
    # Cells 0-3 and 4-7 each form a clique of 2-pin nets; net 12 joins them.
    # Every balanced bisection but the one along the clusters cuts at least
    # three nets, so the best cut is 1 (net 12 alone).
    nets = []
    for base in (0, 4):
        nets += [[base + i, base + j] for i in range(4) for j in range(i + 1, 4)]
    nets.append([3, 4])
    netptr = np.cumsum([0] + [len(n) for n in nets])
    netind = np.concatenate(nets)
    return 8, netptr, netind


def test_read_hgr_gives_the_file_arrays(tmp_path):
    # fmt 11: net weights first on each net line, then one weight per cell.
    f = tmp_path / "w.hgr"
    f.write_text("% comment\n2 3 11\n5 1 2\n2 2 3\n1\n2\n4\n")
    h = veldan.read_hgr(str(f))
    assert (h.nvtxs, h.nnets, h.ncon) == (3, 2, 1)
    assert h.netptr.dtype == np.int64 and h.netind.dtype == np.int64
    assert h.netwgt.dtype == np.float32 and h.cellwgt.dtype == np.float32
    assert h.netptr.tolist() == [0, 2, 4]
    assert h.netind.tolist() == [0, 1, 1, 2]
    assert h.netwgt.tolist() == [5, 2]
    assert h.cellwgt.tolist() == [1, 2, 4]
    assert h.fixed is None


def test_read_hgr_reads_matrix_market_rows_as_nets(tmp_path):
    f = tmp_path / "m.mtx"
    f.write_text("%%MatrixMarket matrix coordinate real general\n3 4 4\n"
                 "1 1 1.0\n1 4 2.0\n3 2 1.0\n3 3 1.0\n")
    h = veldan.read_hgr(str(f))
    assert h.nvtxs == 4
    assert [h.netind[h.netptr[e]:h.netptr[e + 1]].tolist() for e in range(h.nnets)] == \
        [[0, 3], [1, 2]]
    assert h.netwgt is None and h.cellwgt is None


def test_hypergraph_owns_read_only_copies():
    nvtxs, netptr, netind = two_clusters()
    ind32 = netind.astype(np.int32)
    h = veldan.Hypergraph(nvtxs, list(netptr), ind32, cellwgt=np.ones((8, 2)), ncon=2)
    ind32[0] = 7
    assert h.netind.dtype == np.int64 and h.netind[0] == netind[0]
    assert h.cellwgt.dtype == np.float32 and h.cellwgt.shape == (16,)
    with pytest.raises(ValueError):
        h.netptr[0] = 1
    with pytest.raises(ValueError, match="columns"):
        veldan.Hypergraph(nvtxs, netptr, netind, cellwgt=np.ones((2, 8)), ncon=2)


def test_partition_finds_the_cut_between_clusters():
    h = veldan.Hypergraph(*two_clusters())
    r = veldan.partition(h, 2, seed=3)
    assert r.parts.dtype == np.int64 and r.parts.shape == (8,)
    assert len(set(r.parts[:4])) == 1 and len(set(r.parts[4:])) == 1
    assert r.parts[0] != r.parts[4]
    assert (r.cut, r.km1, r.soed) == (1, 1, 2)
    assert r.part_weights.tolist() == [[4], [4]]
    assert r.imbalance == 0 and r.balanced and r.seed == 3 and r.empty_parts == 0
    # The tuple form is the same hypergraph.
    assert veldan.partition(two_clusters(), 2, seed=3).parts.tolist() == r.parts.tolist()


def test_result_metrics_agree_with_evaluate():
    nvtxs, netptr, netind = two_clusters()
    rng = np.random.default_rng(5)
    cellwgt = rng.integers(1, 5, size=(nvtxs, 2))
    h = veldan.Hypergraph(nvtxs, netptr, netind, netwgt=rng.integers(1, 9, size=len(netptr) - 1),
                          cellwgt=cellwgt, ncon=2)
    r = veldan.partition(h, 3, scheme="kway", epsilon=0.5, seed=2, nruns=2)
    m = veldan.evaluate(h, r.parts)
    assert (m.cut, m.km1, m.soed) == (r.cut, r.km1, r.soed)
    assert m.part_weights.shape == (3, 2)
    assert m.part_weights.sum(axis=0).tolist() == cellwgt.sum(axis=0).tolist()
    assert m.imbalances == r.imbalances
    # Evaluating with more parts than used counts the empty ones.
    assert veldan.evaluate(h, r.parts, k=5).empty_parts == 2


def test_imbalance_is_the_largest_over_the_weights():
    nvtxs, netptr, netind = two_clusters()
    cellwgt = np.ones((nvtxs, 2))
    cellwgt[0, 1] = 5
    h = veldan.Hypergraph(nvtxs, netptr, netind, cellwgt=cellwgt, ncon=2)
    m = veldan.evaluate(h, [0] * 4 + [1] * 4)
    # Weight 1: parts of 8 and 4 around an average of 6.
    assert m.part_weights.tolist() == [[4, 8], [4, 4]]
    assert m.imbalances == pytest.approx([0, 1 / 3])
    assert m.imbalance == pytest.approx(1 / 3)


def test_every_weight_is_balanced():
    # A grid of 20 x 20 cells, nets along rows and columns; the first
    # weight is 10 on the left quarter and 1 elsewhere, the second is 1.
    n = 20
    nets = [[r * n + c, r * n + c + 1] for r in range(n) for c in range(n - 1)]
    nets += [[r * n + c, (r + 1) * n + c] for r in range(n - 1) for c in range(n)]
    netptr = np.cumsum([0] + [len(x) for x in nets])
    cellwgt = np.ones((n * n, 2))
    cellwgt[[r * n + c for r in range(n) for c in range(n // 4)], 0] = 10
    h = veldan.Hypergraph(n * n, netptr, np.concatenate(nets), cellwgt=cellwgt, ncon=2)
    for scheme in ("rb", "kway"):
        r = veldan.partition(h, 4, scheme=scheme, epsilon=0.05, seed=1)
        assert r.balanced and r.bound_obstacle == ""
        assert max(r.imbalances) <= 0.05 + 1e-9, (scheme, r.imbalances)
    cellwgt[0, 0] = 2000  # above 1.05 x a quarter of the first weight
    h = veldan.Hypergraph(n * n, netptr, np.concatenate(nets), cellwgt=cellwgt, ncon=2)
    r = veldan.partition(h, 4, epsilon=0.05, seed=1)
    assert not r.balanced and "cell 1 alone weighs 2000 in weight 1" in r.bound_obstacle


def test_fixed_cells_keep_their_parts():
    nvtxs, netptr, netind = two_clusters()
    # Cells 0 and 4 lie in different clusters; either way round holds.
    for a, b in ((0, 1), (1, 0)):
        fixed = [-1] * nvtxs
        fixed[0], fixed[4] = a, b
        r = veldan.partition((nvtxs, netptr, netind), 2, seed=1, fixed=fixed)
        assert (r.parts[0], r.parts[4]) == (a, b) and r.fixed_violations == 0
    h = veldan.Hypergraph(nvtxs, netptr, netind, fixed=fixed)
    assert veldan.evaluate(h, np.zeros(nvtxs, dtype=np.int32)).fixed_violations == 1


def test_part_weights_bound_each_part():
    # The 20 x 20 grid in four parts of unequal targets; a target of 0
    # leaves its part empty.
    n = 20
    nets = [[r * n + c, r * n + c + 1] for r in range(n) for c in range(n - 1)]
    nets += [[r * n + c, (r + 1) * n + c] for r in range(n - 1) for c in range(n)]
    h = veldan.Hypergraph(n * n, np.cumsum([0] + [len(x) for x in nets]), np.concatenate(nets))
    for targets in ([0.1, 0.2, 0.3, 0.4], np.array([0.5, 0.0, 0.25, 0.25])):
        for scheme in ("rb", "kway"):
            r = veldan.partition(h, 4, scheme=scheme, epsilon=0.03, seed=1, part_weights=targets)
            sizes = np.bincount(r.parts, minlength=4)
            assert r.balanced and all(sizes <= 1.03 * np.asarray(targets) * n * n + 1e-9), \
                (scheme, sizes)
    # Two weights per cell (a unit weight and 1 to 4): targets as a (k, ncon)
    # array, every weight of every part within its own bound.
    w = np.stack([np.ones(n * n), 1 + np.arange(n * n) % 4], axis=1).astype(np.float32)
    h2 = veldan.Hypergraph(n * n, h.netptr, h.netind, cellwgt=w, ncon=2)
    targets = np.array([[0.5, 0.4], [0.25, 0.3], [0.125, 0.15], [0.125, 0.15]])
    for scheme in ("rb", "kway"):
        r = veldan.partition(h2, 4, scheme=scheme, epsilon=0.03, seed=1, part_weights=targets)
        loads = np.array([w[r.parts == p].sum(axis=0) for p in range(4)])
        assert r.balanced and (loads <= 1.03 * targets * w.sum(axis=0) + 1e-9).all(), \
            (scheme, loads)
    with pytest.raises(veldan.Error, match="sum to 0.9"):
        veldan.partition(h, 2, part_weights=[0.5, 0.4])
    with pytest.raises(veldan.Error, match="of weight 2 sum to 0.9"):
        veldan.partition(h2, 2, part_weights=[[0.5, 0.5], [0.5, 0.4]])


def test_initial_partition_is_improved():
    nvtxs, netptr, netind = two_clusters()
    given = np.array([0, 1] * 4)  # cuts every net
    r = veldan.partition((nvtxs, netptr, netind), 2, seed=1, nruns=1, initial=given)
    assert r.cut < veldan.evaluate((nvtxs, netptr, netind), given).cut and r.balanced
    with pytest.raises(veldan.Error, match="initial holds 7 entries"):
        veldan.partition((nvtxs, netptr, netind), 2, initial=given[:7])


def test_time_budget_counts_repeat_the_partition():
    h = veldan.read_hgr(str(ROOT / "examples" / "circuit1.hgr"))
    timed = veldan.partition(h, 4, seed=3, preset="fast", time=0.2)
    assert timed.nruns >= 1 and 0 <= timed.nvcycles <= min(timed.nruns, 0)
    again = veldan.partition(h, 4, seed=3, nruns=timed.nruns, nvcycles=timed.nvcycles,
                             ctype="h1")
    assert again.parts.tolist() == timed.parts.tolist() and again.nruns == timed.nruns


def test_ufactor_replaces_epsilon():
    h = two_clusters()
    with pytest.raises(veldan.Error):
        veldan.partition(h, 2, epsilon=-1)
    assert veldan.partition(h, 2, epsilon=-1, ufactor=5, seed=1).cut == 1


@pytest.mark.parametrize("call, status, words", [
    (lambda: veldan.partition((3, [0, 2], [0, 3]), 2), "invalid_hypergraph", "holds cell 3"),
    (lambda: veldan.partition(two_clusters(), 0), "invalid_options", "k is 0"),
    (lambda: veldan.partition(two_clusters(), 2, scheme="flat"), "invalid_options", "rb, kway"),
    (lambda: veldan.partition(two_clusters(), 2, preset="best"), "invalid_options",
     "default, fast, quality"),
    (lambda: veldan.partition(two_clusters(), 2, time=-1), "invalid_options", "time is"),
    (lambda: veldan.partition(two_clusters(), 2, rtype="kpfast"), "invalid_options",
     "refinement scheme"),
    (lambda: veldan.evaluate(two_clusters(), [0, 1]), "invalid_options", "2 entries for 8"),
    (lambda: veldan.partition(two_clusters(), 2**31), "invalid_options",
     "k is 2147483648: more parts than the 8 cells"),
    (lambda: veldan.evaluate(two_clusters(), [0] * 7 + [10**12]), "invalid_options",
     "k is 1000000000001: more parts than the 8 cells"),
    (lambda: veldan.evaluate(two_clusters(), [0] * 7 + [1], 10**8), "invalid_options",
     "k is 100000000: more parts than the 8 cells"),
    (lambda: veldan.partition(two_clusters(), 2, seed=2**63 - 1), "invalid_options",
     "at most 9223372036854775806"),
    # Cells are numbered from 0 in every message, as in the arrays.
    (lambda: veldan.evaluate(two_clusters(), [0] * 7 + [2], 2), "invalid_options",
     "^cell 7 is in part 2, outside 0 to 1$"),
], ids=["pin outside", "k=0", "unknown scheme", "unknown preset", "negative time", "k-way rtype", "short partition", "k=2^31",
        "implied k beyond the cells", "evaluate k beyond the cells", "seed beyond its range",
        "cells from 0"])
def test_errors_raise_with_the_message(call, status, words):
    with pytest.raises(veldan.Error, match=words) as e:
        call()
    assert isinstance(e.value, RuntimeError) and e.value.status == status


def test_unknown_keywords_are_refused():
    with pytest.raises(TypeError, match="unexpected keyword argument 'nrun'"):
        veldan.partition(two_clusters(), 2, nrun=3)
    with pytest.raises(TypeError, match="nruns must be an int"):
        veldan.partition(two_clusters(), 2, nruns=2.5)


def test_whole_numbers_threads_and_seeds():
    # Fractional cell numbers are refused, whole ones given as floats taken.
    with pytest.raises(ValueError, match="netind holds 0.5 at index 0, not a whole number"):
        veldan.Hypergraph(3, [0, 2], [0.5, 1.5])
    with pytest.raises(ValueError, match="fixed holds 1.5 at index 1"):
        veldan.Hypergraph(3, [0, 2], [0, 1], fixed=[-1.0, 1.5, 0.0])
    assert veldan.Hypergraph(3, np.array([0.0, 2.0]), [0, 2.0]).netind.tolist() == [0, 2]
    # A thread count far beyond the cores is capped: the same partition.
    h = veldan.Hypergraph(*two_clusters())
    r = veldan.partition(h, 2, seed=3)
    assert veldan.partition(h, 2, seed=3, threads=10**6).parts.tolist() == r.parts.tolist()
    # Seeds beyond 32 bits are kept whole and repeat the call.
    big = veldan.partition(h, 2, seed=2**40, nruns=2)
    assert big.seed == 2**40
    assert veldan.partition(h, 2, seed=big.seed, nruns=2).parts.tolist() == big.parts.tolist()


def test_reader_errors_raise_with_the_readers_message(tmp_path):
    # A folder, and bytes that are not text: veldan.Error with the message.
    with pytest.raises(veldan.Error, match="is a folder, not a file") as e:
        veldan.read_hgr(str(tmp_path))
    assert e.value.status == "invalid_hypergraph"
    garbage = tmp_path / "garbage.hgr"
    garbage.write_bytes(bytes([0xE6, 0xFF, 0x01, 0x20, 0x33, 0x0A]))
    with pytest.raises(veldan.Error, match=r'holds "\\xE6\\xFF\\x01" where an integer') as e:
        veldan.read_hgr(str(garbage))
    assert e.value.status == "invalid_hypergraph"
    missing = tmp_path / "none.hgr"
    with pytest.raises(veldan.Error, match="does not exist") as e:
        veldan.read_hgr(str(missing))
    assert e.value.status == "invalid_hypergraph"
    bad = tmp_path / "bad.hgr"
    bad.write_text("2 7\n1 2\n3 8\n")
    with pytest.raises(veldan.Error) as e:
        veldan.read_hgr(str(bad))
    assert str(e.value) == (f"Cell number: 8 read for net 2 is wrong.\n"
                            f"Hypergraph file {bad}, line 3.")
    # The module goes on working after a refused file.
    bad.write_text("2 7\n1 2\n3 7\n")
    assert veldan.read_hgr(str(bad)).netind.tolist() == [0, 1, 2, 6]


def test_concurrent_calls_give_the_sequential_partitions():
    nvtxs = 400
    rng = np.random.default_rng(1)
    nets = [rng.choice(nvtxs, size=rng.integers(2, 6), replace=False) for _ in range(600)]
    h = veldan.Hypergraph(nvtxs, np.cumsum([0] + [len(n) for n in nets]), np.concatenate(nets))
    seeds = range(1, 5)
    alone = [veldan.partition(h, 4, seed=s, nruns=2).parts.tolist() for s in seeds]
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        together = list(pool.map(lambda s: veldan.partition(h, 4, seed=s, nruns=2).parts.tolist(),
                                 seeds))
    assert together == alone
