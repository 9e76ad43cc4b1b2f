# Every archivable object goes to bytes and back unchanged; truncated or extended bytes are refused.
import copy
import pickle
import struct

import numpy as np
import pytest

import ptmatch


def trained_matcher():
    tool = ptmatch.PointMatcher()
    tool.train([[0, 0], [40, 0], [40, 25], [0, 25], [12, 8]], [3, 1, 1, 1, -2])
    return tool


def result_set():
    tool = trained_matcher()
    return tool.run(ptmatch.apply_pose(ptmatch.pose(0.1, 1.0, (5, 6)), tool.model_points), max_results=2)


def fitted_tm():
    return ptmatch.PtMatchTm(ptmatch.pose(0.3, 2.0, (1, 2)))


def projective():
    tm = ptmatch.ProjectiveTm()
    tm.fit_pairs([[0, 0], [1, 0], [0, 1], [1, 1], [2, 3]], [[0, 0], [2, 0], [0, 2], [2.2, 2.1], [4, 6.5]])
    return tm


def spatial():
    tm = ptmatch.PtMatchTm3D()
    a = np.array([[0, 0, 0], [1, 0, 0], [0, 1, 0], [0, 0, 1], [1, 1, 1]], dtype=float)
    tm.fit_pairs(a, a * 2 + [1, 2, 3])
    return tm


def grid_corresponder():
    g = ptmatch.GridCorresponder()
    g.train_positions([[0, 0], [1, 0], [2, 0], [0, 1], [0, 2]], feature_type=ptmatch.FeatureType.ALL_POINTS)
    return g


def pseudo_inverse():
    p = ptmatch.PseudoInverse(2)
    p.update_many([[1, 0], [0, 1], [1, 1]], [1, 2, 3.5])
    return p


# (factory, what must survive the round trip)
CASES = {
    "run params": (lambda: ptmatch.RunParams(min_coverage=0.7, rotation_range="full", grid_size=3.0), lambda x: x),
    "point matcher": (trained_matcher, lambda t: (t.model_points.tolist(), t.weights.tolist(), t.train_mode)),
    "result set": (result_set, lambda s: [(r.pose.tolist(), r.coverage, r.model_to_data_map.tolist()) for r in s]),
    "result": (lambda: result_set()[0], lambda r: (r.pose.tolist(), r.fit_error, r.data_indices.tolist())),
    "affine transform": (fitted_tm, lambda t: (t.a2b_xform.tolist(), t.b2a_xform.tolist())),
    "projective transform": (projective, lambda t: (t.a2b_matrix.tolist(), t.b2a_matrix.tolist())),
    "3-D transform": (spatial, lambda t: t.a2b_matrix.tolist()),
    "grid corresponder": (grid_corresponder, lambda g: (g.features.tolist(), g.pattern_rect)),
    "grid map params": (lambda: ptmatch.GridMapParams((10, 0), (0, 10), staggered=True, size_tol=(0.9, 1.1)),
                        lambda p: (p.xv.tolist(), p.staggered, p.size_tol)),
    "pseudo-inverse": (pseudo_inverse, lambda p: (p.normal_matrix.tolist(), p.fit().tolist())),
}


@pytest.mark.parametrize("name", CASES)
def test_objects_survive_bytes_pickle_and_deepcopy(name):
    make, key = CASES[name]
    original = make()
    data = original.to_bytes()
    assert isinstance(data, bytes) and data
    for restored in (type(original).from_bytes(data), pickle.loads(pickle.dumps(original)), copy.deepcopy(original)):
        assert key(restored) == key(original)
        assert restored.to_bytes() == data


@pytest.mark.parametrize("name", ["run params", "point matcher", "grid corresponder"])
def test_truncated_or_extended_bytes_are_refused(name):
    make, _ = CASES[name]
    original = make()
    data = original.to_bytes()
    with pytest.raises(ptmatch.EndOfData):
        type(original).from_bytes(data[:-1])
    with pytest.raises(ptmatch.BadData, match="1 bytes left"):
        type(original).from_bytes(data + b"\0")


def test_a_loaded_matcher_runs_like_the_original():
    tool = trained_matcher()
    data = ptmatch.apply_pose(ptmatch.pose(0.1, 1.0, (5, 6)), tool.model_points)
    loaded = ptmatch.PointMatcher.from_bytes(tool.to_bytes())
    np.testing.assert_array_equal(loaded.run(data)[0].pose, tool.run(data)[0].pose)


def test_forged_matchers_are_refused_with_a_message():
    # Tools nested a hundred thousand deep: refused at the second level, not by the stack running out.
    nested = struct.pack("<Iiii", 200009, 0, 0, 1) * 100000
    with pytest.raises(ptmatch.BadData, match="nested more than one level"):
        ptmatch.PointMatcher.from_bytes(nested)
    # The grid size of a trained point tool (offset 13) forged negative: refused, not sampled without end.
    data = bytearray(trained_matcher().to_bytes())
    data[13:21] = struct.pack("<d", -1e10)
    with pytest.raises(ptmatch.BadData, match="grid size -1e\\+10 outside"):
        ptmatch.PointMatcher.from_bytes(bytes(data))
