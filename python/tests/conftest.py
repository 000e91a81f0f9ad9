# What the module's tests share: the build tree's qxtool to compare with, the shared captures, and the
# built-in scenarios synthesized once per run.
import json
import os
import pathlib
import subprocess

import pytest

import ambrio

QXTOOL = os.environ.get("QXTOOL", "qxtool")
CAPTURES = pathlib.Path(os.environ.get("AMBRIO_CAPTURES", "/nonexistent"))


def shared_captures():
    return sorted(CAPTURES.glob("*.qxc")) if CAPTURES.is_dir() else []


def qxtool(*args, check=True):
    """Runs qxtool; returns (status, stdout, stderr)."""
    r = subprocess.run([QXTOOL, *map(str, args)], capture_output=True, text=True)
    if check and r.returncode != 0:
        raise AssertionError(f"qxtool {' '.join(map(str, args))}: status {r.returncode}: {r.stderr}")
    return r.returncode, r.stdout, r.stderr


def qxtool_json(*args):
    """The JSON Lines qxtool prints, as a list of objects."""
    return [json.loads(line) for line in qxtool(*args)[1].splitlines()]


def qxtool_error(*args):
    """qxtool's one-line message for input it refuses, without its "qxtool: " prefix."""
    status, _, err = qxtool(*args, check=False)
    assert status != 0, f"qxtool {args} accepted it"
    lines = err.splitlines()
    assert len(lines) == 1 and lines[0].startswith("qxtool: "), err
    return lines[0][len("qxtool: "):]


@pytest.fixture(scope="session")
def scenario_files(tmp_path_factory):
    """Every built-in scenario written by the module, at its own length."""
    folder = tmp_path_factory.mktemp("scenarios")
    files = {}
    for name in ambrio.SCENARIOS:
        files[name] = folder / f"{name}.qxc"
        ambrio.synth(name, path=files[name])
    return files
