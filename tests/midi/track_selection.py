#!/usr/bin/python3
"""--tracks and --mute keep the tracks the check numbers, with the check's notes.

For each song (the demo, the corpus, generated songs of several tracks), and
for selections of each track alone, of all but the first, and of the first
and last that sound (only these, and all but these): `midi --tracks/--mute`,
read back by mido (an independent reader), has one MIDI track per selected track that sounds, in order, with
as many note-ons as `check --json` counts for it (for songs whose export
leaves no note out); `draw --measures all` has as many notes of class
`note tN` as the check counts for each selected track and none of the
others; and a batch of one of the selections writes the same MIDI bytes.

usage: track_selection.py SONGSIM SONGGEN SONG...
"""
import json
import os
import re
import subprocess
import sys
import tempfile

import mido

SONGSIM, SONGGEN = sys.argv[1], sys.argv[2]


def run(*args):
    return subprocess.run([SONGSIM, *args], capture_output=True)


def selections(tracks):
    """(option, list, the tracks kept) for the tracks that sounded: each
    alone, all but the first, and the first and last with both options."""
    numbers = [t["track"] for t in tracks]
    every = list(range(15))
    for t in numbers:
        yield "--tracks", str(t), {t}
    if numbers:
        yield "--mute", str(numbers[0]), set(every) - {numbers[0]}
    if len(numbers) > 1:
        pair = f"{numbers[0]},{numbers[-1]}"
        yield "--tracks", pair, {numbers[0], numbers[-1]}
        yield "--mute", pair, set(every) - {numbers[0], numbers[-1]}


def midi_notes(path):
    """Note-ons of velocity above 0 per MIDI track after the first."""
    return [sum(1 for m in t if m.type == "note_on" and m.velocity > 0) for t in mido.MidiFile(path).tracks[1:]]


def drawn_notes(path):
    with open(path, encoding="utf-8") as svg:
        classes = re.findall(r'class="note t(\d+)', svg.read())
    counts = {}
    for t in classes:
        counts[int(t)] = counts.get(int(t), 0) + 1
    return counts


def main():
    failures = []
    checked = 0
    with tempfile.TemporaryDirectory() as work:
        songs = list(sys.argv[3:])
        for seed in (1, 2, 3):
            song = os.path.join(work, f"generated{seed}.sng")
            subprocess.run([SONGGEN, "--events", "400", "--seed", str(seed), song], check=True, capture_output=True)
            songs.append(song)
        for song in songs:
            check = run("check", "--json", song)
            report = json.loads(check.stdout.decode().splitlines()[0])
            if report["status"] == "unreadable":
                continue
            tracks = report["tracks"]
            notes = {t["track"]: t["notes"] for t in tracks}
            full = run("midi", song, "-o", os.path.join(work, "full.mid"))
            exact = b"left out" not in full.stderr  # every note of the check is in the MIDI file
            for index, (option, numbers, kept) in enumerate(selections(tracks)):
                name = f"{os.path.basename(song)} {option} {numbers}"
                out = os.path.join(work, "picked.mid")
                made = run("midi", song, "-o", out, option, numbers)
                if not os.path.exists(out):
                    failures.append(f"{name}: no MIDI file: {made.stderr.decode()}")
                    continue
                expected = [notes[t] for t in sorted(notes) if t in kept]
                got = midi_notes(out)
                if len(got) != len(expected) or (exact and got != expected):
                    failures.append(f"{name}: MIDI tracks hold {got} notes, the check {expected}")
                if index == len(tracks):  # the first --mute: in a batch too
                    folder = os.path.join(work, "batch") + "/"
                    run("midi", song, "-o", folder, option, numbers)
                    batch = os.path.join(folder, os.path.splitext(os.path.basename(song))[0] + ".mid")
                    with open(out, "rb") as a, open(batch, "rb") as b:
                        if a.read() != b.read():
                            failures.append(f"{name}: the batch wrote other bytes")
                picture = os.path.join(work, "picked.svg")
                drawn = run("draw", song, "-o", picture, "--measures", "all", option, numbers)
                if drawn.returncode != 0:
                    failures.append(f"{name}: draw failed: {drawn.stderr.decode()}")
                    continue
                want = {t: n for t, n in notes.items() if t in kept}
                if drawn_notes(picture) != want:
                    failures.append(f"{name}: the picture holds {drawn_notes(picture)} notes, the check {want}")
                checked += 1
    for failure in failures:
        print(failure)
    print(f"{checked} selections checked, {len(failures)} failures")
    if checked < 20:
        print("too few selections checked")
        return 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
