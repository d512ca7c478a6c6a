"""Reads a picture written by `songsim draw` with an XML parser and prints
what it shows, one fact a line, for the tests to compare with the trace:

    title TEXT
    subtitle TEXT                  the measures and ticks drawn
    slots N                        the most slots in use the graph shows
    start TRACK NAME ON VELOCITY   a note (named as the trace names it)
    end TRACK NAME OFF
    span ON OFF TRACK NAME ON VELOCITY
    rest TRACK ON OFF
    error CODE TICK
    stop TICK

An HTML page is read through the SVG it holds, which must be well-formed
XML too. Fails when the file does not parse, or when a note, rest, error or
stop has no tooltip or a data attribute that is not a number.
"""
import re
import sys
import xml.etree.ElementTree as ElementTree

SVG = "{http://www.w3.org/2000/svg}"
NAMES = ["C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"]
NOTE = ("data-track", "data-note", "data-on", "data-off", "data-vel")
DATA = {"note": NOTE, "rest": NOTE, "error": ("data-code", "data-tick"), "stop": ("data-tick",)}


def picture_root(path):
    with open(path, encoding="utf-8") as file:
        text = file.read()
    if path.lower().endswith((".html", ".htm")):
        text = text[text.index("<svg"):text.index("</svg>") + len("</svg>")]
    return ElementTree.fromstring(text)


def facts(element, kind):
    if element.find(f"{SVG}title") is None:
        sys.exit(f"a {kind} without a tooltip")
    values = [element.get(name, "") for name in DATA[kind]]
    if not all(value.lstrip("-").isdigit() for value in values):
        sys.exit(f"a {kind} with data {values}")
    if kind == "note":
        track, note, on, off, velocity = values
        name = NAMES[int(note) % 12] + str(int(note) // 12)
        return [f"start {track} {name} {on} {velocity}", f"end {track} {name} {off}",
                f"span {on} {off} {track} {name} {on} {velocity}"]
    if kind == "rest":
        return [f"rest {values[0]} {values[2]} {values[3]}"]
    return [" ".join([kind] + values)]


def main(path):
    root = picture_root(path)
    print("title", "".join(root.find(f"{SVG}text[@class='title']").itertext()))
    print("subtitle", "".join(root.find(f"{SVG}text[@class='subtitle']").itertext()))
    graph = root.find(f"{SVG}path[@class='slots']/{SVG}title").text
    print("slots", re.search(r"at most (\d+) here", graph)[1])
    for element in root.iter():
        classes = element.get("class", "").split()
        for kind in DATA:
            if kind in classes:
                print(*facts(element, kind), sep="\n")


if __name__ == "__main__":
    main(sys.argv[1])
