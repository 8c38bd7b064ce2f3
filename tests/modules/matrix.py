#!/usr/bin/env python3
"""The modules matrix: module x width x capability.

  matrix.py check CELLS.psv EXPECTED.csv OUT.csv
      Judges one width's cells (lines module|width|cell|outcome|evidence|detail)
      against the expected outcomes and writes them as CSV. A cell not listed in
      EXPECTED must work ("ok"); a listed one must end as listed, with the same
      evidence. Exit status 1 on any difference or missing cell.
  matrix.py write BUILD_DIR [README]
      Joins BUILD_DIR/linux-{x64,x86}/modules/cells.csv into
      BUILD_DIR/modules-matrix.csv and .md; with README, rewrites its section
      between the matrix markers.
"""
import csv
import os
import sys

CELLS = ["info", "slots", "mechanisms", "token", "login", "pin", "random", "digest", "aes", "rsa", "ec",
         "attributes", "find", "wrap", "threads", "events", "close", "finalize", "demo", "clean"]
MODULES = {
    "softhsm2": "SoftHSM2",
    "softoken": "NSS softoken",
    "pkcs11-spy": "pkcs11-spy over SoftHSM2",
    "opencryptoki": "opencryptoki soft token",
    "tpm2_pkcs11": "tpm2-pkcs11 over swtpm",
    "opensc-pkcs11": "OpenSC, virtual PIV card",
    "ykcs11": "ykcs11, virtual PIV card",
}
WIDTHS = ["x64", "x86"]
FIELDS = ["module", "width", "cell", "outcome", "evidence", "detail", "expected", "reason"]
BEGIN, END = "<!-- modules matrix: begin -->", "<!-- modules matrix: end -->"


def expected_outcomes(path):
    table = {}
    with open(path, newline="") as f:
        for row in csv.DictReader(line for line in f if not line.startswith("#")):
            for width in WIDTHS if row["width"] == "both" else [row["width"]]:
                table[(row["module"], width, row["cell"])] = row
    return table


def check(cells_path, expected_path, out_path):
    expected = expected_outcomes(expected_path)
    got, widths = {}, set()
    with open(cells_path) as f:
        for line in f:
            parts = line.rstrip("\n").split("|", 5)
            if len(parts) == 6:
                got[tuple(parts[:3])] = parts
                widths.add(parts[1])
    width = (widths or {"?"}).pop()
    rows, bad = [], []
    for module in MODULES:
        for cell in CELLS + ["seconds"]:
            key = (module, width, cell)
            result = got.get(key, [module, width, cell, "failed", "missing", "the run reported nothing"])
            want = expected.get(key)
            reason = want["reason"] if want else ""
            fine = "yes"
            if cell != "seconds":
                if want is None and result[3] != "ok":
                    bad.append(f"{module} {width} {cell}: {result[3]} ({result[4]}: {result[5]}), expected ok")
                    fine = "no"
                elif want is not None and (result[3], result[4]) != (want["outcome"], want["evidence"]):
                    bad.append(f"{module} {width} {cell}: {result[3]} ({result[4]}: {result[5]}), "
                               f"expected {want['outcome']} ({want['evidence']}: {reason})")
                    fine = "no"
            rows.append(dict(zip(FIELDS, result + [fine, reason])))
    for key in expected:
        if key[1] == width and (key[0] not in MODULES or key[2] not in CELLS):
            bad.append(f"expected.csv names an unknown module or cell: {key}")
    with open(out_path, "w", newline="") as f:
        w = csv.DictWriter(f, FIELDS)
        w.writeheader()
        w.writerows(rows)
    for b in bad:
        print("modules: " + b)
    print(f"modules: {width}: {len(MODULES) * len(CELLS) - len(bad)} cells as expected, {len(bad)} not")
    return 1 if bad else 0


def write(build, readme=None):
    rows = []
    for width in WIDTHS:
        path = os.path.join(build, f"linux-{width}", "modules", "cells.csv")
        if os.path.exists(path):
            with open(path, newline="") as f:
                rows += list(csv.DictReader(f))
    if not rows:
        return 0
    with open(os.path.join(build, "modules-matrix.csv"), "w", newline="") as f:
        w = csv.DictWriter(f, FIELDS)
        w.writeheader()
        w.writerows(rows)
    table = {(r["module"], r["width"], r["cell"]): r for r in rows}
    # One note per module, outcome and reason, naming its cells and widths.
    notes, lines = [], []
    lines.append("| module | width | " + " | ".join(CELLS) + " | seconds |")
    lines.append("|---|---|" + "---|" * (len(CELLS) + 1))
    for module, name in MODULES.items():
        for width in WIDTHS:
            if (module, width, "info") not in table:
                continue
            marks = []
            for cell in CELLS:
                r = table[(module, width, cell)]
                if r["outcome"] == "ok":
                    marks.append("✓")
                    continue
                unexpected = f"Not as expected: {r['evidence']}: {r['detail']}"
                key = (module, r["outcome"], r["reason"] if r.get("expected", "yes") == "yes" else unexpected)
                note = next((n for n in notes if n[0] == key), None)
                if note is None:
                    note = (key, {})
                    notes.append(note)
                note[1].setdefault(cell, set()).add(width)
                mark = "–" if r["outcome"] == "absent" else "✗"
                marks.append(f"{mark}{notes.index(note) + 1}")
            seconds = table.get((module, width, "seconds"), {}).get("detail", "")
            lines.append(f"| {name} | {width} | " + " | ".join(marks) + f" | {seconds} |")
    totals = []
    for width in WIDTHS:
        s = [int(r["detail"]) for r in rows if r["width"] == width and r["cell"] == "seconds" and r["detail"].isdigit()]
        if s:
            totals.append(f"{width} {sum(s)} s")
    lines.append("")
    lines.append("✓ worked and checked; – not offered by the module; ✗ failed. Time of the modules' runs: "
                 + ", ".join(totals) + ".")
    lines.append("")
    for i, ((module, outcome, reason), cells) in enumerate(notes, 1):
        where = ", ".join(cell + ("" if len(widths) == len(WIDTHS) else f" ({'/'.join(sorted(widths))})")
                          for cell, widths in cells.items())
        what = "not offered" if outcome == "absent" else "failed"
        lines.append(f"{i}. {MODULES[module]}, {where}: {what}. {reason}")
    text = "\n".join(lines) + "\n"
    with open(os.path.join(build, "modules-matrix.md"), "w") as f:
        f.write(text)
    if readme:
        with open(readme) as f:
            old = f.read()
        if BEGIN in old and END in old:
            head, rest = old.split(BEGIN, 1)
            new = head + BEGIN + "\n" + text + END + rest.split(END, 1)[1]
            if new != old:
                with open(readme, "w") as f:
                    f.write(new)
    return 0


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "check":
        sys.exit(check(*sys.argv[2:]))
    if len(sys.argv) in (3, 4) and sys.argv[1] == "write":
        sys.exit(write(*sys.argv[2:]))
    sys.exit(__doc__)
