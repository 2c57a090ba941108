#!/usr/bin/env python3
"""Makes the shipped recordings from the wording table (wording.md beside this file).

Each row is spoken by espeak-ng, then sox band-limits it for the telephone line,
resamples it to 7200 samples per second, trims the silence at both ends, normalises
the level and quantises it to 8-bit unsigned without dither (so the pauses are
exact silence and the output is repeatable). The samples are written behind the
fixed 44-byte RIFF header that the modem driver skips before sending a file: no
extra chunks, nothing else before or after the samples.

Run through make-prompts.sh. With --check nothing is written: the files are made in
a scratch directory and compared with the committed ones.
"""

import argparse
import os
import struct
import subprocess
import sys
import tempfile

SAMPLE_RATE = 7200
BITS_PER_SAMPLE = 8
SILENT_SAMPLE = 0x80

# Pause kept before and after the words, in seconds, by kind of recording.
PAUSES = {
    "prompt": (0.10, 0.20),
    "word": (0.04, 0.08),
    "voice": (0.25, 0.40),
}

ALLOWED_DIRS = ("system/", "sim/voices/")


class TableError(Exception):
    pass


def read_table(path):
    """Returns the rows of the wording table as dicts, checked for sense."""
    rows = []
    header = None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line.startswith("|"):
                continue
            cells = [c.strip() for c in line.strip("|").split("|")]
            if header is None:
                header = [c.lower() for c in cells]
                continue
            if all(set(c) <= set("-: ") for c in cells):
                continue
            if len(cells) != len(header):
                raise TableError(f"{path}:{number}: {len(cells)} cells, expected {len(header)}")
            row = dict(zip(header, cells))
            row["file"] = row["file"].strip("`")
            row["line"] = number
            rows.append(row)
    if header is None:
        raise TableError(f"{path}: no table found")
    for key in ("file", "kind", "voice", "rate", "words"):
        if key not in header:
            raise TableError(f"{path}: the table has no column '{key}'")

    seen = set()
    for row in rows:
        where = f"{path}:{row['line']}"
        name = row["file"]
        directory, _, base = name.rpartition("/")
        if directory + "/" not in ALLOWED_DIRS or base.startswith(".") or not base.endswith(".wav"):
            raise TableError(f"{where}: '{name}' is not a .wav file directly in {' or '.join(ALLOWED_DIRS)}")
        if name in seen:
            raise TableError(f"{where}: '{name}' is listed twice")
        seen.add(name)
        if row["kind"] not in PAUSES:
            raise TableError(f"{where}: unknown kind '{row['kind']}'")
        if not row["rate"].isdigit() or not 60 <= int(row["rate"]) <= 300:
            raise TableError(f"{where}: rate '{row['rate']}' is not a speed from 60 to 300")
        if not row["words"] or not row["voice"]:
            raise TableError(f"{where}: voice and words must not be empty")
    return rows


def wav_bytes(samples):
    """The 44-byte header, the samples, and a zero pad byte when their count is odd."""
    pad = len(samples) & 1
    header = (b"RIFF" + struct.pack("<I", 36 + len(samples) + pad) + b"WAVE"
              + b"fmt " + struct.pack("<IHHIIHH", 16, 1, 1, SAMPLE_RATE,
                                      SAMPLE_RATE // 8 * BITS_PER_SAMPLE, 1, BITS_PER_SAMPLE)
              + b"data" + struct.pack("<I", len(samples)))
    assert len(header) == 44
    return header + samples + (b"\0" if pad else b"")


def run(command, **kwargs):
    result = subprocess.run(command, capture_output=True, **kwargs)
    if result.returncode != 0:
        raise RuntimeError(f"{command[0]} failed ({result.returncode}): "
                           f"{result.stderr.decode(errors='replace').strip()}")
    return result


def speak(row, scratch):
    """Returns the 8-bit unsigned samples for one row."""
    spoken = os.path.join(scratch, "spoken.wav")
    raw = os.path.join(scratch, "line.raw")
    run(["espeak-ng", "-v", row["voice"], "-s", row["rate"], "-w", spoken, "--stdin"],
        input=row["words"].encode("utf-8"))
    lead, trail = PAUSES[row["kind"]]
    run(["sox", "-R", "-D", spoken,
         "-t", "raw", "-e", "unsigned-integer", "-b", str(BITS_PER_SAMPLE), "-c", "1",
         "-r", str(SAMPLE_RATE), raw,
         "highpass", "150",
         "rate", "-v", str(SAMPLE_RATE),
         # Trim the ends: drop everything before the first 10 ms above 1 % of full scale,
         # then the same from the far end.
         "silence", "1", "0.01", "1%", "reverse", "silence", "1", "0.01", "1%", "reverse",
         "norm", "-1",
         "pad", str(lead), str(trail)])
    with open(raw, "rb") as f:
        samples = f.read()
    if not samples.strip(bytes([SILENT_SAMPLE])):
        raise RuntimeError(f"'{row['file']}' came out silent")
    # An even count needs no pad byte; the modem would play a pad byte of 0 as a click.
    if len(samples) & 1:
        samples += bytes([SILENT_SAMPLE])
    return samples


def write_atomically(path, data):
    directory = os.path.dirname(path)
    os.makedirs(directory, exist_ok=True)
    fd, temporary = tempfile.mkstemp(dir=directory, prefix=".making-")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
        os.chmod(temporary, 0o644)
        os.replace(temporary, path)
    except BaseException:
        if os.path.exists(temporary):
            os.unlink(temporary)
        raise


def unlisted_files(root, rows):
    listed = {row["file"] for row in rows}
    extra = []
    for directory in ALLOWED_DIRS:
        full = os.path.join(root, directory)
        if os.path.isdir(full):
            for name in sorted(os.listdir(full)):
                relative = directory + name
                if os.path.isfile(os.path.join(full, name)) and relative not in listed:
                    extra.append(relative)
    return extra


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--root", required=True, help="repository root")
    parser.add_argument("--check", action="store_true",
                        help="compare with the committed files instead of writing them")
    args = parser.parse_args()

    table = os.path.join(os.path.dirname(os.path.abspath(__file__)), "wording.md")
    try:
        rows = read_table(table)
    except (OSError, TableError) as error:
        print(f"make-prompts: {error}", file=sys.stderr)
        return 2

    differing = []
    with tempfile.TemporaryDirectory(prefix="telvara-prompts-") as scratch:
        for row in rows:
            target = os.path.join(args.root, row["file"])
            try:
                data = wav_bytes(speak(row, scratch))
            except RuntimeError as error:
                print(f"make-prompts: {row['file']}: {error}", file=sys.stderr)
                return 1
            if args.check:
                try:
                    with open(target, "rb") as f:
                        same = f.read() == data
                except OSError:
                    same = False
                if not same:
                    differing.append(row["file"])
            else:
                write_atomically(target, data)
                print(f"{row['file']}: {(len(data) - 44) / SAMPLE_RATE:.2f} s")

    for name in unlisted_files(args.root, rows):
        print(f"make-prompts: note: {name} is not in the wording table", file=sys.stderr)
    if args.check:
        for name in differing:
            print(f"make-prompts: {name} differs from what the table makes", file=sys.stderr)
        print(f"{len(rows) - len(differing)} of {len(rows)} files match the table")
        return 1 if differing else 0
    return 0


if __name__ == "__main__":
    sys.exit(main())
