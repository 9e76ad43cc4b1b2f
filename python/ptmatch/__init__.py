"""Point-pattern matching for machine vision.

Train a PointMatcher with model points (an (N, 2) array, optionally with integer weights) or with a uint8
grid pattern, run it on data points, and read the poses it found as 2x3 NumPy arrays together with their
coverage, fit error and point-to-point correspondences. Angles are radians, except in names that say
degrees (rotation_deg); degrees() and radians() convert. Scale ranges are factors (scale=(0.9, 1.1)), as in
the ptmatch tool. Every library exception is a ptmatch.Error subclass.
"""

import numpy as _np

from ._ptmatch import (  # noqa: F401  (re-exported)
    UNMAPPED,
    __version__,
    ArchiveError,
    BadArgs,
    BadData,
    BadLimit,
    BadParams,
    EndOfData,
    Error,
    FeatureType,
    FitError,
    GridCorrespondence,
    GridCorrespondenceSet,
    GridCorresponder,
    GridCorresponderError,
    GridIndex,
    GridInsufficientModelPoints,
    GridMap,
    GridMapParams,
    InsufficientMemory,
    InsufficientModelPoints,
    MathError,
    Matrix,
    Mode,
    NotRun,
    NotSquareMatrix,
    NotTrained,
    PelBufferError,
    PointMatcher,
    PointMatcherError,
    ProjectiveTm,
    PseudoInverse,
    PtMatchTm,
    PtMatchTm3D,
    Result,
    ResultSet,
    RunParams,
    SingularMatrix,
    StopRequested,
    TimeLimitExpired,
    UnknownVersion,
    WriteFailed,
    grid_index,
    pt_to_grid_map,
)


def radians(degrees_value):
    """Degrees to radians; numbers, tuples (such as a rotation range) and arrays alike."""
    if isinstance(degrees_value, tuple):
        return tuple(radians(v) for v in degrees_value)
    return _np.radians(degrees_value) if _np.ndim(degrees_value) else float(_np.radians(degrees_value))


def degrees(radians_value):
    """Radians to degrees; numbers, tuples and arrays alike."""
    if isinstance(radians_value, tuple):
        return tuple(degrees(v) for v in radians_value)
    return _np.degrees(radians_value) if _np.ndim(radians_value) else float(_np.degrees(radians_value))


def pose(rotation=0.0, scale=1.0, translation=(0.0, 0.0)):
    """A 2x3 similarity pose: rotate by `rotation` radians and scale by `scale` about the origin, then
    translate. The form every pose of this package takes (start_pose, Result.pose)."""
    c, s = _np.cos(rotation) * scale, _np.sin(rotation) * scale
    return _np.array([[c, -s, translation[0]], [s, c, translation[1]]], dtype=float)


def apply_pose(pose, points):
    """Maps (N, 2) points (or one (2,) point) through a pose: a 2x3 affine pose, or a 3x3 matrix, which is
    applied as a projective transform (homogeneous coordinates, divided by the third)."""
    p = _np.asarray(pose, dtype=float)
    pts = _np.asarray(points, dtype=float)
    if pts.ndim not in (1, 2) or pts.shape[-1] != 2:
        raise ValueError(f"points must be an array of shape (N, 2) or (2,), not {pts.shape}")
    if p.shape == (2, 3):
        return pts @ p[:, :2].T + p[:, 2]
    if p.shape == (3, 3):
        h = pts @ p[:, :2].T + p[:, 2]
        return h[..., :2] / h[..., 2:3]
    raise ValueError(f"pose must be a 2x3 pose or a 3x3 projective matrix, not an array of shape {p.shape}")

