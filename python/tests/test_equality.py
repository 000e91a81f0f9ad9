# The module says what qxtool says: packets, column texts, field tables, samples, info, summary and
# findings, on every shared capture and every built-in scenario; the synthesizer and the import write the
# same files.
import csv
import json

import pytest

import ambrio
from conftest import CAPTURES, qxtool, qxtool_json, shared_captures

# The shared captures, every built-in scenario, and a range exported from one: a file whose time origin
# is not its capture origin.
RECORDINGS = [pytest.param(str(p), id=p.stem) for p in shared_captures()] + [
    pytest.param(f"scenario:{name}", id=name) for name in ambrio.SCENARIOS
] + [pytest.param("range:demo", id="demo-range")]


@pytest.fixture
def recording(request, scenario_files, tmp_path):
    kind, _, name = request.param.partition(":")
    if kind == "scenario":
        return str(scenario_files[name])
    if kind == "range":
        out = tmp_path / "range.qxc"
        qxtool("export", scenario_files[name], "-o", out, "--qxc", "--from", 50, "--to", 100)
        return str(out)
    return request.param


def packet_json(p):
    """A packet as qxtool packets --json lists it."""
    return {
        "number": p.number,
        "channel": f"CC{p.channel}",
        "time_us": p.time_us,
        "ordered_set": p.ordered_set,
        "crc": p.crc,
        "message_type": p.message_type,
        "bytes": " ".join(f"{b:02X}" for b in p.bytes),
    }


@pytest.mark.parametrize("recording", RECORDINGS, indirect=True)
@pytest.mark.parametrize("tolerant", [False, True], ids=["standard", "tolerant"])
def test_packets_and_columns(recording, tolerant):
    flag = ["--tolerant"] if tolerant else []
    cap = ambrio.open(recording, tolerant=tolerant)
    assert [packet_json(p) for p in cap] == qxtool_json("packets", recording, "--json", *flag)
    assert [p.columns() for p in cap] == qxtool_json("packets", recording, "--columns", "all", "--json", *flag)
    assert [p.columns("default", invert_current=True) for p in cap] == qxtool_json(
        "packets", recording, "--columns", "default", "--invert-current", "--json", *flag)


@pytest.mark.parametrize("recording", RECORDINGS, indirect=True)
def test_info_summary_and_findings(recording):
    cap = ambrio.open(recording)
    assert cap.info == qxtool_json("info", recording, "--json")[0]
    assert cap.summary() == qxtool_json("summary", recording, "--json")
    assert cap.exchanges() == qxtool_json("flow", recording, "--json")
    # check's status says whether a finding reached the severity: not an error here.
    status, out, _ = qxtool("check", recording, "--json", check=False)
    assert status in (0, 2)
    assert cap.check() == [json.loads(line) for line in out.splitlines()]


def chosen_packets(cap):
    """Every packet of a small capture; of a scenario the first of each message type on each ordered set."""
    if len(cap) <= 120:
        return list(range(len(cap)))
    seen, chosen = set(), []
    for i, p in enumerate(cap):
        if (p.ordered_set, p.message_type) not in seen:
            seen.add((p.ordered_set, p.message_type))
            chosen.append(i)
    return chosen


def qxtool_fields(recording, n, *args):
    status, out, err = qxtool("fields", recording, n, "--json", *args, check=False)
    if status:
        return ("error", err.strip()[len("qxtool: "):])
    return [json.loads(line) for line in out.splitlines()]


def module_fields(p, **kw):
    try:
        return p.fields(**kw)
    except ambrio.Error as e:
        return ("error", str(e))


@pytest.mark.parametrize("recording", RECORDINGS, indirect=True)
def test_field_tables(recording):
    cap = ambrio.open(recording)
    for n in chosen_packets(cap):
        p = cap[n]
        assert module_fields(p) == qxtool_fields(recording, n), f"packet {n}"
        assert module_fields(p, block=True) == qxtool_fields(recording, n, "--block"), f"packet {n}"


@pytest.mark.parametrize("name", ["dock", "epr", "extended"])
def test_tree_items_show_their_bits(name, scenario_files):
    """Each item of a packet's tree names the bits the field table shows for it, as qxtool's --range."""
    recording = str(scenario_files[name])
    cap = ambrio.open(recording)
    items = 0
    for n in chosen_packets(cap):
        p = cap[n]
        nodes = p.tree()
        assert nodes[0]["text"] == f"Packet #{p.number}"
        while nodes:
            node = nodes.pop()
            r = node["range"]
            args = ["--range", f"{r['start']}:{r['length']}"] + (["--block"] if r["block"] else [])
            assert module_fields(p, **r) == qxtool_fields(recording, n, *args), f"packet {n}: {node['text']}"
            nodes.extend(node["children"])
            items += 1
    assert items > len(chosen_packets(cap))  # more than the packet items alone


