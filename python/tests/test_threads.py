# Searches release the GIL, and stop on Ctrl-C or at their time limit.
import _thread
import threading
import time

import numpy as np
import pytest

import ptmatch


def exhaustive_scene(n_model, n_data, seed=3):
    """An exhaustive search over (n_data + 1) ** n_model pairings: 6 in 10 takes ~0.2 s, 9 in 20 forever."""
    rng = np.random.default_rng(seed)
    model = rng.uniform(0, 100, (n_model, 2))
    data = np.vstack([model + 5.0, rng.uniform(0, 100, (n_data - n_model, 2))])
    tool = ptmatch.PointMatcher()
    tool.train(model, mode="exhaustive")
    return tool, data


def test_a_search_lets_other_python_threads_run():
    # A search that would take forever, ended by its time limit. Were the GIL held during the search, this
    # thread could not wake from its sleep until the search had ended, and would find the runner gone.
    tool, data = exhaustive_scene(9, 20)
    started = threading.Event()
    outcome = []

    def runner():
        started.set()
        outcome.append(pytest.raises(ptmatch.TimeLimitExpired, tool.run, data, rotation_range="full",
                                     time_limit=2.0))

    thread = threading.Thread(target=runner)
    thread.start()
    started.wait()
    time.sleep(0.3)
    assert thread.is_alive()
    # Another search runs to its end beside it.
    small, small_data = exhaustive_scene(3, 4)
    assert small.run(small_data, rotation_range="full")[0].coverage == 1.0
    assert thread.is_alive()
    thread.join()
    assert outcome


def test_ctrl_c_stops_a_search_with_keyboard_interrupt():
    tool, data = exhaustive_scene(9, 20)
    timer = threading.Timer(0.2, _thread.interrupt_main)
    timer.start()
    # The search would take forever; its time limit only keeps a broken stop from hanging the tests.
    with pytest.raises(KeyboardInterrupt):
        tool.run(data, rotation_range="full", time_limit=60.0)
    timer.join()
    # The tool is usable again at once.
    small, small_data = exhaustive_scene(3, 4)
    assert small.run(small_data, rotation_range="full")[0].coverage == 1.0


def test_time_limit_stops_a_search_with_time_limit_expired():
    tool, data = exhaustive_scene(9, 20)
    start = time.perf_counter()
    with pytest.raises(ptmatch.TimeLimitExpired) as caught:
        tool.run(data, rotation_range="full", time_limit=0.1)
    assert time.perf_counter() - start >= 0.1  # never before the limit
    assert isinstance(caught.value, TimeoutError) and isinstance(caught.value, ptmatch.StopRequested)
    assert caught.value.status == 2
    with pytest.raises(ptmatch.BadParams, match="time_limit must be a number of seconds > 0, or 0 or None"):
        tool.run(data, time_limit=float("nan"))


def test_a_tool_cannot_be_retrained_while_another_thread_runs_it():
    tool, data = exhaustive_scene(9, 20)
    outcome = []
    runner = threading.Thread(
        target=lambda: outcome.append(pytest.raises(ptmatch.TimeLimitExpired, tool.run, data, time_limit=0.5)))
    runner.start()
    time.sleep(0.1)
    with pytest.raises(ValueError, match="in progress"):
        tool.train([[0, 0], [1, 0], [0, 1]])
    runner.join()
    assert outcome
    tool.train([[0, 0], [1, 0], [0, 1]])
