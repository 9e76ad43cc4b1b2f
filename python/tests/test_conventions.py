# One table of settings given to the ptmatch tool and to Python in each one's own spelling: both must find
# the same pose, refuse with the same words, or question the setting with the same warning.
import json
import os
import re
import subprocess
import warnings

import numpy as np
import pytest

import ptmatch

EXE = os.environ.get("PTMATCH_EXE")

MODEL = np.array([[0, 0], [40, 0], [40, 25], [0, 25], [12, 8], [30, 17]], dtype=float)
TRUTH = ptmatch.pose(rotation=ptmatch.radians(30), scale=1.05, translation=(200, 120))
DATA = np.vstack([ptmatch.apply_pose(TRUTH, MODEL), [[150, 90], [260, 170]]])

FOUND = ("found",)


def refused(pattern):
    return ("refused", pattern)


def warned(pattern):
    return ("warned", pattern)


# (tool options, Python keywords, what both must do). Where a setting has a unit-bearing Python name, the
# Python column uses it, since that is the spelling that must mean what the tool's option means.
TABLE = [
    ("--rotation full --scale 0.9,1.1", dict(rotation_range="full", scale=(0.9, 1.1)), FOUND),
    ("--rotation 0,60 --scale 0.9,1.1", dict(rotation_deg=(0, 60), scale=(0.9, 1.1)), FOUND),
    ("--rotation 35 --scale 1.05", dict(rotation_deg=35, scale=1.05), FOUND),
    ("--rotation full --scale 0.9,1.1 --time-limit 0", dict(rotation_deg="full", scale=(0.9, 1.1), time_limit=0),
     FOUND),
    ("--rotation full --scale -0.1,0.1", dict(rotation_deg="full", scale=(-0.1, 0.1)),
     refused(r"scale.* takes scale factors from 0.1 up.*not -0.1, 0.1")),
    ("--rotation full --scale 1.1,0.9", dict(rotation_deg="full", scale=(1.1, 0.9)),
     refused(r"takes scale factors from 0.1 up, smallest first")),
    ("--rotation full --scale 1.9,2.1", dict(rotation_deg="full", scale=(1.9, 2.1)),
     warned(r"1.9, 2.1 are scale factors: .* far from 1")),
    ("--rotation -400,400", dict(rotation_deg=(-400, 400)),
     refused(r"\(-400, 400\) is wider than a full turn \(360 degrees\)")),
    ("--rotation -5", dict(rotation_deg=-5), refused(r"allows -DEG to DEG and must be >= 0|must be >= 0, not -5")),
    ("--time-limit -1", dict(time_limit=-1), refused(r"time.limit must be a number of seconds > 0, or 0")),
    ("--capture-range 0", dict(capture_range=0), refused(r"capture.range:? must be a finite number > 0")),
    ("--grid-size -1", dict(grid_size=-1), refused(r"grid.size:? must be a finite number > 0")),
]


def run_python(kwargs):
    tool = ptmatch.PointMatcher()
    tool.train(MODEL)
    kwargs = dict(kwargs)
    time_limit = kwargs.pop("time_limit", None)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            results = tool.run(DATA, time_limit=time_limit, max_results=1, **kwargs)
        except ptmatch.BadParams as e:
            return "refused", str(e), None
    warning_text = " ".join(str(w.message) for w in caught)
    return ("warned" if warning_text else "ran"), warning_text, results[0] if len(results) else None


def run_tool(options, tmp_path):
    model, data = tmp_path / "model.csv", tmp_path / "data.csv"
    np.savetxt(model, MODEL, delimiter=",", header="x,y", comments="")
    np.savetxt(data, DATA, delimiter=",", header="x,y", comments="")
    done = subprocess.run([EXE, "match", "-m", str(model), str(data), "--json", *options.split()],
                          capture_output=True, text=True, timeout=60)
    if done.returncode == 2:
        return "refused", done.stderr, None
    runs = json.loads(done.stdout)["runs"]
    results = runs[0]["results"]
    outcome = "warned" if "warning:" in done.stderr else "ran"
    return outcome, done.stderr, results[0]["pose"] if results else None


@pytest.mark.parametrize("options, kwargs, expected", TABLE, ids=[row[0] for row in TABLE])
def test_python_follows_the_shared_conventions(options, kwargs, expected):
    outcome, text, best = run_python(kwargs)
    if expected == FOUND:
        assert outcome == "ran" and best is not None, text
        assert ptmatch.degrees(best.rotation) == pytest.approx(30, abs=1e-6)
        assert best.scale == pytest.approx(1.05, abs=1e-9)
    else:
        assert outcome == expected[0], text
        assert re.search(expected[1], text), text


