# Settings and inputs Python refuses exactly as the ptmatch tool does, with the same wording: grid sizes and
# capture ranges that no run can use, weights that are not 32-bit integers, patterns too sparse to train.
import math

import numpy as np
import pytest

import ptmatch

UNUSABLE = [-1.0, 0.0, math.nan, math.inf, -math.inf]
SETTINGS = ["grid_size", "capture_range"]


def via_constructor(name, value):
    ptmatch.RunParams(**{name: value})


def via_property(name, value):
    params = ptmatch.RunParams(**{name: 2.0})
    try:
        setattr(params, name, value)
    finally:
        assert getattr(params, name) == 2.0  # a refused value keeps the old one


def via_run(name, value):
    tool = ptmatch.PointMatcher()
    tool.train([[0, 0], [10, 0], [0, 10], [5, 3]])
    tool.run([[0, 0], [10, 0], [0, 10]], **{name: value})


@pytest.mark.parametrize("route", [via_constructor, via_property, via_run])
@pytest.mark.parametrize("name", SETTINGS)
@pytest.mark.parametrize("value", UNUSABLE)
def test_unusable_grid_sizes_and_capture_ranges_are_refused_on_every_route(route, name, value):
    with pytest.raises(ptmatch.BadParams, match=f"^{name} must be a finite number > 0 or None, not "):
        route(name, value)


@pytest.mark.parametrize("name", SETTINGS)
def test_an_explicit_value_holds_after_automatic_and_automatic_after_a_value(name):
    params = ptmatch.RunParams()
    for value in (3.5, None, 0.25, None, 7):
        setattr(params, name, value)
        assert getattr(params, name) == value
    restored = ptmatch.RunParams.from_bytes(ptmatch.RunParams(**{name: 0.25}).to_bytes())
    assert getattr(restored, name) == 0.25


@pytest.mark.parametrize(
    "weights, message",
    [
        ([1.9, 1, 1, -0.7], r"weights\[0\]: weight 1.9 is not a 32-bit integer"),
        ([1, 1, 1, -0.7], r"weights\[3\]: weight -0.7 is not a 32-bit integer"),
        ([1, 1, 1, 2**31], r"weights\[3\]: weight 2147483648 is not a 32-bit integer"),
        ([1, 1, 1, -(2**31) - 1], r"weights\[3\]: weight -2147483649 is not a 32-bit integer"),
        (np.array([1, 1, math.nan, 1]), r"weights\[2\]: weight nan is not a 32-bit integer"),
    ],
)
def test_weights_that_are_not_32_bit_integers_are_refused_not_rounded(weights, message):
    tool = ptmatch.PointMatcher()
    with pytest.raises(ptmatch.BadParams, match=message):
        tool.train([[0, 0], [10, 0], [0, 10], [5, 3]], weights)
    assert not tool.is_trained


def test_the_whole_32_bit_range_of_weights_is_accepted():
    tool = ptmatch.PointMatcher()
    tool.train([[0, 0], [10, 0], [0, 10], [5, 3]], np.array([1, 1, 1, -(2**31)], dtype=np.int64))
    assert tool.weights.tolist() == [1, 1, 1, -(2**31)]


def test_a_pattern_with_too_few_set_pels_is_refused_with_the_count():
    pattern = np.zeros((4096, 4096), dtype=np.uint8)
    pattern[10, 20] = pattern[3000, 7] = 255
    with pytest.raises(ptmatch.InsufficientModelPoints, match="pattern has 2 set .* at least 3"):
        ptmatch.PointMatcher().train_pattern(pattern)
