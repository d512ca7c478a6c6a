"""Reads a picture written by `songsim draw` with an XML parser and prints
what it shows, one line each, for the tests to compare with the trace:

    title TEXT
    note TRACK NOTE ON OFF VELOCITY     (and "rest ..." the same)
    error CODE TICK
    stop TICK REASON

An HTML page is read through the SVG it holds, which must be well-formed
XML too. Fails (status 1) when the file does not parse, or when a note,
rest, error or stop has no tooltip or a data attribute that is not a number.
"""
import sys
import xml.etree.ElementTree as ElementTree

SVG = "{http://www.w3.org/2000/svg}"
DATA = {"note": ("data-track", "data-note", "data-on", "data-off", "data-vel"),
        "rest": ("data-track", "data-note", "data-on", "data-off", "data-vel"),
        "error": ("data-code", "data-tick"),
        "stop": ("data-tick",)}


def picture_root(path):
    with open(path, encoding="utf-8") as file:
        text = file.read()
    if path.lower().endswith((".html", ".htm")):
        text = text[text.index("<svg"):text.index("</svg>") + len("</svg>")]
    return ElementTree.fromstring(text)


def main(path):
    root = picture_root(path)
    print("title", "".join(root.find(f"{SVG}text[@class='title']").itertext()))
    for element in root.iter():
        classes = element.get("class", "").split()
        kind = next((name for name in DATA if name in classes), None)
        if kind is None:
            continue
        if element.find(f"{SVG}title") is None:
            sys.exit(f"a {kind} without a tooltip")
        values = [element.get(name, "") for name in DATA[kind]]
        if not all(value.lstrip("-").isdigit() for value in values):
            sys.exit(f"a {kind} with data {values}")
        if kind == "stop":
            values.append(element.get("data-reason"))
        print(kind, *values)


if __name__ == "__main__":
    main(sys.argv[1])
