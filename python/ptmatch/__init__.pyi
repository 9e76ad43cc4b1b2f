# Type stubs of the ptmatch package: the compiled core re-exported, and the pure-Python helpers.
from typing import Tuple, Union, overload

import numpy as np
import numpy.typing as npt

from ._ptmatch import (
    UNMAPPED as UNMAPPED,
    __version__ as __version__,
    ArchiveError as ArchiveError,
    BadArgs as BadArgs,
    BadData as BadData,
    BadLimit as BadLimit,
    BadParams as BadParams,
    EndOfData as EndOfData,
    Error as Error,
    FeatureType as FeatureType,
    FitError as FitError,
    GridCorrespondence as GridCorrespondence,
    GridCorrespondenceSet as GridCorrespondenceSet,
    GridCorresponder as GridCorresponder,
    GridCorresponderError as GridCorresponderError,
    GridIndex as GridIndex,
    GridInsufficientModelPoints as GridInsufficientModelPoints,
    GridMap as GridMap,
    GridMapParams as GridMapParams,
    InsufficientMemory as InsufficientMemory,
    InsufficientModelPoints as InsufficientModelPoints,
    MathError as MathError,
    Matrix as Matrix,
    Mode as Mode,
    NotRun as NotRun,
    NotSquareMatrix as NotSquareMatrix,
    NotTrained as NotTrained,
    PelBufferError as PelBufferError,
    PointMatcher as PointMatcher,
    PointMatcherError as PointMatcherError,
    ProjectiveTm as ProjectiveTm,
    PseudoInverse as PseudoInverse,
    PtMatchTm as PtMatchTm,
    PtMatchTm3D as PtMatchTm3D,
    Result as Result,
    ResultSet as ResultSet,
    RunParams as RunParams,
    SingularMatrix as SingularMatrix,
    StopRequested as StopRequested,
    TimeLimitExpired as TimeLimitExpired,
    UnknownVersion as UnknownVersion,
    WriteFailed as WriteFailed,
    grid_index as grid_index,
    pt_to_grid_map as pt_to_grid_map,
)

_Number = Union[float, int]

@overload
def radians(degrees_value: _Number) -> float: ...
@overload
def radians(degrees_value: Tuple[_Number, ...]) -> Tuple[float, ...]: ...
@overload
def radians(degrees_value: npt.ArrayLike) -> npt.NDArray[np.float64]: ...
@overload
def degrees(radians_value: _Number) -> float: ...
@overload
def degrees(radians_value: Tuple[_Number, ...]) -> Tuple[float, ...]: ...
@overload
def degrees(radians_value: npt.ArrayLike) -> npt.NDArray[np.float64]: ...
def pose(rotation: float = 0.0, scale: float = 1.0, translation: Tuple[float, float] = (0.0, 0.0)) -> npt.NDArray[np.float64]:
    """A 2x3 similarity pose: rotate and scale about the origin, then translate."""
def apply_pose(pose_2x3: npt.ArrayLike, points: npt.ArrayLike) -> npt.NDArray[np.float64]:
    """Maps (N, 2) points (or one (2,) point) through a 2x3 pose."""
