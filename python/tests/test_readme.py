# The README's Python quick start and the user guide's commands print what the documents show. The
# commands run in a temporary folder holding copies of the files they read, so running them never touches
# the repository (their pictures and tools land in that folder).
import os
import pathlib
import re
import shutil
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
README = ROOT / "README.md"
GUIDE = ROOT / "docs" / "user_guide.md"
EXE = os.environ.get("PTMATCH_EXE")


def test_readme_quick_start_prints_what_its_comment_shows(capsys):
    section = README.read_text().split("## Python", 1)[1]
    snippet = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    exec(compile(snippet, str(README), "exec"), {})
    printed = capsys.readouterr().out.splitlines()[0]
    shown = next(line.split("# ", 1)[1] for line in snippet.splitlines() if line.startswith("print(f"))
    assert printed == shown.strip()


def guide_examples():
    """(commands, expected stdout lines, expected stderr lines) of each sh block of the guide that runs the
    tool; the stdout is the text block that follows it, stderr the block's `# ptmatch: ...` comments."""
    text = GUIDE.read_text()
    examples = []
    for match in re.finditer(r"```sh\n(.*?)```\n+(```text\n(.*?)```)?", text, re.S):
        lines = match.group(1).splitlines()
        commands = [line for line in lines if line.startswith("ptmatch ")]
        stderr = [line[2:] for line in lines if line.startswith("# ptmatch: ")]
        stdout = match.group(3).splitlines() if match.group(3) else None
        if commands:
            examples.append((commands, stdout, stderr))
    return examples


def normalised(lines):
    # Times vary from run to run; everything else is reproducible.
    return [re.sub(r"in \d+\.\d+ s$", "in T s", re.sub(r" in \d+\.\d+ s", " in T s", line)) for line in lines]


def matches_with_elisions(printed, shown):
    """Whether the shown lines appear in the printed ones in order, a shown `...` line standing for any run
    of printed lines."""
    i = 0
    for k, line in enumerate(shown):
        if line.strip() == "...":
            following = shown[k + 1] if k + 1 < len(shown) else None
            while i < len(printed) and printed[i] != following:
                i += 1
            continue
        if i >= len(printed) or printed[i] != line:
            return False
        i += 1
    return i == len(printed)


@pytest.mark.skipif(not EXE, reason="PTMATCH_EXE (the ptmatch tool) is not set")
@pytest.mark.parametrize("commands, stdout, stderr", guide_examples(), ids=lambda v: None)
def test_guide_commands_print_what_the_guide_shows(commands, stdout, stderr, tmp_path):
    shutil.copytree(ROOT / "docs" / "examples", tmp_path / "docs" / "examples")
    (tmp_path / "tests" / "cli" / "data").mkdir(parents=True)
    shutil.copy(ROOT / "tests" / "cli" / "data" / "pattern_alpha.png", tmp_path / "tests" / "cli" / "data")
    out, err = [], []
    for command in commands:
        done = subprocess.run([EXE, *command.split()[1:]], cwd=tmp_path, capture_output=True, text=True,
                              timeout=120)
        out += done.stdout.splitlines()
        err += done.stderr.splitlines()
    assert err == stderr
    if stdout is not None:
        assert matches_with_elisions(normalised(out), normalised(stdout)), "\n".join(out)
