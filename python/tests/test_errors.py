# Library exceptions arrive in Python as ptmatch.Error subclasses that also derive from the built-in
# class a Python caller would catch, and carry the library's message.
import math

import numpy as np
import pytest

import ptmatch


@pytest.mark.parametrize(
    "call, cls, builtin, message",
    [
        (lambda: ptmatch.RunParams(min_coverage=1.5), ptmatch.BadParams, ValueError,
         "min_coverage must be a fraction from 0 to 1, not 1.5"),
        (lambda: ptmatch.RunParams(max_results=0), ptmatch.BadParams, ValueError, "max_results must be an integer >= 1, not 0"),
        (lambda: ptmatch.RunParams(scale_range=(-0.95, 0.1)), ptmatch.BadParams, ValueError, "-0.9"),
        (lambda: ptmatch.PointMatcher().train([[0, 0], [1, 1]]), ptmatch.InsufficientModelPoints, ValueError, ""),
        (lambda: ptmatch.PointMatcher().train([[0, 0], [1, 0], [0, math.nan]]), ptmatch.BadParams, ValueError, "finite"),
        (lambda: ptmatch.PointMatcher().train([[0, 0], [1, 0], [0, 1]], [1, 1]), ptmatch.BadParams, ValueError, "weight"),
        (lambda: ptmatch.PointMatcher().train([[0, 0], [1, 0], [0, 1]], mode="pattern"), ptmatch.BadParams, ValueError, ""),
        (lambda: ptmatch.PointMatcher().run([[0, 0]]), ptmatch.NotTrained, ptmatch.PointMatcherError, ""),
        (lambda: ptmatch.PointMatcher().model_points, ptmatch.NotTrained, ptmatch.Error, ""),
        (lambda: ptmatch.Result().grid_to_data(0, 0), ptmatch.NotRun, ptmatch.PointMatcherError,
         "this result is from a points-trained tool and has no pattern pels"),
        (lambda: ptmatch.PtMatchTm().fit_pairs([[0, 0], [1, 1]], [[0, 0], [1, 1]], 6), ptmatch.FitError, ValueError, ""),
        (lambda: ptmatch.PtMatchTm().update([[0, 0]], [[0, 0], [1, 1]]), ptmatch.BadArgs, ValueError, "differ in length"),
        (lambda: ptmatch.PtMatchTm(np.zeros((2, 3))), ptmatch.MathError, ArithmeticError, ""),
        (lambda: ptmatch.PseudoInverse(2).fit(), ptmatch.SingularMatrix, ArithmeticError, "singular"),
        (lambda: ptmatch.Matrix(np.ones((2, 3))).inverse(), ptmatch.NotSquareMatrix, ValueError, "not square"),
        (lambda: ptmatch.GridCorresponder().train_positions(np.zeros((0, 2))), ptmatch.GridInsufficientModelPoints,
         ptmatch.GridCorresponderError, ""),
        (lambda: ptmatch.RunParams.from_bytes(b"\x01"), ptmatch.EndOfData, EOFError, ""),
    ],
)
def test_library_failures_raise_their_class_with_the_library_message(call, cls, builtin, message):
    with pytest.raises(cls) as caught:
        call()
    assert isinstance(caught.value, (ptmatch.Error, builtin)) and isinstance(caught.value, builtin)
    assert isinstance(caught.value, ptmatch.Error)
    assert message in str(caught.value)
    assert not str(caught.value).endswith("\n")


def test_point_matcher_errors_carry_the_library_error_number():
    with pytest.raises(ptmatch.BadParams) as caught:
        ptmatch.RunParams(min_coverage=-1)
    assert caught.value.error_number == 0x10005F00


def test_a_refused_setter_leaves_the_field_as_it_was():
    params = ptmatch.RunParams(grid_size=2.0)
    with pytest.raises(ptmatch.BadParams):
        params.grid_size = -1.0
    assert params.grid_size == 2.0


def test_run_refusals_name_the_limit_and_unknown_keywords_are_type_errors(exhaustive_tool):
    voting = ptmatch.PointMatcher()
    voting.train([[0, 0], [10, 0], [0, 10], [5, 5]])
    with pytest.raises(ptmatch.BadParams, match="NaN|finite"):
        voting.run([[0, 0], [math.inf, 1]])
    with pytest.raises(TypeError, match="rotaton_range"):
        exhaustive_tool.run([[0, 0]], rotaton_range="full")  # misspelt on purpose
    with pytest.raises(ValueError, match=r"shape \(N, 2\)"):
        exhaustive_tool.run(np.zeros((4, 3)))
    with pytest.raises(ValueError, match="32-bit"):
        voting.train([[0, 0], [10, 0], [0, 10]], [2**31, 1, 1])
