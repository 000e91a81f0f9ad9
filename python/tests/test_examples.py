# The example scripts run as they are and say what the module says.
import csv
import importlib.util
import os
import subprocess
import sys

import pytest

import ambrio
from conftest import qxtool_error

EXAMPLES = os.environ.get("AMBRIO_EXAMPLES", os.path.join(os.path.dirname(__file__), "..", "..", "examples"))


def run(script, *args):
    return subprocess.run([sys.executable, os.path.join(EXAMPLES, script), *map(str, args)],
                          capture_output=True, text=True)


@pytest.fixture(scope="module")
def demo(tmp_path_factory):
    path = tmp_path_factory.mktemp("demo") / "demo.qxc"
    ambrio.synth("demo", path=path)
    return path


def test_plot_power_writes_a_csv_with_the_contracts_marked(demo, tmp_path):
    out = tmp_path / "power.csv"
    r = run("plot_power.py", demo, out, "--csv")
    assert r.returncode == 0, r.stderr
    cap = ambrio.open(demo)
    samples = cap.samples()
    with open(out, newline="") as f:
        rows = list(csv.DictReader(f))
    assert len(rows) == len(samples)
    for row, s in zip(rows, samples.tolist()):
        t, mv, ma = s[:3]
        assert (int(row["time_us"]), int(row["vbus_mV"]), int(row["current_mA"])) == (t, mv, ma)
        assert int(row["power_mW"]) == int(mv * ma / 1000)
    starts = sorted(k["from"]["time_us"] for c in cap.summary() for k in c["contracts"] if k["from"])
    assert len(starts) > 1
    marked = [int(row["time_us"]) for row in rows if row["contract"]]
    # Each contract on the first sample at or after its PS_RDY.
    assert marked == [min(s[0] for s in samples.tolist() if s[0] >= t) for t in starts]
    assert r.stdout.strip() == f"{out}: {len(samples)} samples, {len(starts)} contract changes"


@pytest.mark.skipif(importlib.util.find_spec("matplotlib") is None, reason="matplotlib is not installed")
def test_plot_power_draws_with_matplotlib(demo, tmp_path):
    out = tmp_path / "power.png"
    r = run("plot_power.py", demo, out)
    assert r.returncode == 0, r.stderr
    assert out.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_check_folder_lists_the_findings_of_every_file(tmp_path):
    for name in ["noisy", "spr", "reset"]:
        ambrio.synth(name, path=tmp_path / f"{name}.qxc")
    (tmp_path / "broken.qxc").write_text("not recorded\n" * 8)
    r = run("check_folder.py", tmp_path, "--severity", "info")
    assert r.returncode == 2
    assert r.stderr.splitlines() == ["check_folder: " + qxtool_error("check", tmp_path / "broken.qxc")]
    lines = r.stdout.splitlines()
    expected = [(f"{name}.qxc", str(f["time_us"]), f["severity"], f["rule"], f["text"])
                for name in ["noisy", "reset", "spr"] for f in ambrio.open(tmp_path / f"{name}.qxc").check()]
    assert len(lines) == len(expected) + 2
    assert lines[0].split() == ["File", "Time", "[us]", "Severity", "Rule", "Finding"]
    for line, (file, *cells, text) in zip(lines[1:], expected):
        assert line.split()[:4] == [file, *cells] and line.endswith("  " + text)
    assert lines[-1] == f"{len(expected)} findings at info or above"


def test_check_folder_without_findings_ends_with_status_0(tmp_path):
    ambrio.synth("spr", path=tmp_path / "spr.qxc")
    r = run("check_folder.py", tmp_path, "--rules", "over-current")
    assert (r.returncode, r.stdout) == (0, "0 findings at warning or above\n")
