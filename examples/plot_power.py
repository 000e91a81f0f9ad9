#!/usr/bin/env python3
"""VBUS voltage, current and power of a record file over time, with the contract changes marked.

    python3 plot_power.py CAPTURE.qxc [OUT] [--csv]

With matplotlib installed it draws them into a picture (OUT, by default CAPTURE_power.png). Without it,
or with --csv, it writes a CSV instead (OUT, by default CAPTURE_power.csv): one line per sample with time,
voltage, current and power, and on the first sample of each contract what the contract grants.
"""
import argparse
import csv
import pathlib
import sys

import numpy

import ambrio


def contract_changes(cap):
    """(time in µs, text) at the start of every contract, in time order."""
    changes = []
    for connection in cap.summary():
        for contract in connection["contracts"]:
            if contract["from"] is None:
                continue
            power = contract["power"]
            text = f"{power['mV'] / 1000:g} V {power['kind']}"
            if power["limit_mA"]:
                text += f", {power['limit_mA'] / 1000:g} A"
            changes.append((contract["from"]["time_us"], text))
    return sorted(changes)


def write_csv(out, samples, power_mW, changes):
    at = {int(numpy.searchsorted(samples["time_us"], t)): text for t, text in changes}
    with open(out, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["time_us", "vbus_mV", "current_mA", "power_mW", "contract"])
        for i, (s, p) in enumerate(zip(samples.tolist(), power_mW.tolist())):
            w.writerow([s[0], s[1], s[2], p, at.get(i, "")])


def draw(out, samples, power_mW, changes, title):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    seconds = samples["time_us"] / 1e6
    fig, axes = plt.subplots(3, 1, sharex=True, figsize=(11, 7))
    for ax, values, label in [(axes[0], samples["vbus_mV"] / 1000, "VBUS [V]"),
                              (axes[1], samples["current_mA"] / 1000, "Current [A]"),
                              (axes[2], power_mW / 1000, "Power [W]")]:
        ax.plot(seconds, values, linewidth=0.8)
        ax.set_ylabel(label)
        ax.grid(True, alpha=0.3)
        for t, _ in changes:
            ax.axvline(t / 1e6, color="tab:red", linewidth=0.8, alpha=0.6)
    for t, text in changes:
        axes[0].annotate(text, (t / 1e6, 1), xycoords=("data", "axes fraction"), rotation=90, fontsize=7,
                         va="top", ha="right", color="tab:red")
    axes[2].set_xlabel("Time [s]")
    fig.suptitle(title)
    fig.tight_layout()
    fig.savefig(out, dpi=120)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("capture")
    parser.add_argument("out", nargs="?")
    parser.add_argument("--csv", action="store_true", help="write a CSV even when matplotlib is installed")
    args = parser.parse_args()
    try:
        cap = ambrio.open(args.capture)
    except ambrio.Error as e:
        sys.exit(f"plot_power: {e}")

    samples = cap.samples()
    # mW truncated toward zero, as the application computes it.
    power_mW = (samples["vbus_mV"].astype(numpy.int64) * samples["current_mA"] / 1000).astype(numpy.int64)
    changes = contract_changes(cap)
    try:
        if args.csv:
            raise ImportError
        import matplotlib  # noqa: F401
    except ImportError:
        out = args.out or str(pathlib.Path(args.capture).with_suffix("")) + "_power.csv"
        write_csv(out, samples, power_mW, changes)
    else:
        out = args.out or str(pathlib.Path(args.capture).with_suffix("")) + "_power.png"
        draw(out, samples, power_mW, changes, pathlib.Path(args.capture).name)
    print(f"{out}: {len(samples)} samples, {len(changes)} contract changes")


if __name__ == "__main__":
    main()
