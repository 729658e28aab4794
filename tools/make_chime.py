#!/usr/bin/env python3
"""Synthesises check.wav: a short two-note chime, the tool's change alert.

Two soft bell tones a fourth apart (E6 then A6), each a sine with a little of
its octave and a quick attack and exponential decay: about 0.7 s of 16-bit
mono PCM at 22,050 Hz. Deterministic, so the same file comes out every time.
"""
import math
import struct
import sys
import wave

RATE = 22050
NOTES = [(1318.51, 0.00), (1760.00, 0.16)]  # frequency (Hz), start (s)
LENGTH_S = 0.72
PEAK = 0.55


def sample(t):
    value = 0.0
    for freq, start in NOTES:
        u = t - start
        if u < 0:
            continue
        attack = min(1.0, u / 0.006)
        decay = math.exp(-u * 6.5)
        tone = math.sin(2 * math.pi * freq * u) + 0.25 * math.sin(4 * math.pi * freq * u)
        value += attack * decay * tone
    fade = min(1.0, (LENGTH_S - t) / 0.05)  # no click at the end
    return PEAK * value * fade / 1.25


def main(path):
    frames = bytearray()
    for i in range(int(RATE * LENGTH_S)):
        v = max(-1.0, min(1.0, sample(i / RATE)))
        frames += struct.pack("<h", int(round(v * 32767)))
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(bytes(frames))


if __name__ == "__main__":
    main(sys.argv[1])
