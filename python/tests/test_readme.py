"""The README's Python example, run against the device simulator, prints what the README says."""

from __future__ import annotations

import os
import re
import subprocess
import sys
from pathlib import Path

import orvlink

from conftest import REPO, Simulator


def readme_example() -> tuple:
    section = REPO.joinpath("README.md").read_text().split("\n## Python\n", 1)[1].split("\n## ", 1)[0]
    code = re.search(r"```python\n(.*?)```", section, re.S).group(1)
    output = re.search(r"```text\n(.*?)```", section, re.S).group(1)
    return code, output


def test_the_readme_example_prints_what_the_readme_shows(device: Simulator, tmp_path: Path) -> None:
    code, output = readme_example()
    assert len(code.splitlines()) == 5
    env = dict(os.environ, PYTHONPATH=str(Path(orvlink.__file__).parents[1]))
    run = subprocess.run([sys.executable, "-c", code], env=env, cwd=tmp_path,
                         capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert run.stdout == output
