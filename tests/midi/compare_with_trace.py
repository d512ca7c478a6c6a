#!/usr/bin/python3
"""songsim's MIDI files, read back by mido, hold what the trace says was played.

The notes of `songsim midi SONG` read by mido (an independent reader) must be
the NOTE ON and NOTE OFF lines of `songsim play SONG` carried into MIDI as
documented (velocity 0 or below left out, a pitch struck again while it sounds
ended and struck anew, notes sounding at a stop ended there), with a tempo at
tick 0, the song's tempos to the nearest microsecond a quarter, the program
changes, a marker per error and one at a fatal stop, the warning (each count in
it, and nothing else) and stop lines,
play's exit status, and no file from a song that cannot be read.

usage: compare_with_trace.py SONGSIM MAKE_SONGS SONG...
(MAKE_SONGS writes more songs to check into a folder.)
"""
import collections
import os
import re
import subprocess
import sys
import tempfile

import mido

NAMES = ["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"]
NOTE = re.compile(r"(>>>>NOTE ON|<<<<NOTE OFF) ([A-G]#?)(\d+):Track:(\d+)(?:@Vel(-?\d+))?")
TICK_END = "******** Ticks = "
Note = collections.namedtuple("Note", "track channel pitch velocity on off")


def read_trace(text):
    """The channel and patch of each track, the notes, the errors as (tick,
    code) and the tick of the last line (the stop, when playback stopped)."""
    channels, patches, notes, errors = [], [], [], []
    sounding = collections.defaultdict(list)  # (track, pitch): its notes on, oldest first
    tick = 0  # priming is tick 0, and a Ticks line ends its tick
    for line in text.splitlines():
        if match := re.match(r"Chan-Range (\w+)\s+Patch (\w+)$", line):
            channels.append((int(match[1], 16) - 1) & 15)
            patch = int(match[2], 16) & 0xFF
            patches.append(patch - 256 if patch > 127 else patch)
        elif line.startswith("****") and "Play Song" in line:
            tick = 1
        elif match := NOTE.match(line):
            key = (int(match[4]), NAMES.index(match[2]) + 12 * int(match[3]))
            if match[1].endswith("ON"):
                sounding[key].append(Note(key[0], channels[key[0]], key[1], int(match[5]), tick, None))
            elif sounding[key]:  # traced off again after a tie reloaded its slot: ends nothing
                notes.append(sounding[key].pop(0)._replace(off=tick))
        elif match := re.match(r"Error:(\d+)$", line):
            errors.append((tick, int(match[1])))
        if line.startswith(TICK_END):
            tick += 1
    last = tick - 1 if line.startswith(TICK_END) else tick
    notes += [note._replace(off=last) for waiting in sounding.values() for note in waiting]
    return channels, patches, notes, errors, last


def as_midi(notes):
    """The notes as MIDI says them, and how many were silent and struck again."""
    kept = [note for note in notes if note.velocity > 0]
    # At one tick: ends, then starts, then the ends of notes that start there.
    changes = sorted([(n.on, 1, i) for i, n in enumerate(kept)] +
                     [(n.off, 0 if n.off > n.on else 2, i) for i, n in enumerate(kept)])
    count, playing, written, restruck = collections.Counter(), {}, [], 0
    for tick, phase, i in changes:
        key = (kept[i].channel, kept[i].pitch)
        if phase == 1:
            if count[key]:
                written.append(playing[key]._replace(off=tick))
                restruck += 1
            playing[key] = kept[i]
            count[key] += 1
        else:
            count[key] -= 1
            if not count[key]:
                written.append(playing.pop(key)._replace(off=tick))
    return sorted(written), len(notes) - len(kept), restruck


