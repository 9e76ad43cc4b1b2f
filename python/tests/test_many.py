# match_many: many scenes on a pool of threads give what one run per scene gives, in order, and stop as a
# single run stops.
import _thread
import threading

import numpy as np
import pytest

import ptmatch
from conftest import Scene
from test_threads import exhaustive_scene


def result_bytes(result_sets):
    """Everything a run found but its elapsed time, comparable across runs."""
    return [[r.to_bytes() + np.float64(r.fit_error).tobytes() for r in s] for s in result_sets]


def voting_case():
    # One model under twelve poses, a scene of clutter alone (nothing found) and one far outside the
    # allowed rotation (nothing found either).
    scenes = [Scene(0.04 * k - 0.22, 1.0, (40.0 * k, -7.0 * k), seed=7) for k in range(12)]
    tool = ptmatch.PointMatcher()
    tool.train(scenes[0].model)
    data = [s.data for s in scenes]
    data.insert(5, np.random.default_rng(1).uniform(0, 300, (70, 2)))
    data.append(Scene(2.0, 1.0, (0.0, 0.0), seed=7).data)
    return tool, data, {"rotation_range": (-0.3, 0.3), "max_results": 2}


def exhaustive_case():
    tool, data = exhaustive_scene(4, 7)
    rng = np.random.default_rng(5)
    return tool, [data + rng.uniform(-50, 50, 2) for _ in range(6)], {"rotation_range": "full"}


def pattern_case():
    tool = ptmatch.PointMatcher()
    tool.train_pattern(np.ones((4, 5), np.uint8), pel_size=12)
    grid = np.array([[12.0 * c, 12.0 * r] for r in range(4) for c in range(5)])
    scenes = [ptmatch.apply_pose(ptmatch.pose(0.02 * k, 1.0, (9.0 * k, 3.0)), grid) for k in range(5)]
    return tool, scenes, {"scale": (0.9, 1.1)}


@pytest.mark.parametrize("case", [voting_case, exhaustive_case, pattern_case])
def test_threads_give_the_results_of_single_runs_in_order(case):
    tool, scenes, settings = case()
    single = [tool.run(s, **settings) for s in scenes]
    assert sum(len(s) > 0 for s in single) >= len(scenes) - 2, "the scenes are found"
    for threads in (1, 2, 5):
        many = ptmatch.match_many(tool, scenes, threads=threads, **settings)
        assert result_bytes(many) == result_bytes(single), threads
        assert all(s.time > 0 for s in many)
    params = ptmatch.RunParams(**settings)
    assert result_bytes(tool.run_many(iter(scenes), params)) == result_bytes(single)


def test_no_scenes_give_no_results_and_bad_arguments_are_refused():
    tool, scenes, _ = voting_case()
    assert ptmatch.match_many(tool, []) == []
    assert len(ptmatch.match_many(tool, scenes[:3], threads=0)) == 3  # one per core
    for threads, error, message in [
        (-1, ptmatch.BadParams,
         "threads must be a whole number from 1 to 256, or 0 or None for one per core, not -1"),
        (257, ptmatch.BadParams, "from 1 to 256, or 0 or None for one per core, not 257"),
        (2.0, TypeError, "threads must be an integer, or 0 or None"),
        (True, TypeError, "threads must be an integer, or 0 or None"),
    ]:
        with pytest.raises(error, match=message):
            ptmatch.match_many(tool, scenes, threads=threads)
    with pytest.raises(ptmatch.BadParams, match="time_limit must be a number of seconds > 0"):
        ptmatch.match_many(tool, scenes, time_limit=-1)
    with pytest.raises(ValueError, match=r"scenes\[1\]"):
        ptmatch.match_many(tool, [scenes[0], np.zeros((3, 3))])


def test_the_earliest_failed_scene_raises_and_names_itself():
    tool, scenes, _ = voting_case()
    bad = scenes[0].copy()
    bad[3, 1] = np.nan
    with pytest.raises(ptmatch.BadParams, match="data point 3 has a non-finite coordinate") as caught:
        ptmatch.match_many(tool, scenes[:4] + [bad] + scenes[4:6] + [bad], threads=2)
    assert caught.value.scene == 4


def test_the_time_limit_bounds_each_scene_and_ctrl_c_stops_them_all():
    fast_tool, fast = exhaustive_scene(3, 4)
    # Each fast scene takes well under the limit; together they take far longer than it.
    ok = ptmatch.match_many(fast_tool, [fast] * 40, threads=2, rotation_range="full", time_limit=0.5)
    assert all(s[0].coverage == 1.0 for s in ok)
    slow_tool, slow = exhaustive_scene(9, 20)
    with pytest.raises(ptmatch.TimeLimitExpired) as caught:
        ptmatch.match_many(slow_tool, [slow, slow, slow], threads=2, rotation_range="full", time_limit=0.1)
    assert caught.value.scene == 0
    timer = threading.Timer(0.2, _thread.interrupt_main)
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        ptmatch.match_many(slow_tool, [slow] * 4, threads=2, rotation_range="full")
    timer.join()
    # The tool is free again: a run in progress would refuse the training.
    slow_tool.train([[0, 0], [1, 0], [0, 1]])
