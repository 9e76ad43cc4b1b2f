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


def match_many(tool, scenes, params=None, *, threads=None, time_limit=None, search=None, **keywords):
    """Runs `tool` on each (M, 2) array of `scenes` on a pool of `threads` threads (0 or None: one per
    core) sharing the one tool, with the GIL released; returns a list of ResultSet in the order of the
    scenes. Takes what PointMatcher.run takes: a RunParams and/or keywords, and time_limit (seconds) for
    each scene's search, and search= as run takes it (each scene's search on one thread). Ctrl-C stops every search with KeyboardInterrupt; a failed scene raises its error,
    the earliest one's when several fail. ptmatch.dask spreads scenes over the workers of a cluster."""
    return tool.run_many(scenes, params, threads=threads, time_limit=time_limit, search=search, **keywords)


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



class NoTransformFound(Error):
    """Raised by find_transform when no pose of the source covers min_coverage of it in the target.

    best_coverage is the largest fraction of the source that any pose matched; limiting_setting the
    find_transform keyword most likely in the way ("min_coverage", "rotation_deg" or "scale"), or None when
    the source is most likely not in the target at all."""

    def __init__(self, message, best_coverage=0.0, limiting_setting=None):
        super().__init__(message)
        self.best_coverage = best_coverage
        self.limiting_setting = limiting_setting


# The keyword of find_transform for each RunParams property the search may name as in the way.
_FIND_TRANSFORM_KEYWORDS = {"min_coverage": "min_coverage", "rotation_range": "rotation_deg", "scale_range": "scale"}


def find_transform(source, target, *, rotation_deg="full", scale=(0.9, 1.1), min_coverage=0.5, weights=None,
                   threads=None, time_limit=None):
    """Finds where the (N, 2) source points lie among the (M, 2) target points, in one call.

    Any rotation and scale factors 0.9 to 1.1 by default; no grid or capture settings are needed: the
    coarse-to-fine search chooses them from the data. rotation_deg: "full", D for -D to D degrees, or a
    (start, end) pair in degrees; scale: a factor or a (low, high) pair of factors; min_coverage: the least
    fraction of the source that must be matched; weights: optional signed integer weight per source point;
    threads: of the search, None for every core (the result does not depend on it); time_limit: seconds,
    None for no limit (TimeLimitExpired when it runs out).

    Returns (pose, pairs): the 2x3 similarity pose mapping source onto target, and a (K, 2) int32 array of
    (source index, target index) for every matched source point. Raises NoTransformFound, which says the
    best coverage reached and the setting most likely in the way, when no pose covers min_coverage.
    """
    tool = PointMatcher()
    tool.train(source, weights)
    found = tool.run(target, rotation_deg=rotation_deg, scale=scale, min_coverage=min_coverage, threads=threads,
                     time_limit=time_limit)
    if len(found) == 0:
        search = found.search or {}
        best = search.get("best_coverage", 0.0)
        setting = _FIND_TRANSFORM_KEYWORDS.get(search.get("limiting_setting"))
        message = (f"no pose of the source covers min_coverage={min_coverage:g} of it in the target; the best "
                   f"pose covered {best:.3f}")
        if setting is not None:
            message += f"; most likely in the way: {setting}"
        else:
            message += "; the source is most likely not in the target, or not at the rotation and scale allowed"
        raise NoTransformFound(message, best, setting)
    best = found[0]
    model_indices, data_indices = best.correspondences
    pairs = _np.stack([model_indices, data_indices], axis=1).astype(_np.int32)
    return best.pose, pairs
