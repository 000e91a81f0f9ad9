#!/usr/bin/env python3
"""Checks every record file in a folder and prints a table of the findings.

    python3 check_folder.py FOLDER [--severity info|warning|error] [--rules KEY,KEY...]

One line per finding at or above the severity (default: warning) with the file, the time, the severity,
the rule and what was found; files that cannot be read get a line of their own. The exit status is 2 when
any finding was listed, 1 when a file could not be read, as with qxtool check.
"""
import argparse
import pathlib
import sys

import ambrio

SEVERITIES = ["info", "warning", "error"]


def table(rows):
    """Left-aligned columns, the last one as it is."""
    widths = [max(len(r[c]) for r in rows) for c in range(len(rows[0]) - 1)]
    return "\n".join("  ".join(cell.ljust(w) for cell, w in zip(r, widths)) + "  " + r[-1] for r in rows)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder")
    parser.add_argument("--severity", choices=SEVERITIES, default="warning")
    parser.add_argument("--rules", help="rule keys, comma-separated: " + ", ".join(ambrio.RULES))
    args = parser.parse_args()

    lowest = SEVERITIES.index(args.severity)
    rows = [("File", "Time [us]", "Severity", "Rule", "Finding")]
    unreadable = 0
    for path in sorted(pathlib.Path(args.folder).glob("*.qxc")):
        try:
            findings = ambrio.open(path).check(rules=args.rules)
        except ambrio.Error as e:
            print(f"check_folder: {e}", file=sys.stderr)
            unreadable += 1
            continue
        for f in findings:
            if SEVERITIES.index(f["severity"]) >= lowest:
                rows.append((path.name, str(f["time_us"]), f["severity"], f["rule"], f["text"]))
    if len(rows) > 1:
        print(table(rows))
    print(f"{len(rows) - 1} findings at {args.severity} or above")
    sys.exit(2 if len(rows) > 1 else 1 if unreadable else 0)


if __name__ == "__main__":
    main()
