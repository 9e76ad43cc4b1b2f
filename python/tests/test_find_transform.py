# find_transform and the coarse-to-fine search behind run's default: the pose is found in dense clutter
# with nothing but the pose ranges, the thread count does not change it, and a failure says why.
import numpy as np
import pytest

import ptmatch
from conftest import ROTATION_TOL, SCALE_TOL, TRANSLATION_TOL


def dense_scene(seed=3, present=True):
    """40 source points at least 5 apart over 100 x 100; the target holds 36 of them turned by 2.3 rad,
    scaled by 1.04 and shifted, with 0.05 noise, among 400 clutter points over three times the extent."""
    rng = np.random.default_rng(seed)
    source = []
    while len(source) < 40:
        p = rng.uniform(0.0, 100.0, 2)
        if all(np.hypot(*(p - q)) >= 5.0 for q in source):
            source.append(p)
    source = np.array(source)
    truth = ptmatch.pose(2.3, 1.04, (60.0, -30.0))
    image = ptmatch.apply_pose(truth, source[4:]) + rng.normal(0.0, 0.05, (36, 2))
    clutter = rng.uniform(-150.0, 250.0, (400, 2))
    points = np.vstack([image, clutter]) if present else clutter
    order = rng.permutation(len(points))
    target = points[order]
    # target index of source point i (i >= 4)
    target_of_source = {i + 4: int(np.where(order == i)[0][0]) for i in range(36)} if present else {}
    return source, target, truth, target_of_source


def test_find_transform_finds_the_pose_and_the_pairs_in_dense_clutter():
    source, target, truth, target_of_source = dense_scene()
    pose, pairs = ptmatch.find_transform(source, target)
    assert pose.shape == (2, 3)
    np.testing.assert_allclose(pose[:, :2], truth[:, :2], atol=ROTATION_TOL + SCALE_TOL)
    np.testing.assert_allclose(pose[:, 2], truth[:, 2], atol=TRANSLATION_TOL)
    assert pairs.dtype == np.int32 and pairs.shape[1] == 2
    right = sum(target_of_source.get(int(s)) == int(t) for s, t in pairs)
    assert right >= 0.9 * 36 and len(pairs) <= 40


def test_run_defaults_to_the_coarse_to_fine_search_whose_results_do_not_depend_on_threads():
    source, target, _, _ = dense_scene(seed=5)
    tool = ptmatch.PointMatcher()
    tool.train(source)
    one = tool.run(target, rotation_deg="full", scale=(0.95, 1.05), max_results=3, threads=1)
    two = tool.run(target, rotation_deg="full", scale=(0.95, 1.05), max_results=3, threads=2)
    assert one.search["kind"] == "coarse-to-fine"
    assert one.search["coarse_grid_size"] > one.search["grid_size"]
    assert (one.search["threads"], two.search["threads"]) == (1, 2)
    assert len(one) == len(two) >= 1
    for a, b in zip(one, two):
        assert np.array_equal(a.pose, b.pose) and a.coverage == b.coverage
        assert all(np.array_equal(x, y) for x, y in zip(a.correspondences, b.correspondences))
    # The tool's own grid over the whole ranges, by name, and a grid the caller chose, run once.
    assert tool.run(target, rotation_deg=10, search="single").search is None
    assert tool.run(target, rotation_deg=10, grid_size=3.0).search is None


@pytest.mark.parametrize(
    "present, keywords, limiting",
    [
        (False, {}, None),  # nothing to find: no setting to blame
        (True, {"min_coverage": 0.99}, "min_coverage"),  # 4 of 40 points are missing
        (True, {"rotation_deg": (-20, 20)}, "rotation_deg"),  # the truth is turned by 132 degrees
    ],
)
def test_find_transform_raises_with_the_best_coverage_and_the_setting_in_the_way(present, keywords, limiting):
    source, target, _, _ = dense_scene(present=present)
    with pytest.raises(ptmatch.NoTransformFound) as caught:
        ptmatch.find_transform(source, target, **keywords)
    assert isinstance(caught.value, ptmatch.Error)
    assert caught.value.limiting_setting == limiting
    assert 0.0 <= caught.value.best_coverage < keywords.get("min_coverage", 0.5)
    assert f"the best pose covered {caught.value.best_coverage:.3f}" in str(caught.value)


def test_search_settings_are_refused_with_what_they_take(exhaustive_tool):
    tool = ptmatch.PointMatcher()
    tool.train(dense_scene()[0])
    data = dense_scene()[1]
    with pytest.raises(ptmatch.BadParams, match="threads must be a whole number from 1 to 256, or 0 or None for one per core, not -1"):
        tool.run(data, threads=-1)
    with pytest.raises(ptmatch.BadParams, match="not 300"):
        tool.run(data, threads=300)
    with pytest.raises(TypeError, match="threads must be an integer"):
        tool.run(data, threads=1.5)
    with pytest.raises(ValueError, match='search must be "coarse-to-fine", "single" or None, not "fast"'):
        tool.run(data, search="fast")
    with pytest.raises(ptmatch.BadParams, match="serves tools trained from points"):
        exhaustive_tool.run(data, search="coarse-to-fine")