@pytest.mark.parametrize("recording", RECORDINGS, indirect=True)
def test_samples(recording, tmp_path):
    cap = ambrio.open(recording)
    s = cap.samples()
    out = tmp_path / "samples.csv"
    qxtool("export", recording, "-o", out, "--csv", "--items", "samples")
    with open(out, newline="") as f:
        rows = list(csv.reader(f))[1:]
    assert len(rows) == len(s) == cap.info["samples"]
    # The CSV rounds to 10 mV and 1 mA; the array holds the readings themselves.
    for row, x in zip(rows, s):
        t, vbus, amps, _, cc1, cc1_amps, cc2, cc2_amps = row
        assert int(t) == x["time_us"]
        for text, value, unit in [(vbus, x["vbus_mV"], 0.005), (amps, x["current_mA"], 0.0005),
                                  (cc1, x["cc1_mV"], 0.005), (cc1_amps, x["cc1_mA"], 0.0005),
                                  (cc2, x["cc2_mV"], 0.005), (cc2_amps, x["cc2_mA"], 0.0005)]:
            assert abs(float(text) - value / 1000) <= unit * 1.01, row
    # The extremes run over VBUS, CC1 and CC2 alike, from 0.
    volts = [0] + [int(s[k].max()) for k in ("vbus_mV", "cc1_mV", "cc2_mV") if len(s)]
    amps = [0] + [int(f(s[k])) for k in ("current_mA", "cc1_mA", "cc2_mA") for f in (min, max) if len(s)]
    assert max(volts) == cap.info["max_voltage_mV"]
    assert {"min": min(amps), "max": max(amps)} == cap.info["current_mA"]


def test_checks_take_rules_and_limits(scenario_files):
    recording = str(scenario_files["noisy"])
    cap = ambrio.open(recording)
    found = [f["rule"] for f in cap.check()]
    rules = sorted(set(found))[:2]
    assert rules, "the noisy scenario has findings"
    # A longer tTransmit lets late GoodCRCs pass; the answer must differ from the defaults'.
    limits = {"tTransmit": 5000, "tInterFrameGap": 1}
    _, out, _ = qxtool("check", recording, "--json", "--rules", ",".join(rules),
                       *[f"--limit={k}={v}" for k, v in limits.items()], check=False)
    expected = [json.loads(line) for line in out.splitlines()]
    assert cap.check(rules=rules, limits=limits) == expected
    assert cap.check(rules=",".join(rules), limits=limits) == expected
    assert cap.summary(limits=limits) == qxtool_json(
        "summary", recording, "--json", *[f"--limit={k}={v}" for k, v in limits.items()])


SCENARIO_DICT = {
    "seconds": 2,
    "analog": {"sampleIntervalMs": 1},
    "steps": [{"message": "Source_Capabilities", "from": "source"}, {"message": "Request", "from": "sink"},
              {"message": "Accept", "from": "source"}, {"message": "PS_RDY", "from": "source"}],
}


@pytest.mark.parametrize("scenario,seconds,seed", [("demo", None, 1), ("noisy", 2.5, 7), ("dict", None, 3)])
def test_synth_writes_what_qxtool_writes(tmp_path, scenario, seconds, seed):
    if scenario == "dict":
        given = SCENARIO_DICT
        scenario = tmp_path / "scenario.json"
        scenario.write_text(json.dumps(SCENARIO_DICT))
    else:
        given = scenario
    ours, theirs = tmp_path / "ours.qxc", tmp_path / "theirs.qxc"
    cap = ambrio.synth(given, seconds=seconds, seed=seed, path=ours)
    qxtool("synth", scenario, "-o", theirs, "--seed", seed, *(["--seconds", seconds] if seconds else []))
    assert ours.read_bytes() == theirs.read_bytes()
    assert cap.path == str(ours) and len(cap) == len(ambrio.open(theirs))
    # Without a path nothing is left behind, and the capture is the same.
    kept = ambrio.synth(given, seconds=seconds, seed=seed)
    assert kept.path is None
    assert [packet_json(p) for p in kept] == [packet_json(p) for p in cap]


SESSIONS = sorted((CAPTURES / "sr").glob("*.sr")) if (CAPTURES / "sr").is_dir() else []


@pytest.mark.parametrize("session", SESSIONS, ids=[p.stem for p in SESSIONS])
def test_import_writes_what_qxtool_writes(tmp_path, session):
    ours, theirs = tmp_path / "ours.qxc", tmp_path / "theirs.qxc"
    report = ambrio.import_logic(session, ours, cc1="CC1", cc2="CC2")
    _, out, _ = qxtool("import", session, "-o", theirs, "--cc1", "CC1", "--cc2", "CC2")
    assert ours.read_bytes() == theirs.read_bytes()
    lines = [f"{session}: {report['samples']} samples at {report['sample_rate']} Hz ({report['format']})"]
    for ch in report["channels"]:
        line = f"CC{ch['cc']} from {ch['name']}: {ch['changes']} level changes, {ch['written']} transitions written"
        if ch["dropped"]:
            line += f", {ch['dropped']} dropped in pairs within one tick"
        if ch["changes"] == 0:
            line += " (never changes: no packets)"
        lines.append(line)
    if report["moved"]:
        lines.append(f"{report['moved']} transitions placed one tick early")
    lines.append(f"wrote {ours} ({report['bytes']} bytes, clock setting 0)")
    assert out.replace(str(theirs), str(ours)).splitlines() == lines
