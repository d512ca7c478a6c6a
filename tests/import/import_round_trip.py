#!/usr/bin/python3
"""Properties of `songsim import` over many MIDI files written by independent writers.

  import_round_trip.py SONGSIM SONGGEN [ABC_EXAMPLES_DIR]

- Random on-grid scores written by mido come back exactly through import and
  `midi --as-written` (onset, length, pitch, channel), with no change reported
  but velocities, and every written velocity within the reported error.
- Humanized copies of them snap back to the same score.
- abc2midi's example tunes: every import checks clean, the report's counts add
  up, and a tune imported with no note dropped, moved or shortened comes back
  exactly.
- Generated songs S: import(midi --as-written S), written as written again, is
  the same score.
"""
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

import mido

SONGSIM, SONGGEN = sys.argv[1], sys.argv[2]
ABC_DIR = sys.argv[3] if len(sys.argv) > 3 else "/usr/share/doc/abcmidi/examples"
GRIDS = [48, 32, 24, 16, 12, 8, 6]
failures = []


def fail(what):
    failures.append(what)
    print("FAIL:", what, file=sys.stderr)


def run(*args, check=True):
    done = subprocess.run([SONGSIM, *args], capture_output=True, text=True)
    if check and done.returncode != 0:
        raise RuntimeError(f"songsim {' '.join(args)}: status {done.returncode}: {done.stderr}")
    return done


def notes_of(path):
    """(on, length, pitch, channel, velocity) of every note, in 48 ticks a quarter (exact or None)."""
    midi = mido.MidiFile(path)
    scale = 48 / midi.ticks_per_beat
    notes = []
    for track in midi.tracks:
        tick, sounding = 0, {}
        for message in track:
            tick += message.time
            if message.type == "note_on" and message.velocity > 0:
                sounding[(message.channel, message.note)] = (tick, message.velocity)
            elif message.type in ("note_on", "note_off") and (message.channel, message.note) in sounding:
                on, velocity = sounding.pop((message.channel, message.note))
                notes.append((on * scale, (tick - on) * scale, message.note, message.channel, velocity))
    return sorted(notes)


def score(notes):
    return sorted((round(on), round(on + length), pitch, channel) for on, length, pitch, channel, _ in notes)


def import_json(mid, out, *extra):
    report = json.loads(run("import", mid, "-o", out, "--json", *extra).stdout)
    dropped = sum(1 for change in report["changes"] if change["kind"] == "dropped")
    if report["notesIn"] - report["notesOut"] != dropped:
        fail(f"{mid}: notesIn - notesOut != dropped ({report['notesIn']}, {report['notesOut']}, {dropped})")
    if not 0 <= report["maxOnsetError"] <= report["grid"] // 2:
        fail(f"{mid}: onsets off by {report['maxOnsetError']}, more than half the grid of {report['grid']}")
    if sum(track["notes"] for track in report["tracks"]) != report["notesOut"]:
        fail(f"{mid}: the tracks' notes do not add up to notesOut")
    verdict = json.loads(run("check", "--json", out, check=False).stdout)
    if verdict["status"] != "clean" or verdict["notes"] != report["notesOut"]:
        fail(f"{mid}: the import does not check clean with notesOut notes: {verdict['status']}")
    return report


def least_loudness_error(velocities):
    """The least total error of one loudness for all, each note with or without its accent of 20."""
    return min(sum(min(abs(v - level), abs(v - min(127, level + 20))) for v in velocities)
               for level in range(1, 128))


def check_velocities(mid, report, exact, back):
    """`back` holds the notes of `exact` as the song writes them, in the same order."""
    by_onset = {}
    for (on, _, _, _, velocity), written in zip(exact, back):
        by_onset.setdefault(on, []).append((velocity, written[4]))
    for on, pairs in by_onset.items():
        if sum(abs(v - w) for v, w in pairs) != least_loudness_error([v for v, _ in pairs]):
            fail(f"{mid}: the velocities at tick {on} are not as close as a loudness can make them: {pairs}")
    channel_of = {track["track"]: track["channel"] for track in report["tracks"]}
    expected = {(round(on), pitch, channel): f"velocity {velocity} written as {written[4]}"
                for (on, _, pitch, channel, velocity), written in zip(exact, back) if abs(velocity - written[4]) > 5}
    said = {(change["tick"], change["note"], channel_of[change["track"]]): change["detail"]
            for change in report["changes"] if change["kind"] == "velocity"}
    if said != expected:
        fail(f"{mid}: the velocity changes reported are not the notes written off by more than 5")


