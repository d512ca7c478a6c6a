#!/usr/bin/python3
"""Writes a MIDI file of NOTES notes in four tracks (melody, bass, chords, drums),
on a 16th grid with a tempo change every 64 measures: make_big_midi.py NOTES OUT.mid"""
import random
import sys

import mido

notes, path = int(sys.argv[1]), sys.argv[2]
rng = random.Random(1)
midi = mido.MidiFile(ticks_per_beat=480)
conductor = mido.MidiTrack([mido.MetaMessage("track_name", name="Big", time=0),
                            mido.MetaMessage("time_signature", numerator=4, denominator=4, time=0)])
midi.tracks.append(conductor)
per_track = notes // 4
last = 0
for measure in range(0, per_track // 8 + 64, 64):
    tick = measure * 4 * 480
    conductor.append(mido.MetaMessage("set_tempo", tempo=rng.choice([400000, 500000, 600000]), time=tick - last))
    last = tick
for t, (channel, low, high, steps) in enumerate([(0, 60, 84, (1, 2, 4)), (1, 36, 48, (4, 8)),
                                                 (2, 52, 72, (2, 4)), (9, 35, 50, (1, 2))]):
    track = mido.MidiTrack([mido.MetaMessage("track_name", name=f"Track {t}", time=0),
                            mido.Message("program_change", channel=channel, program=t * 8, time=0)])
    events, at = [], 0
    for _ in range(per_track):
        length = 120 * rng.choice(steps)
        pitch = rng.randint(low, high)
        events += [(at, 1, pitch, rng.randint(40, 120)), (at + length, 0, pitch, 0)]
        at += length
    events.sort()
    now = 0
    for tick, on, pitch, velocity in events:
        track.append(mido.Message("note_on" if on else "note_off", channel=channel, note=pitch,
                                  velocity=velocity, time=tick - now))
        now = tick
    midi.tracks.append(track)
midi.save(path)