@pytest.mark.skipif(not EXE, reason="PTMATCH_EXE (the ptmatch tool) is not set")
@pytest.mark.parametrize("options, kwargs, expected", TABLE, ids=[row[0] for row in TABLE])
def test_the_tool_follows_the_same_conventions(options, kwargs, expected, tmp_path):
    outcome, text, best = run_tool(options, tmp_path)
    if expected == FOUND:
        assert outcome == "ran" and best is not None, text
        assert best["rotation_deg"] == pytest.approx(30, abs=1e-6)
        assert best["scale"] == pytest.approx(1.05, abs=1e-9)
    else:
        assert outcome == expected[0], text
        assert re.search(expected[1], text), text


# Python's radian and changes-from-1 names, which the tool has no spelling for: each either means what it
# says or is refused or questioned when it looks like the other unit.
@pytest.mark.parametrize(
    "kwargs, expected",
    [
        (dict(rotation_range=ptmatch.radians((0, 60)), scale_range=(-0.1, 0.1)), FOUND),
        (dict(rotation_range="full", scale_range=(0.9, 1.1)),
         refused(r"scale_range \(0.9, 1.1\) is a change from 1 and would search factors 1.9 to 2.1; "
                 r"give factors as scale=\(0.9, 1.1\)")),
        (dict(rotation_range=(-5, 5)),
         refused(r"rotation_range \(-5, 5\) is wider than a full turn \(2 pi radians\); it is in radians: "
                 r"for degrees use rotation_deg=\(-5, 5\)")),
        (dict(rotation_range=(-1, 1)), warned(r"is in radians \(-57 to 57 degrees\)")),
        (dict(rotation_range="full", scale_range=(-1.5, 0.1)),
         refused(r"starts at factor -0.5; changes from 1 must be >= -0.9 \(factor 0.1\)")),
    ],
)
def test_python_names_with_other_units_refuse_what_looks_like_the_wrong_unit(kwargs, expected):
    outcome, text, best = run_python(kwargs)
    if expected == FOUND:
        assert outcome == "ran" and best is not None, text
        assert best.scale == pytest.approx(1.05, abs=1e-9)
    else:
        assert outcome == expected[0], text
        assert re.search(expected[1], text), text


def test_unit_forms_read_back_in_their_units_and_share_the_field():
    params = ptmatch.RunParams(scale=(0.9, 1.1), rotation_deg=(-20, 40))
    assert params.scale == pytest.approx((0.9, 1.1))
    assert params.scale_range == pytest.approx((-0.1, 0.1))
    assert params.rotation_deg == pytest.approx((-20, 40))
    assert params.rotation_range == pytest.approx(ptmatch.radians((-20, 40)))
    assert ptmatch.RunParams(rotation_deg=180).rotation_deg == "full"
    with pytest.raises(TypeError, match="give scale or scale_range, not both"):
        ptmatch.RunParams(scale=(0.9, 1.1), scale_range=(-0.1, 0.1))


# A pattern result's figures mean what the tool's do: scale as sqrt|det|, fit error in data units (the
# library's pel figure under its own name), and the pel-to-data pairs through the tool.
@pytest.mark.skipif(not EXE, reason="PTMATCH_EXE (the ptmatch tool) is not set")
def test_pattern_results_report_the_tools_scale_and_data_unit_fit_error(tmp_path):
    pattern = np.zeros((7, 7), dtype=np.uint8)
    pattern[1:6, 1:6] = 255
    pattern[1, 1] = 0
    nodes = np.argwhere(pattern)[:, ::-1] * 0.8
    rng = np.random.default_rng(3)
    truth = ptmatch.pose(rotation=ptmatch.radians(3), scale=1.01, translation=(12, 8))
    data = ptmatch.apply_pose(truth, nodes) + rng.normal(0, 0.02, nodes.shape)
    (tmp_path / "p.pgm").write_bytes(b"P5 7 7 255\n" + pattern.tobytes())
    np.savetxt(tmp_path / "d.csv", data, delimiter=",", header="x,y", comments="")
    done = subprocess.run([EXE, "match", "-p", str(tmp_path / "p.pgm"), "--pel-size", "0.8", "--scale", "0.95,1.05",
                           str(tmp_path / "d.csv"), "--json"], capture_output=True, text=True, timeout=60)
    shown = json.loads(done.stdout)["runs"][0]["results"][0]

    tool = ptmatch.PointMatcher()
    tool.train_pattern(pattern, pel_size=0.8)
    best = tool.run(data, scale=(0.95, 1.05))[0]
    assert best.scale == pytest.approx(shown["pose"]["scale"], rel=1e-12)
    assert best.fit_error == pytest.approx(shown["fit_error"], rel=1e-9)
    assert best.fit_error_pel2 == pytest.approx(shown["fit_error_pel2"], rel=1e-12)
    assert 0.005 < best.fit_error < 0.05  # the noise's size in data units, not in squared pels
    pels, indices = tool.grid_correspondences(best)
    assert len(indices) == len(nodes)
