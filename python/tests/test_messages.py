# Refused inputs and the messages they give: each names the input, the value and what is accepted, in the
# package's words, never a C++ class, a mode constant or pybind11's listing of overloads.
import math
import re

import numpy as np
import pytest

import ptmatch

MODEL = [[0, 0], [40, 0], [40, 25], [0, 25], [12, 8]]
PATTERN = np.zeros((6, 6), dtype=np.uint8)
PATTERN[1:5, 1:5] = 1


def trained():
    tool = ptmatch.PointMatcher()
    tool.train(MODEL)
    return tool


def pattern_result():
    tool = ptmatch.PointMatcher()
    tool.train_pattern(PATTERN, pel_size=10)
    data = ptmatch.apply_pose(ptmatch.pose(translation=(100, 50)), np.argwhere(PATTERN)[:, ::-1] * 10.0)
    return tool, tool.run(data, scale=(0.9, 1.1))[0]


REFUSED = [
    (lambda: ptmatch.RunParams(max_results=2.5), TypeError, r"^max_results must be an integer >= 1, not float 2.5$"),
    (lambda: ptmatch.RunParams(max_results="2"), TypeError, r"^max_results must be an integer >= 1, not str '2'$"),
    (lambda: ptmatch.RunParams(scale="big"), TypeError, r"^scale must be a scale factor or a \(low, high\) pair"),
    (lambda: ptmatch.RunParams(rotation_deg=(1, 2, 3)), TypeError, r"^rotation_deg must be .* not a sequence of 3$"),
    (lambda: ptmatch.RunParams(min_coverage="high"), TypeError, r"^min_coverage must be a fraction from 0 to 1"),
    (lambda: ptmatch.RunParams(min_coverage=1.5), ptmatch.BadParams, r"^min_coverage must be a fraction from 0 to 1, not 1.5$"),
    (lambda: ptmatch.RunParams(rotation_deg=math.nan), ptmatch.BadParams, r"^rotation_deg must be finite degrees"),
    (lambda: ptmatch.RunParams(rotation_deg="any"), ValueError, r"^rotation_deg must be degrees D .* not 'any'$"),
    (lambda: ptmatch.RunParams(scale=(1.1, 0.9)), ptmatch.BadParams, r"^scale takes scale factors from 0.1 up, smallest first"),
    (lambda: ptmatch.PointMatcher().run([[0, 0]]), ptmatch.NotTrained, r"^the tool is not trained$"),
    (lambda: trained().run(MODEL, 5), TypeError, r"^params must be a ptmatch.RunParams or None, not 5"),
    (lambda: trained().run(MODEL, time_limit="1s"), TypeError, r"^time_limit must be a number of seconds"),
    (lambda: ptmatch.PointMatcher().train(MODEL, mode=3), TypeError, r"^mode must be \"auto\", .* not 3$"),
    (lambda: ptmatch.GridMapParams([12, 0], [0, 12], snap_size=-1), ValueError,
     r"^snap_size must be a distance > 0, or 0 for a fifth of the shorter step, not -1$"),
    (lambda: ptmatch.PointMatcher().train(MODEL, [1, -1, -1, -1, -1]), ptmatch.BadParams,
     r"^at least two weights must be positive \(> 0\)"),
    (lambda: trained().run(MODEL, time_limit=-1), ptmatch.BadParams,
     r"^time_limit must be a number of seconds > 0, or 0 or None for no limit, not -1$"),
    (lambda: pattern_result()[1].data_indices, ptmatch.NotRun,
     r"^correspondences: this result is from a pattern-trained tool.*use tool.grid_correspondences\(result\)"),
    (lambda: pattern_result()[1].model_to_data_map, ptmatch.NotRun, r"^model_to_data_map: .*grid_correspondences"),
    (lambda: trained().grid_correspondences(trained().run(MODEL)[0]), ptmatch.NotRun,
     r"^grid_correspondences: this result is from a points-trained tool; its pairs are result.model_indices"),
    (lambda: ptmatch.PointMatcher().train_pattern(PATTERN, pel_size=0), ptmatch.BadParams,
     r"^pel_size must be a finite number > 0 \(data units between neighbouring nodes\), not 0$"),
    (lambda: ptmatch.PointMatcher().train_pattern(PATTERN, ptmatch.pose(scale=2), pel_size=2), TypeError,
     r"^give pel_size or client_from_image, not both"),
    (lambda: ptmatch.apply_pose(np.eye(2), MODEL), ValueError, r"^pose must be a 2x3 pose or a 3x3 projective matrix"),
]


@pytest.mark.parametrize("call, cls, message", REFUSED, ids=[r[2][:40] for r in REFUSED])
def test_refused_inputs_name_the_input_and_what_is_accepted(call, cls, message):
    with pytest.raises(cls) as caught:
        call()
    text = str(caught.value)
    assert re.search(message, text), text
    assert not re.search(r"\bxc[A-Z]|\be[A-Z][a-z]+[A-Z]|incompatible function arguments|positve", text), text


def test_pel_size_trains_as_the_equivalent_client_from_image():
    by_size, by_pose = ptmatch.PointMatcher(), ptmatch.PointMatcher()
    by_size.train_pattern(PATTERN, pel_size=0.8)
    by_pose.train_pattern(PATTERN, [[0.8, 0, 0], [0, 0.8, 0]])
    assert by_size.to_bytes() == by_pose.to_bytes()


def test_a_3x3_matrix_is_applied_as_a_projective_transform():
    h = np.array([[2.0, 0, 1], [0, 2, 0], [0, 0.5, 1]])
    got = ptmatch.apply_pose(h, [[1, 2], [0, 0]])
    np.testing.assert_allclose(got, [[3 / 2, 4 / 2], [1, 0]])
    np.testing.assert_allclose(ptmatch.apply_pose(h[:2], [1, 2]), [3, 4])
