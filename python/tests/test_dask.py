# ptmatch.dask on a two-worker cluster of this machine gives what a local run gives, scene by scene.
import numpy as np
import pytest

import ptmatch

distributed = pytest.importorskip(
    "distributed", reason="dask.distributed is not installed (Debian: python3-dask python3-distributed)")
dask_bag = pytest.importorskip("dask.bag", reason="dask is not installed (Debian: python3-dask)")
import ptmatch.dask  # noqa: E402  (needs dask, checked above)
from test_many import result_bytes, voting_case  # noqa: E402

pytestmark = [
    pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning"),
    # The bag run on the local scheduler beside the cluster's client is what the test means to do.
    pytest.mark.filterwarnings("ignore:Running on a single-machine scheduler:UserWarning"),
]


@pytest.fixture(scope="module")
def client():
    # Worker processes, as on a real cluster: the tool and the scenes must cross a process boundary.
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster:
        with distributed.Client(cluster) as c:
            yield c


def test_scenes_matched_on_the_cluster_equal_a_local_run(client):
    tool, scenes, settings = voting_case()
    local = result_bytes(ptmatch.match_many(tool, scenes, **settings))
    assert result_bytes(ptmatch.dask.match_scenes(client, tool, scenes, **settings)) == local
    one_per_chunk = ptmatch.dask.match_scenes(client, tool, scenes, chunk_size=1, threads=2, **settings)
    assert result_bytes(one_per_chunk) == local
    bag = dask_bag.from_sequence(scenes, npartitions=3)
    assert result_bytes(ptmatch.dask.match_bag(tool, bag, **settings).compute()) == local
    # Without a client the bag runs on dask's local scheduler, the tool a single node of its graph.
    assert result_bytes(ptmatch.dask.match_bag(tool, bag, client=False, **settings).compute(
        scheduler="threads")) == local
    assert ptmatch.dask.match_scenes(client, tool, []) == []


def test_a_scene_failing_on_a_worker_raises_its_error_here(client):
    tool, scenes, _ = voting_case()
    bad = scenes[2].copy()
    bad[0, 0] = np.inf
    with pytest.raises(ptmatch.BadParams, match="data point 0 has a non-finite coordinate"):
        ptmatch.dask.match_scenes(client, tool, scenes[:2] + [bad], chunk_size=2)
