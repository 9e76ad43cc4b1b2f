# Grid indexing from Python: points near a rotated, noisy grid get consistent indices, clutter stays
# unmapped, and the grid corresponder finds a shifted pattern.
import math

import numpy as np
import pytest

import ptmatch

STEP = 12.0


def grid_scene(staggered, seed=5):
    rng = np.random.default_rng(seed)
    ij = np.array([(i, j) for i in range(-4, 5) for j in range(-3, 4) if not staggered or (i + j) % 2 == 0])
    angle = math.radians(7)
    grid_to_point = ptmatch.pose(angle, STEP, (100.0, 50.0))
    points = ptmatch.apply_pose(grid_to_point, ij) + rng.normal(0, 0.2, (len(ij), 2))
    clutter = np.array([[100.0 + STEP / 2, 50.0 + STEP / 3], [400.0, 400.0]])
    return np.vstack([points, clutter]), ij, grid_to_point


@pytest.mark.parametrize("staggered", [False, True])
def test_grid_points_receive_indices_that_differ_from_the_truth_by_one_shift(staggered):
    points, ij, truth = grid_scene(staggered)
    g = ptmatch.pt_to_grid_map(points, (STEP, 0), (0, STEP), staggered=staggered)
    n = len(ij)
    assert g.count == n and g.valid
    np.testing.assert_array_equal(g.mapped, [True] * n + [False, False])
    assert (g.indices[n:] == ptmatch.UNMAPPED).all()
    shift = g.indices[:n] - ij
    assert (shift == shift[0]).all(), "one translation of the index origin, nothing else"
    # grid_to_point maps the found indices back onto the points, within the noise.
    np.testing.assert_allclose(ptmatch.apply_pose(g.grid_to_point, g.indices[:n]), points[:n], atol=1.0)


def test_a_grid_map_without_a_starting_point_still_has_a_row_per_point():
    g = ptmatch.pt_to_grid_map([[0, 0], [100, 100], [300, 7]], (10, 0), (0, 10))
    assert g.count == 0 and not g.valid
    assert g.indices.shape == (3, 2) and (g.indices == ptmatch.UNMAPPED).all()


def test_params_object_and_keywords_give_the_same_map():
    points, _, _ = grid_scene(False)
    params = ptmatch.GridMapParams((STEP, 0), (0, STEP), angle_tol=ptmatch.radians((-10, 10)))
    a = ptmatch.pt_to_grid_map(points, params)
    b = ptmatch.pt_to_grid_map(points, (STEP, 0), (0, STEP), angle_tol=ptmatch.radians((-10, 10)))
    np.testing.assert_array_equal(a.indices, b.indices)
    np.testing.assert_array_equal(ptmatch.GridMap.from_bytes(a.to_bytes()).indices, a.indices)


def test_grid_corresponder_finds_a_shifted_pattern_in_positions_and_in_an_image():
    shape = np.array([[0, 0], [1, 0], [2, 0], [0, 1], [0, 2], [1, 2]])
    g = ptmatch.GridCorresponder()
    g.train_positions(shape, feature_type=ptmatch.FeatureType.ALL_POINTS)
    assert g.is_trained and g.pattern_rect == (0, 0, 2, 2)
    data = np.vstack([shape + [5, 3], [[0, 0], [9, 9]]])
    best = g.run_positions(data, accept=0.9)
    assert len(best) == 1 and best[0].position == (5, 3) and best[0].score == pytest.approx(1.0)
    image = np.zeros((12, 12), dtype=np.uint8)
    image[data[:, 1], data[:, 0]] = 1
    from_image = g.run(image, accept=0.9, offset=(-1, -1))
    assert from_image[0].position == (4, 2)
