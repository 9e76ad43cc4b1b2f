# The point matcher from Python: known poses are recovered, correspondences are right, and every search
# (voting, exhaustive, pattern) is reachable with the library's results.
import math

import numpy as np
import pytest

import ptmatch
from conftest import ROTATION_TOL, SCALE_TOL, TRANSLATION_TOL, Scene


def assert_pose_recovered(result, scene):
    truth_rotation = math.atan2(scene.truth[1, 0], scene.truth[0, 0])
    truth_scale = math.hypot(scene.truth[0, 0], scene.truth[1, 0])
    assert abs(result.rotation - truth_rotation) < ROTATION_TOL
    assert abs(result.scale - truth_scale) < SCALE_TOL
    np.testing.assert_allclose(result.translation, scene.truth[:, 2], atol=TRANSLATION_TOL)
    np.testing.assert_allclose(result.pose[:, :2], scene.truth[:, :2], atol=ROTATION_TOL * 2)


@pytest.mark.parametrize(
    "rotation, scale, translation",
    [(0.35, 1.04, (250.0, -40.0)), (-0.2, 0.93, (-1000.0, 500.0)), (3.0, 1.0, (12.5, 7.25))],
)
def test_voting_search_recovers_a_known_pose_with_its_correspondences(rotation, scale, translation):
    scene = Scene(rotation, scale, translation)
    tool = ptmatch.PointMatcher()
    tool.train(scene.model)
    start = ptmatch.pose(rotation=rotation - 0.05)
    results = tool.run(scene.data, start_pose=start, rotation_range=(-0.2, 0.2), scale_range=(-0.1, 0.1))
    assert len(results) == 1 and results.time > 0
    best = results[0]
    assert_pose_recovered(best, scene)
    assert best.coverage == 1.0 and best.run_mode == ptmatch.Mode.POINT_TO_POINT
    np.testing.assert_array_equal(best.model_indices, np.arange(len(scene.model)))
    np.testing.assert_array_equal(best.data_indices, scene.data_of_model)
    # The reported fit error is the rms residual of exactly those pairs under the reported pose.
    residual = ptmatch.apply_pose(best.pose, scene.model) - scene.data[scene.data_of_model]
    assert best.fit_error == pytest.approx(math.sqrt((residual**2).sum(axis=1).mean()), rel=1e-6)


def test_params_object_and_keywords_combine_with_keywords_winning(scene):
    tool = ptmatch.PointMatcher()
    tool.train(scene.model)
    params = ptmatch.RunParams(rotation_range=(-0.1, 0.1), scale_range=(-0.1, 0.1), max_results=3)
    # The true rotation 0.35 lies outside the params' range; the keyword widens it.
    assert not any(abs(r.rotation - 0.35) < ROTATION_TOL for r in tool.run(scene.data, params))
    found = tool.run(scene.data, params, rotation_range=(0.2, 0.5))
    assert_pose_recovered(found[0], scene)
    assert params.rotation_range == pytest.approx((-0.1, 0.1)), "the caller's params must not change"


def test_weighted_training_keeps_weights_and_a_negative_point_rejects_a_pose(scene):
    tool = ptmatch.PointMatcher()
    weights = np.ones(len(scene.model), dtype=np.int64)
    weights[0] = -5
    tool.train(scene.model, weights)
    np.testing.assert_array_equal(tool.weights, weights)
    best = tool.run(scene.data, rotation_range=(0.2, 0.5), scale_range=(-0.1, 0.1))
    # The pose that puts a data point on the negative model point loses coverage by its weight.
    assert len(best) == 0 or best[0].coverage < 1.0


def test_exhaustive_mode_finds_the_pairing_and_reports_its_mode(exhaustive_tool):
    model = exhaustive_tool.model_points
    data = np.vstack([[[500.0, 500.0]], ptmatch.apply_pose(ptmatch.pose(math.pi / 2, 1.0, (3, 4)), model)])
    best = exhaustive_tool.run(data, rotation_range="full")[0]
    assert exhaustive_tool.train_mode == ptmatch.Mode.EXHAUSTIVE
    assert best.run_mode == ptmatch.Mode.EXHAUSTIVE
    np.testing.assert_array_equal(best.model_to_data_map, [1, 2, 3, 4])
    assert best.rotation == pytest.approx(math.pi / 2, abs=1e-9)


def test_dense_pattern_is_found_and_its_pels_map_to_the_data():
    pattern = np.zeros((6, 7), dtype=np.uint8)
    pattern[1:5, 1:6] = 1
    pattern[1, 1] = 0  # a missing corner fixes the orientation
    pitch = 12.0
    client_from_image = ptmatch.pose(scale=pitch)
    truth = ptmatch.pose(0.1, 1.0, (300.0, 200.0))
    rows, cols = np.nonzero(pattern)
    data = ptmatch.apply_pose(truth @ np.vstack([client_from_image, [0, 0, 1]]), np.column_stack([cols, rows]))
    tool = ptmatch.PointMatcher()
    tool.train_pattern(pattern, client_from_image=client_from_image)
    # The tool keeps the set pels' bounding box.
    np.testing.assert_array_equal(tool.pattern, pattern[1:5, 1:6])
    best = tool.run(data, rotation_range=(-0.3, 0.3), scale_range=(-0.1, 0.1))[0]
    assert best.run_mode == ptmatch.Mode.POINT_TO_GRID and best.coverage == 1.0
    np.testing.assert_allclose(best.pose, truth, atol=1e-6)
    positions, data_indices = tool.grid_correspondences(best)
    np.testing.assert_array_equal(positions, np.column_stack([cols, rows]))
    np.testing.assert_array_equal(data_indices, np.arange(len(data)))
    assert best.grid_to_data(int(cols[3]), int(rows[3])) == 3
    assert best.grid_to_data(1, 1) == -1


def test_degree_helpers_convert_numbers_tuples_and_arrays():
    assert ptmatch.radians(180) == pytest.approx(math.pi)
    assert ptmatch.radians((-15, 15)) == pytest.approx((-math.radians(15), math.radians(15)))
    np.testing.assert_allclose(ptmatch.degrees(np.array([math.pi, -math.pi / 2])), [180.0, -90.0])
    assert ptmatch.RunParams().rotation_range == pytest.approx(ptmatch.radians((-15, 15)))
