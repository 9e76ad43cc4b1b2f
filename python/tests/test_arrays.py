# What goes in as NumPy comes back as NumPy with the right shape, dtype and values.
import math

import numpy as np
import pytest

import ptmatch


@pytest.mark.parametrize("points", [np.arange(10.0).reshape(5, 2), np.arange(10, dtype=np.float32).reshape(5, 2),
                                    np.arange(20.0).reshape(5, 4)[:, ::2], [[0, 0], [3, 0], [0, 4]]])
def test_model_points_round_trip_from_any_array_like(points):
    tool = ptmatch.PointMatcher()
    tool.train(points)
    back = tool.model_points
    assert back.dtype == np.float64 and back.shape == np.shape(points)
    np.testing.assert_array_equal(back, np.asarray(points, dtype=float))
    assert tool.weights.dtype == np.int32 and (tool.weights == 1).all()


def test_run_params_round_trip_poses_and_ranges():
    start = ptmatch.pose(0.5, 1.5, (10, 20))
    p = ptmatch.RunParams(start_pose=start, x_range=(-5, 5), scale_range=(-0.2, 0.1), capture_range=3.0)
    np.testing.assert_array_equal(p.start_pose, start)
    assert p.x_range == (-5, 5) and p.y_range == (-math.inf, math.inf)
    assert p.scale_range == pytest.approx((-0.2, 0.1)) and p.capture_range == 3.0 and p.grid_size is None
    # Whatever a getter returns can be given again, the full circle included.
    p.rotation_range = "full"
    q = ptmatch.RunParams(rotation_range=p.rotation_range, y_range=p.y_range)
    assert q.rotation_range == pytest.approx((-math.pi, math.pi)) and q == ptmatch.RunParams(rotation_range="full")
    # A homogeneous 3x3 pose is accepted; one with a projective row is not.
    p.start_pose = np.vstack([start, [0, 0, 1]])
    np.testing.assert_array_equal(p.start_pose, start)
    with pytest.raises(ValueError, match="last row"):
        p.start_pose = np.eye(3) + 0.1
    p.capture_range = None
    assert p.capture_range is None


def test_angle_ranges_wrap_through_pi():
    p = ptmatch.RunParams(rotation_range=ptmatch.radians((170, 190)))
    assert p.rotation_range == pytest.approx((math.radians(170), math.radians(-170)))


def test_empty_data_and_empty_arrays_are_accepted(exhaustive_tool):
    assert len(exhaustive_tool.run(np.zeros((0, 2)))) == 0
    assert len(exhaustive_tool.run([])) == 0
