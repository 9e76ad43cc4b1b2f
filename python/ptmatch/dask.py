"""Matching many scenes on a Dask cluster: the tool travels to every worker once, the scenes are split into
chunks, and each chunk runs on a worker through match_many.

    import distributed
    import ptmatch.dask

    client = distributed.Client("scheduler:8786")       # or distributed.LocalCluster(n_workers=4)
    results = ptmatch.dask.match_scenes(client, tool, scenes, rotation_deg=20)   # ResultSets, in order

    bag = dask.bag.from_sequence(scenes, npartitions=16)
    results = ptmatch.dask.match_bag(tool, bag, rotation_deg=20).compute()

A worker needs the ptmatch package (the same version, since tools move as archive records) and the
scenes, which travel inside the tasks; a task reads no files. Results come back as pickled ResultSets.
"""

import math

import dask
import dask.bag

from . import match_many

# Chunks per worker when the caller does not choose: enough that a slow chunk does not leave the other
# workers idle at the end, few enough that each task's overhead (milliseconds) stays small beside the
# searches of its scenes.
CHUNKS_PER_WORKER = 4


def _run_chunk(scenes, tool, params, threads, time_limit, keywords):
    return match_many(tool, list(scenes), params, threads=threads, time_limit=time_limit, **keywords)


def _default_client():
    try:
        import distributed
    except ImportError:
        return None
    try:
        return distributed.get_client()
    except ValueError:
        return None


def _shared_tool(tool, client):
    """The tool as one node every task refers to: on a distributed client scattered to every worker at once
    (broadcast), otherwise a single delayed value of the graph."""
    if client is not None:
        return dask.delayed(client.scatter(tool, broadcast=True, hash=False))
    return dask.delayed(tool, traverse=False)


def match_bag(tool, scenes, params=None, *, client=None, threads=1, time_limit=None, **keywords):
    """Maps a dask.bag of (M, 2) arrays to a bag of ResultSet, one per scene in the bag's order. The tool is
    scattered once to every worker of `client` (default: the current distributed client, if any; False for
    none, the tool then being one node of the graph). Each partition runs through match_many on `threads`
    threads of its worker, with params, time_limit and keywords as PointMatcher.run takes them."""
    if client is None:
        client = _default_client()
    shared = _shared_tool(tool, client or None)
    return scenes.map_partitions(_run_chunk, shared, params, threads, time_limit, keywords)


def match_scenes(client, tool, scenes, params=None, *, chunk_size=None, threads=1, time_limit=None,
                 **keywords):
    """Runs the tool on every scene on the workers of a distributed client and returns the ResultSets in the
    order of the scenes. The tool is scattered once to every worker; the scenes go in chunks of
    `chunk_size` (default: about CHUNKS_PER_WORKER chunks per worker), each run through match_many on
    `threads` threads. The first failed chunk's error is raised, as a local run would raise it."""
    scenes = list(scenes)
    if not scenes:
        return []
    if chunk_size is None:
        workers = max(1, len(client.scheduler_info()["workers"]))
        chunk_size = math.ceil(len(scenes) / (CHUNKS_PER_WORKER * workers))
    if not isinstance(chunk_size, int) or chunk_size < 1:
        raise ValueError(f"chunk_size must be an integer >= 1 or None, not {chunk_size!r}")
    shared = client.scatter(tool, broadcast=True, hash=False)
    chunks = [scenes[i : i + chunk_size] for i in range(0, len(scenes), chunk_size)]
    futures = client.map(
        _run_chunk, chunks, tool=shared, params=params, threads=threads, time_limit=time_limit,
        keywords=keywords, pure=False)
    return [result for chunk in client.gather(futures) for result in chunk]
