# A capture opened, walked and dropped gives its memory back: the packets, their texts and field tables,
# the samples array. A packet kept keeps its capture, and the memory goes with the last packet.
import ctypes
import gc
import os
import weakref

import numpy  # noqa: F401 (loaded before the baseline: its own memory stays)

import ambrio

LIBC = ctypes.CDLL("libc.so.6")

# About 72,000 packets and 120,000 samples: some 100 MB while open.
BUSY = {
    "seconds": 120,
    "analog": {"sampleIntervalMs": 1},
    "steps": [{"repeat": {"everyMs": 3, "steps": [{"message": "Get_Source_Cap", "from": "sink"},
                                                  {"message": "Source_Capabilities", "from": "source"}]}}],
}


def rss():
    return int(open("/proc/self/statm").read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def settle():
    """What the program freed goes back to the system, so that the resident size shows it."""
    gc.collect()
    LIBC.malloc_trim(0)
    return rss()


def walk(path):
    """Opens, reads everything a script reads, and drops it; returns the size while open and what is left."""
    cap = ambrio.open(path)
    ref = weakref.ref(cap)
    packets = list(cap)
    texts = [(p.message_type, p.time_us, p.bytes, p.reasons) for p in packets]
    tables = [(p.fields(), p.tree(), p.columns()) for p in packets[:2000]]
    summary = (cap.info, cap.summary(), cap.check())
    samples = cap.samples()
    assert len(texts) == len(cap) and len(samples) == cap.info["samples"] and tables and summary
    grown = rss()
    del cap, packets, texts, tables, summary, samples
    return grown, ref


def test_capture_memory_is_given_back(tmp_path):
    path = tmp_path / "busy.qxc"
    ambrio.synth(BUSY, path=path).close()
    walk(path)  # what the first walk leaves (interned names, the interpreter's caches) stays
    base = settle()
    grown, ref = walk(path)
    after = settle()
    assert ref() is None
    used = grown - base
    assert used > 50e6, "too small a capture to tell"
    assert after - base < 0.03 * used
    # Again and again: nothing creeps up.
    for _ in range(3):
        walk(path)
    assert settle() - base < 0.03 * used


def test_a_kept_packet_keeps_its_capture(tmp_path):
    path = tmp_path / "busy.qxc"
    ambrio.synth(BUSY, path=path).close()
    walk(path)
    base = settle()
    cap = ambrio.open(path)
    kept = cap[-1]
    expected = (kept.message_type, kept.time_us, kept.fields())
    opened = rss()
    ref = weakref.ref(cap)
    del cap
    held = settle()
    # The capture object is gone, its packets are not.
    assert ref() is None
    assert held - base > 0.9 * (opened - base) > 20e6
    assert (kept.message_type, kept.time_us, kept.fields()) == expected
    del kept
    assert settle() - base < 0.03 * (opened - base)