def read_midi(path, channels, patches, tracks):
    """The notes of the file, its layout checked on the way, its error markers and its tempos."""
    midi = mido.MidiFile(path)
    assert midi.type == 1 and midi.ticks_per_beat == 48, "format 1, 48 ticks a quarter"
    assert len(midi.tracks) == 1 + len(tracks), f"{len(midi.tracks) - 1} note tracks for {len(tracks)}"
    assert all(track[-1].type == "end_of_track" for track in midi.tracks), "an end of every track"
    conductor = list(absolute(midi.tracks[0]))
    assert (0, "set_tempo") in [(tick, m.type) for tick, m in conductor], "a tempo at tick 0"
    markers = sorted((tick, int(m.text.split()[1].rstrip(":"))) for tick, m in conductor
                     if m.type == "marker" and m.text.startswith("Error "))
    markers += [(tick, "stop") for tick, m in conductor if m.type == "marker" and m.text.startswith("Stopped: ")]
    tempos = [m.tempo for _, m in conductor if m.type == "set_tempo"]
    notes = []
    for song_track, track in zip(tracks, midi.tracks[1:]):
        programs = [(t, m.channel, m.program) for t, m in absolute(track) if m.type == "program_change"]
        patch = patches[song_track]
        assert programs == ([(0, channels[song_track], patch)] if patch >= 0 else []), f"programs {programs}"
        playing = {}
        for tick, m in absolute(track):
            key = (getattr(m, "channel", None), getattr(m, "note", None))
            if m.type == "note_on" and m.velocity > 0:
                assert key not in playing, f"track {song_track}: {key} struck at {tick} while it sounds"
                playing[key] = Note(song_track, *key, m.velocity, tick, None)
            elif m.type in ("note_on", "note_off"):
                assert key in playing, f"track {song_track}: {key} ended at {tick} but not sounding"
                notes.append(playing.pop(key)._replace(off=tick))
        assert not playing, f"track {song_track}: notes never ended: {playing}"
    return sorted(notes), markers, tempos


def absolute(track):
    tick = 0
    for message in track:
        tick += message.time
        yield tick, message


def count(number, noun):
    return f"{number} {noun}{'' if number == 1 else 's'}"


def check(songsim, song, out):
    play = subprocess.run([songsim, "play", song], capture_output=True, text=True, errors="replace")
    midi = subprocess.run([songsim, "midi", song, "-o", out], capture_output=True, text=True, errors="replace")
    assert midi.returncode == play.returncode, f"midi exit status {midi.returncode}, play {play.returncode}"
    if "Could not open file" in play.stdout:
        assert not os.listdir(os.path.dirname(out)), "files left by a song that cannot be read"
        return "unreadable"
    channels, patches, notes, errors, last = read_trace(play.stdout)
    expected, silent, restruck = as_midi(notes)
    got, markers, tempos = read_midi(out, channels, patches, sorted({note.track for note in notes}))
    tempo_bytes = [int(byte) for byte in re.findall(r"^Tempo = (\d+)$", play.stdout, re.MULTILINE)]
    os.remove(out)
    assert got == expected, f"{len(got)} notes in the file, {len(expected)} in the trace; " \
                            f"first differences {[n for n in got if n not in expected][:2]}, " \
                            f"{[n for n in expected if n not in got][:2]}"
    stop = [(last, "stop")] if play.returncode else []
    assert markers == sorted(errors) + stop, f"markers {markers}, trace {errors} {stop}"
    for number, words in ((silent, " of velocity 0"), (restruck, " struck again")):
        assert (words in midi.stderr) == bool(number), midi.stderr
        assert not number or count(number, "note") + words in midi.stderr, midi.stderr
    # Every tempo as the nearest microseconds a quarter, in the song's order,
    # after the default where the song sets none at tick 0.
    file_tempos = [min(round(60e6 / (byte or 120)), 0xFFFFFF) for byte in tempo_bytes]
    assert tempos in (file_tempos[:len(tempos)], [500000] + file_tempos[:len(tempos) - 1]), \
        f"tempos {tempos[:8]}, in the song {file_tempos[:8]}"
    assert not play.returncode or f"playback stopped at tick {last}:" in midi.stderr, midi.stderr
    return f"{len(got)} notes, {len(errors)} errors" + (", stopped" if play.returncode else "")


def main():
    songsim, make_songs, *songs = sys.argv[1:]
    failures = 0
    with tempfile.TemporaryDirectory() as made, tempfile.TemporaryDirectory() as outputs:
        subprocess.run([make_songs, made], check=True)
        songs += sorted(os.path.join(made, name) for name in os.listdir(made))
        for song in songs:
            try:
                print(f"ok   {song}: {check(songsim, song, os.path.join(outputs, 'out.mid'))}")
            except AssertionError as failure:
                failures += 1
                print(f"FAIL {song}: {failure}")
    print(f"{len(songs) - failures} of {len(songs)} songs match their trace")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
