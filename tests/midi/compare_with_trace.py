#!/usr/bin/python3
"""songsim's MIDI files, read back by mido, hold what the trace says was played.

For every song: `songsim play SONG` prints the trace and `songsim midi SONG -o
OUT.mid` writes the file, which mido (an independent MIDI reader) reads back.
The notes in the file (track, channel, pitch, velocity, start and end tick)
must be the trace's NOTE ON and NOTE OFF lines, carried into MIDI the way the
export documents: a note of velocity 0 or below is left out; a pitch struck
again on its channel while it sounds is ended and struck anew, and let go when
the last of its notes ends; a note still sounding when playback stops ends at
the stop. Also: a tempo at tick 0, one program change per track for a patch
that is not negative, a marker at the tick of every error, the warning and
stop lines on standard error, the exit status of play, and no file at all
from a song that cannot be read.

usage: compare_with_trace.py SONGSIM MAKE_SONGS SONGGEN SONG...
MAKE_SONGS writes the hand-built songs and SONGGEN generated songs into a
temporary folder; they are checked with the SONGs given.
"""
import collections
import os
import re
import subprocess
import sys
import tempfile

import mido

NOTE_NAMES = ["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"]
NOTE_ON = re.compile(r">>>>NOTE ON ([A-G]#?)(\d+):Track:(\d+)@Vel(-?\d+)$")
NOTE_OFF = re.compile(r"<<<<NOTE OFF ([A-G]#?)(\d+):Track:(\d+):EVent=")
HEADER = re.compile(r"Chan-Range (\w+)\s+Patch (\w+)$")
ERROR = re.compile(r"Error:(\d+)$")
TICK_END = "******** Ticks = "
PLAY_BANNER = "Play Song"

Note = collections.namedtuple("Note", "track channel pitch velocity on off")


def signed_byte(hex_text):
    value = int(hex_text, 16) & 0xFF
    return value - 256 if value >= 128 else value


class Trace:
    """What `songsim play` printed: the tracks' channels and patches, the
    notes from NOTE ON to NOTE OFF, the errors, and the tick of the last line
    (the stop, when playback stopped)."""

    def __init__(self, text):
        self.channels, self.patches = [], []
        self.notes, self.errors = [], []
        sounding = collections.defaultdict(list)  # (track, pitch) -> notes on, oldest first
        tick = 0  # priming is tick 0; a Ticks line ends its tick
        for line in text.splitlines():
            if match := HEADER.match(line):
                self.channels.append((signed_byte(match[1]) - 1) & 15)
                self.patches.append(signed_byte(match[2]))
            elif PLAY_BANNER in line and line.startswith("****"):
                tick = 1
            elif match := NOTE_ON.match(line):
                track, pitch = int(match[3]), NOTE_NAMES.index(match[1]) + 12 * int(match[2])
                sounding[track, pitch].append(
                    Note(track, self.channels[track], pitch, int(match[4]), tick, None))
            elif match := NOTE_OFF.match(line):
                # A note continued by a tie after its NOTE OFF is traced off
                # again: that second line ends nothing.
                on = sounding[int(match[3]), NOTE_NAMES.index(match[1]) + 12 * int(match[2])]
                if on:
                    self.notes.append(on.pop(0)._replace(off=tick))
            elif match := ERROR.match(line):
                self.errors.append((tick, int(match[1])))
            if line.startswith(TICK_END):
                tick += 1
        self.last_tick = tick - 1 if text.splitlines()[-1].startswith(TICK_END) else tick
        self.notes += [note._replace(off=self.last_tick) for notes in sounding.values() for note in notes]


def as_midi(notes):
    """The notes as MIDI says them, and how many were silent or struck again."""
    silent = sum(1 for note in notes if note.velocity <= 0)
    notes = [note for note in notes if note.velocity > 0]
    # At one tick: ends, then starts, then the ends of notes that start there.
    changes = sorted([(n.on, 1, i) for i, n in enumerate(notes)] +
                     [(n.off, 0 if n.off > n.on else 2, i) for i, n in enumerate(notes)])
    count = collections.Counter()
    playing = {}
    written, restruck = [], 0
    for tick, phase, i in changes:
        key = (notes[i].channel, notes[i].pitch)
        if phase == 1:
            if count[key]:
                written.append(playing[key]._replace(off=tick))
                restruck += 1
            playing[key] = notes[i]._replace(on=tick)
            count[key] += 1
        else:
            count[key] -= 1
            if not count[key]:
                written.append(playing.pop(key)._replace(off=tick))
    return sorted(written), silent, restruck


