# Type stubs of ptmatch.dask.
from typing import Any, Iterable, List, Optional

import numpy.typing as npt

from ._ptmatch import PointMatcher, ResultSet, RunParams

CHUNKS_PER_WORKER: int

def match_bag(
    tool: PointMatcher,
    scenes: Any,
    params: Optional[RunParams] = None,
    *,
    client: Any = None,
    threads: int = 1,
    time_limit: Optional[float] = None,
    **keywords: Any,
) -> Any:
    """Maps a dask.bag of (M, 2) arrays to a bag of ResultSet, the tool scattered once to every worker."""
def match_scenes(
    client: Any,
    tool: PointMatcher,
    scenes: Iterable[npt.ArrayLike],
    params: Optional[RunParams] = None,
    *,
    chunk_size: Optional[int] = None,
    threads: int = 1,
    time_limit: Optional[float] = None,
    **keywords: Any,
) -> List[ResultSet]:
    """Runs the tool on every scene on the client's workers; ResultSets in the order of the scenes."""
