# Transforms and least squares from Python: fits of known maps come back exactly, inverses invert,
# and NumPy shapes go in and out as given.
import math

import numpy as np
import pytest

import ptmatch

# Exact data: double rounding over a handful of points with coordinates below ~100.
EXACT = 1e-9


@pytest.fixture
def points():
    return np.random.default_rng(11).uniform(-50, 50, (12, 2))


@pytest.mark.parametrize("dof, truth", [(3, ptmatch.pose(2.5, 1.0, (7, -3))), (4, ptmatch.pose(-0.4, 3.0, (0, 9))),
                                        (6, np.array([[1.0, 0.3, 2.0], [-0.2, 0.8, -1.0]])), (0, ptmatch.pose(math.pi, 0.5))])
def test_affine_fit_recovers_the_map_and_its_inverse(points, dof, truth):
    tm = ptmatch.PtMatchTm()
    tm.fit_pairs(points, ptmatch.apply_pose(truth, points), dof)
    np.testing.assert_allclose(tm.a2b_xform, truth, atol=EXACT)
    np.testing.assert_allclose(tm.b2a(tm.a2b(points)), points, atol=EXACT)
    assert tm.a2b(points[0]).shape == (2,) and tm.pair_count == len(points)


def test_affine_edits_compose_in_the_documented_order():
    tm = ptmatch.PtMatchTm(ptmatch.pose(0.0, 2.0))
    tm.translate([1, 0])  # acts first, in a-space
    np.testing.assert_allclose(tm.a2b([0, 0]), [2, 0], atol=EXACT)
    other = ptmatch.PtMatchTm(ptmatch.pose(translation=(0, 5)))
    tm.append(other)  # this map first, then other's
    np.testing.assert_allclose(tm.a2b([0, 0]), [2, 5], atol=EXACT)


def test_projective_fit_recovers_a_homography(points):
    h = np.array([[1.1, 0.2, 3.0], [-0.1, 0.9, -2.0], [1e-3, -2e-3, 1.0]])
    hom = np.column_stack([points, np.ones(len(points))]) @ h.T
    tm = ptmatch.ProjectiveTm()
    tm.fit_pairs(points, hom[:, :2] / hom[:, 2:])
    np.testing.assert_allclose(tm.a2b_matrix, h, atol=1e-7)
    np.testing.assert_allclose(tm.b2a(tm.a2b(points)), points, atol=1e-6)


def test_spatial_fit_recovers_a_3d_affine_map():
    a = np.random.default_rng(2).uniform(-10, 10, (8, 3))
    m = np.array([[1, 0.1, 0, 4], [0, 2, 0.3, -1], [0.2, 0, 1, 0.5]])
    tm = ptmatch.PtMatchTm3D()
    tm.fit_pairs(a, a @ m[:, :3].T + m[:, 3])
    np.testing.assert_allclose(tm.a2b_matrix, m, atol=EXACT)
    np.testing.assert_allclose(tm.b2a(tm.a2b(a[0])), a[0], atol=EXACT)


def test_pseudo_inverse_and_matrix_agree_with_numpy():
    rng = np.random.default_rng(4)
    x = rng.normal(size=(20, 3))
    truth = np.array([0.5, -2.0, 3.0])
    p = ptmatch.PseudoInverse(3)
    p.update_many(x, x @ truth)
    np.testing.assert_allclose(p.fit(), truth, atol=EXACT)
    np.testing.assert_allclose(p.normal_matrix, x.T @ x, rtol=1e-12)
    a = rng.normal(size=(4, 4)) + 4 * np.eye(4)
    m = ptmatch.Matrix(a)
    np.testing.assert_allclose(m.inverse() @ a, np.eye(4), atol=EXACT)
    np.testing.assert_allclose(m.solve([1, 2, 3, 4]), np.linalg.solve(a, [1, 2, 3, 4]), atol=EXACT)
    with pytest.raises(ptmatch.SingularMatrix):
        ptmatch.Matrix(np.ones((3, 3))).inverse()
