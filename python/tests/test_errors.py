# Bad input raises ambrio.Error with the line qxtool prints for it; bad arguments raise ValueError or
# IndexError naming what is wrong; a record file cut short gives qxtool's warning.
import json
import warnings

import pytest

import ambrio
from conftest import qxtool, qxtool_error


def not_a_record(folder):
    path = folder / "notes.qxc"
    path.write_text("nothing recorded here\n" * 10)
    return path


def empty(folder):
    path = folder / "empty.qxc"
    path.write_bytes(b"")
    return path


@pytest.mark.parametrize("make", [
    lambda folder: folder / "missing.qxc",
    lambda folder: folder,
    not_a_record,
    empty,
], ids=["missing", "folder", "not-a-record", "empty"])
def test_open_refuses_what_qxtool_refuses(tmp_path, make):
    path = make(tmp_path)
    with pytest.raises(ambrio.Error) as e:
        ambrio.open(path)
    assert str(e.value) == qxtool_error("info", path)


def test_a_file_cut_short_is_read_with_qxtool_warning(tmp_path):
    whole = tmp_path / "whole.qxc"
    ambrio.synth("spr", path=whole)
    cut = tmp_path / "cut.qxc"
    cut.write_bytes(whole.read_bytes()[:-64 * 100])
    _, _, err = qxtool("info", cut)
    with pytest.warns(RuntimeWarning) as caught:
        cap = ambrio.open(cut)
    prefix = "qxtool: warning: "
    assert err.startswith(prefix)
    assert [str(w.message) for w in caught] == [err[len(prefix):].rstrip("\n")] == [cap.warning]
    assert len(cap) > 0
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        assert ambrio.open(whole).warning is None


def scenario_file(folder, text):
    path = folder / "scenario.json"
    path.write_text(text)
    return path


# A name, a path, or the text of a JSON scenario file; those that are JSON objects also go in as dicts.
BAD_SCENARIOS = {
    "unknown-name": "nosuch",
    "missing-file": "missing/scenario.json",
    "bad-json": '{"steps": [}',
    "unknown-message": json.dumps({"steps": [{"message": "Nonsense", "from": "source"}]}),
    "unknown-key": json.dumps({"steps": [], "colour": "red"}),
}


@pytest.mark.parametrize("scenario", BAD_SCENARIOS.values(), ids=BAD_SCENARIOS.keys())
def test_synth_refuses_what_qxtool_refuses(tmp_path, scenario):
    is_json = scenario.startswith("{")
    given = scenario_file(tmp_path, scenario) if is_json else scenario
    expected = qxtool_error("synth", given, "-o", tmp_path / "out.qxc")
    with pytest.raises(ambrio.Error) as e:
        ambrio.synth(str(given), path=tmp_path / "out.qxc")
    assert str(e.value) == expected
    if is_json and scenario != BAD_SCENARIOS["bad-json"]:
        # The same scenario as a dict: the reason without the file's name.
        with pytest.raises(ambrio.Error) as e:
            ambrio.synth(json.loads(scenario))
        assert f"{given}: {e.value}" == expected
    assert not (tmp_path / "out.qxc").exists()


def test_synth_refuses_a_coarse_clock(tmp_path):
    with pytest.raises(ValueError) as e:
        ambrio.synth("demo", clock=0x30, path=tmp_path / "out.qxc")
    assert str(e.value) == qxtool_error("synth", "demo", "-o", tmp_path / "out.qxc", "--clock", 0x30)


@pytest.fixture(scope="module")
def session(tmp_path_factory):
    """A logic capture to import: a VCD of a few edges on two channels."""
    path = tmp_path_factory.mktemp("logic") / "cc.vcd"
    edges = "".join(f"#{t * 10}\n{t % 2}!\n" for t in range(1, 40))
    path.write_text("$timescale 1 us $end\n$scope module top $end\n$var wire 1 ! CC1 $end\n"
                    "$var wire 1 \" CC2 $end\n$upscope $end\n$enddefinitions $end\n#0\n0!\n0\"\n" + edges)
    return path


@pytest.mark.parametrize("case", ["missing-input", "unknown-channel", "output-exists"])
def test_import_refuses_what_qxtool_refuses(tmp_path, session, case):
    given, cc1, out = session, "CC1", tmp_path / "out.qxc"
    if case == "missing-input":
        given = tmp_path / "no-such.sr"
    elif case == "unknown-channel":
        cc1 = "D7"
    else:
        out.write_bytes(b"keep me")
    expected = qxtool_error("import", given, "-o", out, "--cc1", cc1)
    with pytest.raises(ambrio.Error) as e:
        ambrio.import_logic(given, out, cc1=cc1)
    assert str(e.value) == expected
    assert out.read_bytes() == b"keep me" if case == "output-exists" else not out.exists()


@pytest.fixture(scope="module")
def cap():
    return ambrio.synth("spr", seconds=1)


# What a script may get wrong, and the words that say so.
BAD_ARGUMENTS = [
    (lambda c: c.check(rules=["goodcrc-late", "nope"]), ValueError, "unknown rule: nope"),
    (lambda c: c.check(rules="goodcrc-late,nope"), ValueError, "unknown rule: nope"),
    (lambda c: c.check(limits={"tNope": 1}), ValueError, "limit tNope=1: not a known limit"),
    (lambda c: c.summary(limits={"tTransmit": "soon"}), ValueError, "limit tTransmit=soon: not a known limit"),
    (lambda c: c.check(limits={"tTransmit": -1}), ValueError, "limit tTransmit=-1: not a known limit"),
    (lambda c: c[0].column("Colour"), ValueError, "unknown column: Colour"),
    (lambda c: c[0].column(38), ValueError, "unknown column: 38"),
    (lambda c: c[0].columns(["Type", "Colour"]), ValueError, "unknown column: Colour"),
    (lambda c: c[0].columns("default,Colour"), ValueError, "unknown column: Colour"),
    (lambda c: c[0].fields(start=16), ValueError, "give both start and length"),
    (lambda c: c[0].fields(start=0, length=1 << 21), ValueError, "bits from 0 to 1048576"),
    (lambda c: c[len(c)], IndexError, "no packet"),
    (lambda c: c[-len(c) - 1], IndexError, "no packet"),
    # Packets and captures come only from a capture and ambrio.open or ambrio.synth.
    (lambda c: ambrio.Packet().message_type, TypeError, "cannot create 'ambrio.Packet' instances"),
    (lambda c: next(ambrio.PacketIterator()), TypeError, "cannot create 'ambrio.PacketIterator' instances"),
    (lambda c: ambrio.Capture(), TypeError, "No constructor defined"),
]


@pytest.mark.parametrize("call,error,words", BAD_ARGUMENTS)
def test_bad_arguments_say_what_is_wrong(cap, call, error, words):
    with pytest.raises(error) as e:
        call(cap)
    assert words in str(e.value)


def test_a_closed_capture_refuses_but_its_packets_stay():
    cap = ambrio.synth("spr", seconds=1)
    first = cap[0]
    text = first.message_type
    with cap:
        pass
    with pytest.raises(ValueError, match="the capture is closed"):
        len(cap)
    assert first.message_type == text
