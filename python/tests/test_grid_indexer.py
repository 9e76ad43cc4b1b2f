# The grid indexer from Python: a board in perspective with clutter in one call, its node list, the
# refusals as ValueError, and the result's byte round trip.
import math

import numpy as np
import pytest

import ptmatch

STEP = 20.0


def perspective_board(cols=9, rows=6, shrink=1.6, seed=3):
    """Nodes of a board whose far rows are up to `shrink` times shorter, plus clutter around it."""
    rng = np.random.default_rng(seed)
    ij = np.array([(i, j) for j in range(rows) for i in range(cols)])
    a = (shrink - 1) / (shrink + 1)
    depth = 1 + a * (2 * ij[:, 1] / (rows - 1) - 1)  # far side (high j) deeper, hence shorter
    turn = math.radians(6)
    centred = (ij - [(cols - 1) / 2, (rows - 1) / 2]) * STEP / depth[:, None]
    rot = np.array([[math.cos(turn), -math.sin(turn)], [math.sin(turn), math.cos(turn)]])
    nodes = centred @ rot.T + [300.0, 200.0] + rng.normal(0, 0.3, centred.shape)
    clutter = rng.uniform([120, 60], [480, 340], (25, 2))
    near = np.min(np.linalg.norm(clutter[:, None, :] - nodes[None, :, :], axis=2), axis=1) > 0.35 * STEP
    return np.vstack([nodes, clutter[near]]), ij


def test_indexes_every_node_of_a_board_in_perspective_and_no_clutter():
    points, ij = perspective_board()
    n = len(ij)
    g = ptmatch.grid_index(points, (STEP, 0), (0, STEP), board=(9, 6))
    assert g.found and g.board_found and g.count == n
    np.testing.assert_array_equal(g.indices[:n], ij)
    assert (g.indices[n:] == -1).all() and (g.residuals[n:] == -1).all()
    np.testing.assert_array_equal(g.board_points, np.arange(n))
    assert g.homography.shape == (3, 3) and g.homography[2, 2] == 1.0
    x, y = g.node_position(4, 3)
    assert math.hypot(x - points[3 * 9 + 4, 0], y - points[3 * 9 + 4, 1]) < 2.0


def test_a_board_not_found_says_why_and_keeps_one_row_per_point():
    points, _ = perspective_board()
    g = ptmatch.grid_index(points, (STEP, 0), (0, STEP), board=(10, 6))
    assert not g.board_found and "in 2 places" in g.board_message and len(g.board_points) == 0
    empty = ptmatch.grid_index([[0, 0], [50, 70]], (STEP, 0), (0, STEP))
    assert not empty.found and empty.indices.shape == (2, 2) and (empty.indices == -1).all()


@pytest.mark.parametrize(
    "kwargs, message",
    [
        (dict(points=[[0, 0], [1, math.nan]]), "data point 1 has a non-finite coordinate"),
        (dict(yv=(STEP, 1)), "xv and yv are within"),
        (dict(snap_fraction=0.5), "snapFraction is 0.5, outside 0.05 to 0.45"),
        (dict(board=(2, 5)), "board 2 x 5 is not 0 x 0"),
    ],
)
def test_refusals_are_value_errors_naming_the_limit(kwargs, message):
    args = dict(points=[[0, 0]], xv=(STEP, 0), yv=(0, STEP))
    args.update(kwargs)
    with pytest.raises(ValueError, match=message):
        ptmatch.grid_index(**args)


def test_a_result_survives_its_bytes():
    points, _ = perspective_board()
    g = ptmatch.grid_index(points, (STEP, 0), (0, STEP), board=(9, 6))
    back = ptmatch.GridIndex.from_bytes(g.to_bytes())
    np.testing.assert_array_equal(back.indices, g.indices)
    np.testing.assert_array_equal(back.board_points, g.board_points)
    np.testing.assert_array_equal(back.homography, g.homography)
