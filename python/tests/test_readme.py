# The README's Python quick start runs as printed.
import pathlib
import re

README = pathlib.Path(__file__).resolve().parents[2] / "README.md"


def test_readme_quick_start_runs_and_finds_the_pose(capsys):
    section = README.read_text().split("## Python", 1)[1]
    snippet = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    exec(compile(snippet, str(README), "exec"), {})
    first_line = capsys.readouterr().out.splitlines()[0]
    rotation, scale = (float(v) for v in first_line.split()[:2])
    assert abs(rotation - 30.0) < 1e-6 and abs(scale - 1.05) < 1e-9