def as_written(song, mid):
    run("midi", "--as-written", song, "-o", mid)
    return notes_of(mid)


def random_score(rng, path, humanize=0.0):
    """A random on-grid score of 1-4 tracks; with `humanize`, onsets and ends jittered."""
    jitter_rng = random.Random(7)
    tpb = rng.choice([96, 120, 384, 480])
    grid = rng.choice(GRIDS)
    midi = mido.MidiFile(ticks_per_beat=tpb)
    conductor = mido.MidiTrack()
    conductor.append(mido.MetaMessage("set_tempo", tempo=rng.choice([400000, 500000, 600000]), time=0))
    conductor.append(mido.MetaMessage("time_signature", numerator=rng.choice([3, 4]), denominator=4, time=0))
    midi.tracks.append(conductor)
    tracks = rng.randint(1, 4)
    exact = []
    for t in range(tracks):
        channel = 9 if t == 3 else t
        events, at = [], rng.randint(0, 3) * grid
        for _ in range(rng.randint(5, 40)):
            chord = rng.sample(range(40, 90), rng.randint(1, 3))
            length = grid * rng.randint(1, 12)
            for pitch in chord:
                velocity = rng.randint(20, 127)
                exact.append((at, length, pitch, channel, velocity))
                events.append((at, 1, pitch, velocity))
                events.append((at + length, 0, pitch, 0))
            at += length + grid * rng.randint(0, 2)
        track = mido.MidiTrack()
        track.append(mido.MetaMessage("track_name", name=f"Voice {t}", time=0))
        track.append(mido.Message("program_change", channel=channel, program=rng.randint(0, 127), time=0))
        last = 0
        jitter = max(1, grid // 8) * tpb / 48 * humanize
        for tick48, is_on, pitch, velocity in sorted(events):
            tick = tick48 * tpb // 48
            if humanize:
                tick = max(0, round(tick + jitter_rng.uniform(-jitter, jitter)))
            tick = max(tick, last)
            kind = "note_on" if is_on else "note_off"
            track.append(mido.Message(kind, channel=channel, note=pitch, velocity=velocity, time=tick - last))
            last = tick
        midi.tracks.append(track)
    midi.save(path)
    return exact


def check_abc_tunes(work):
    tunes = 0
    for name in sorted(os.listdir(ABC_DIR)):
        if not name.endswith(".abc"):
            continue
        folder = os.path.join(work, "abc", name[:-4])
        os.makedirs(folder)
        shutil.copy(os.path.join(ABC_DIR, name), folder)
        subprocess.run(["abc2midi", name], cwd=folder, capture_output=True)
        for mid in sorted(f for f in os.listdir(folder) if f.endswith(".mid")):
            path = os.path.join(folder, mid)
            song = path[:-4] + ".sng"
            report = import_json(path, song)
            tunes += 1
            COUNTS["abc"] += 1
            lossy = any(change["kind"] in ("dropped", "moved", "shortened") for change in report["changes"])
            if lossy:
                continue
            exact = notes_of(path)
            COUNTS["abc exact"] += 1
            if score(as_written(song, path[:-4] + ".back.mid")) != score(exact):
                fail(f"{path}: imported with nothing moved, yet not the same score back")
    if tunes == 0:
        fail("no abc2midi tune was made")


def check_command_line(work, mid):
    """Exit statuses, standard input, the source text, --strict and a broken file."""
    song = os.path.join(work, "cli.song")
    with open(mid, "rb") as data:
        done = subprocess.run([SONGSIM, "import", "-", "-o", song], stdin=data, capture_output=True, text=True)
    if done.returncode != 0 or "standard input:" not in done.stderr:
        fail(f"import from standard input: status {done.returncode}: {done.stderr}")
    # The summary: one line for the notes, one for each track, one for the changes.
    lines = done.stderr.splitlines()
    if len(lines) < 3 or not lines[0].startswith("songsim: ") or not lines[1].startswith("  track 0") \
            or "\\x" in done.stderr:
        fail(f"the summary is not a few plain lines: {done.stderr!r}")
    built = os.path.join(work, "cli.sng")
    run("asm", song, "-o", built)
    if json.loads(run("check", "--json", built, check=False).stdout)["status"] != "clean":
        fail("the .song an import writes does not build into a clean song")
    for args, status in ((["--grid", "5th"], 2), (["-o", os.path.join(work, "x.mid")], 2),
                         (["--grid", "quarter", "--strict"], 1)):
        out = [] if "-o" in args else ["-o", os.path.join(work, "strict.sng")]
        done = run("import", mid, *out, *args, check=False)
        if done.returncode != status:
            fail(f"import {args}: status {done.returncode}, not {status}")
    if os.path.exists(os.path.join(work, "strict.sng")):
        fail("--strict wrote a song that moves notes")
    # A MIDI file named as a song is not written over by its own import.
    same = os.path.join(work, "same.sng")
    shutil.copy(mid, same)
    done = run("import", same, "-o", same, check=False)
    with open(mid, "rb") as original, open(same, "rb") as after:
        if done.returncode != 1 or "is the input file" not in done.stderr or original.read() != after.read():
            fail(f"import onto its own input: status {done.returncode}: {done.stderr}")
    broken = os.path.join(work, "broken.mid")
    with open(mid, "rb") as data, open(broken, "wb") as out:
        out.write(data.read()[:40])
    done = run("import", broken, "-o", os.path.join(work, "broken.sng"), check=False)
    if done.returncode != 1 or "invalid MIDI data (offset 0x" not in done.stderr:
        fail(f"a cut MIDI file: status {done.returncode}: {done.stderr}")


def check_generated_songs(work, count):
    """S written as written, imported and written again: a score the import keeps
    exactly, the same as S's when nothing was moved, shortened or dropped."""
    for seed in range(count):
        song = os.path.join(work, f"g{seed}.sng")
        subprocess.run([SONGGEN, "--events", "300", "--seed", str(seed), song], check=True, capture_output=True)
        if json.loads(run("check", "--json", song, check=False).stdout)["status"] != "clean":
            continue
        first = os.path.join(work, f"g{seed}.mid")
        written = as_written(song, first)
        again = os.path.join(work, f"g{seed}.again.sng")
        report = import_json(first, again)
        second = os.path.join(work, f"g{seed}.again.mid")
        rewritten = as_written(again, second)
        lossy = any(change["kind"] in ("dropped", "moved", "shortened") for change in report["changes"])
        COUNTS["generated"] += 1
        COUNTS["generated exact"] += not lossy
        if not lossy and score(rewritten) != score(written):
            fail(f"{song}: import(midi --as-written S) is not the score of S")
        third = os.path.join(work, f"g{seed}.third.sng")
        import_json(second, third, "--strict")
        if score(as_written(third, os.path.join(work, f"g{seed}.third.mid"))) != score(rewritten):
            fail(f"{song}: an imported score does not come back through import and midi --as-written")


COUNTS = {"random": 0, "abc": 0, "abc exact": 0, "generated": 0, "generated exact": 0}
STATES = []
with tempfile.TemporaryDirectory() as work:
    rng = random.Random(16)
    SCORES = 40
    for n in range(SCORES):
        STATES.append(random.Random(1000 + n).getstate())
    for n in range(SCORES):
        mid, song = os.path.join(work, f"r{n}.mid"), os.path.join(work, f"r{n}.sng")
        generator = random.Random()
        generator.setstate(STATES[n])
        exact = random_score(generator, mid)
        report = import_json(mid, song)
        kinds = {change["kind"] for change in report["changes"]} - {"velocity"}
        if kinds:
            fail(f"{mid}: an on-grid score reported {sorted(kinds)}")
        back = as_written(song, os.path.join(work, f"r{n}.back.mid"))
        if score(back) != score(exact):
            fail(f"{mid}: not the same score back through import and midi --as-written")
            continue
        worst = max(abs(a[4] - b[4]) for a, b in zip(sorted(back), sorted(exact)))
        if worst != report["maxVelocityError"]:
            fail(f"{mid}: velocities off by {worst}, the report says {report['maxVelocityError']}")
        check_velocities(mid, report, sorted(exact), sorted(back))
        human, human_song = os.path.join(work, f"h{n}.mid"), os.path.join(work, f"h{n}.sng")
        generator.setstate(STATES[n])
        random_score(generator, human, humanize=0.9)
        import_json(human, human_song)
        COUNTS["random"] += 1
        if score(as_written(human_song, os.path.join(work, f"h{n}.back.mid"))) != score(exact):
            fail(f"{human}: a humanized copy does not snap back")
    check_abc_tunes(work)
    check_command_line(work, os.path.join(work, "abc", "demo", "demo1.mid"))
    check_generated_songs(work, 10)

print(", ".join(f"{count} {what}" for what, count in COUNTS.items()), f"; {len(failures)} failures")
sys.exit(1 if failures else 0)