def read_midi(path, trace):
    """The notes of the file, checking its layout on the way."""
    midi = mido.MidiFile(path)
    assert midi.type == 1 and midi.ticks_per_beat == 48, "format 1, 48 ticks per quarter"
    sounded = sorted({note.track for note in trace.notes})
    assert len(midi.tracks) == 1 + len(sounded), f"{len(midi.tracks) - 1} note tracks, {len(sounded)} tracks sounded"
    for track in midi.tracks:
        assert track[-1].type == "end_of_track", "every track ends with its end of track"
    conductor = list(absolute(midi.tracks[0]))
    assert any(tick == 0 and m.type == "set_tempo" for tick, m in conductor), "a tempo at tick 0"
    markers = sorted((tick, int(m.text.split()[1].rstrip(":"))) for tick, m in conductor
                     if m.type == "marker" and m.text.startswith("Error "))
    assert markers == sorted(trace.errors), f"error markers {markers}, trace {trace.errors}"
    notes = []
    for song_track, track in zip(sounded, midi.tracks[1:]):
        programs = [(tick, m.channel, m.program) for tick, m in absolute(track) if m.type == "program_change"]
        patch = trace.patches[song_track]
        expected = [(0, trace.channels[song_track], patch)] if patch >= 0 else []
        assert programs == expected, f"track {song_track}: programs {programs}, expected {expected}"
        playing = {}
        for tick, message in absolute(track):
            key = (getattr(message, "channel", None), getattr(message, "note", None))
            if message.type == "note_on" and message.velocity > 0:
                assert key not in playing, f"track {song_track}: {key} struck at {tick} while it sounds"
                playing[key] = Note(song_track, *key, message.velocity, tick, None)
            elif message.type in ("note_on", "note_off"):
                assert key in playing, f"track {song_track}: {key} ended at {tick} but not sounding"
                notes.append(playing.pop(key)._replace(off=tick))
        assert not playing, f"track {song_track}: notes never ended: {playing}"
    return sorted(notes)


def absolute(track):
    tick = 0
    for message in track:
        tick += message.time
        yield tick, message


def plural(count, noun):
    return f"{count} {noun}{'' if count == 1 else 's'}"


def check(songsim, song, folder):
    play = subprocess.run([songsim, "play", song], capture_output=True, text=True, errors="replace")
    out = os.path.join(folder, "out.mid")
    if os.path.exists(out):
        os.remove(out)
    midi = subprocess.run([songsim, "midi", song, "-o", out], capture_output=True, text=True, errors="replace")
    assert midi.returncode == play.returncode, f"midi exit status {midi.returncode}, play {play.returncode}"
    if "Could not open file" in play.stdout:
        assert not os.listdir(folder), f"files left by a song that cannot be read: {os.listdir(folder)}"
        return "unreadable"
    trace = Trace(play.stdout)
    expected, silent, restruck = as_midi(trace.notes)
    got = read_midi(out, trace)
    missing = [n for n in expected if n not in got][:3]
    extra = [n for n in got if n not in expected][:3]
    assert got == expected, f"{len(got)} notes in the file, {len(expected)} in the trace; " \
                            f"missing {missing}, not in the trace {extra}"
    if silent:
        assert plural(silent, "note") + " of velocity 0" in midi.stderr, midi.stderr
    if restruck:
        assert plural(restruck, "note") + " struck again" in midi.stderr, midi.stderr
    if play.returncode:
        assert f"playback stopped at tick {trace.last_tick}:" in midi.stderr, midi.stderr
    return f"{len(got)} notes, {len(trace.errors)} errors" + (", stopped" if play.returncode else "")


def main():
    songsim, make_songs, songgen, *songs = sys.argv[1:]
    failures = 0
    with tempfile.TemporaryDirectory() as songs_folder, tempfile.TemporaryDirectory() as out_folder:
        subprocess.run([make_songs, songs_folder], check=True)
        for seed in range(1, 4):
            subprocess.run([songgen, "--events", "3000", "--seed", str(seed),
                            os.path.join(songs_folder, f"generated_{seed}.sng")], check=True, capture_output=True)
        songs += sorted(os.path.join(songs_folder, name) for name in os.listdir(songs_folder))
        for song in songs:
            try:
                print(f"ok   {song}: {check(songsim, song, out_folder)}")
            except AssertionError as failure:
                failures += 1
                print(f"FAIL {song}: {failure}")
    print(f"{len(songs) - failures} of {len(songs)} songs match their trace")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
