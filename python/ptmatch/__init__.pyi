# Type stubs of the ptmatch package: the compiled core re-exported, and the pure-Python helpers.
from typing import Optional, Sequence, Tuple, Union, overload

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
from typing import Any, Iterable, List, Optional

from . import dask as dask

def match_many(
    tool: PointMatcher,
    scenes: Iterable[npt.ArrayLike],
    params: Optional[RunParams] = None,
    *,
    threads: Optional[int] = None,
    time_limit: Optional[float] = None,
    search: Optional[str] = None,
    **keywords: Any,
) -> List[ResultSet]:
    """Runs the tool on every scene on a pool of threads, GIL released; results in the scenes' order."""
def pose(rotation: float = 0.0, scale: float = 1.0, translation: Tuple[float, float] = (0.0, 0.0)) -> npt.NDArray[np.float64]:
    """A 2x3 similarity pose: rotate and scale about the origin, then translate."""
def apply_pose(pose_2x3: npt.ArrayLike, points: npt.ArrayLike) -> npt.NDArray[np.float64]:
    """Maps (N, 2) points (or one (2,) point) through a 2x3 pose."""

class NoTransformFound(Error):
    """find_transform found no pose covering min_coverage of the source."""
    best_coverage: float
    limiting_setting: Optional[str]
    def __init__(self, message: str, best_coverage: float = ..., limiting_setting: Optional[str] = ...) -> None: ...

def find_transform(
    source: npt.ArrayLike,
    target: npt.ArrayLike,
    *,
    rotation_deg: Union[str, float, Tuple[float, float]] = "full",
    scale: Union[float, Sequence[float]] = (0.9, 1.1),
    min_coverage: float = 0.5,
    weights: Optional[npt.ArrayLike] = None,
    threads: Optional[int] = None,
    time_limit: Optional[float] = None,
) -> Tuple[npt.NDArray[np.float64], npt.NDArray[np.int32]]:
    """(2x3 pose mapping source onto target, (K, 2) int32 (source index, target index) pairs); raises
    NoTransformFound when nothing covers min_coverage."""
