"""An independent model of the cube for the tests: stickers in 3-D space.

Every sticker is a position (the centre of its cubie) and an outward normal.
A quarter turn of a face rotates the position and the normal of every
sticker in that layer by 90 degrees clockwise, as seen facing the face.
The net is read off the model by laying each face out as it is printed,
so nothing here restates the library's slot or facelet tables.
"""

import re

FACES = {
    "U": (0, 1, 0),
    "D": (0, -1, 0),
    "R": (1, 0, 0),
    "L": (-1, 0, 0),
    "F": (0, 0, 1),
    "B": (0, 0, -1),
}
COLOURS = {"U": "W", "D": "Y", "R": "R", "L": "O", "F": "G", "B": "B"}

# How each face is laid out in the printed net: the direction that points
# up on the page and the one that points right.
LAYOUT = {
    "U": ((0, 0, -1), (1, 0, 0)),
    "L": ((0, 1, 0), (0, 0, 1)),
    "F": ((0, 1, 0), (1, 0, 0)),
    "R": ((0, 1, 0), (0, 0, -1)),
    "B": ((0, 1, 0), (-1, 0, 0)),
    "D": ((0, 0, 1), (1, 0, 0)),
}


def add(*vectors):
    return tuple(sum(components) for components in zip(*vectors))


def scale(k, v):
    return tuple(k * x for x in v)


def dot(a, b):
    return sum(x * y for x, y in zip(a, b))


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def clockwise(axis, v):
    """v rotated by -90 degrees about the outward axis (Rodrigues)."""
    return add(scale(-1, cross(axis, v)), scale(dot(axis, v), axis))


class CubeModel:
    """A cube of size 2 or 3 as a set of coloured stickers."""

    def __init__(self, size=3):
        self.size = size
        coords = (-1, 0, 1) if size == 3 else (-1, 1)
        self.stickers = {}
        for x in coords:
            for y in coords:
                for z in coords:
                    position = (x, y, z)
                    for face, normal in FACES.items():
                        if dot(position, normal) == 1:
                            self.stickers[(position, normal)] = COLOURS[face]

    def turn(self, face, quarter_turns=1):
        axis = FACES[face]
        for _ in range(quarter_turns % 4):
            self.stickers = {
                ((clockwise(axis, p), clockwise(axis, n)) if dot(p, axis) == 1 else (p, n)): colour
                for (p, n), colour in self.stickers.items()
            }

    def apply(self, moves):
        """Applies a list of tokens of the form "U", "U'" and "U2"."""
        for move in moves:
            self.turn(move[0], {"": 1, "'": 3, "2": 2}[move[1:]])

    def face(self, name):
        """The face as printed: rows top to bottom, letters left to right."""
        normal = FACES[name]
        up, right = LAYOUT[name]
        steps = (1, 0, -1) if self.size == 3 else (1, -1)
        return [
            [self.stickers[(add(normal, scale(row, up), scale(-col, right)), normal)] for col in steps]
            for row in steps
        ]

    def net(self):
        return {name: self.face(name) for name in FACES}


# Every character with the Unicode White_Space property: what separates the
# tokens of a move string.
SEPARATORS = [chr(c) for c in [*range(0x09, 0x0E), 0x20, 0x85, 0xA0, 0x1680, *range(0x2000, 0x200B),
                               0x2028, 0x2029, 0x202F, 0x205F, 0x3000]]


def split_tokens(text):
    """The tokens of a move string: maximal runs of non-separators."""
    tokens, current = [], ""
    for ch in text:
        if ch in SEPARATORS:
            if current:
                tokens.append(current)
            current = ""
        else:
            current += ch
    return tokens + ([current] if current else [])


ESCAPE = re.compile(r"\x1b\[[0-9;]*m")


def parse_net(text, size=3):
    """Colour letters of a printed net, face by face, rows top to bottom."""
    lines = ESCAPE.sub("", text).split("\n")
    assert lines[-1] == ""
    lines = [line.split() for line in lines[:-1]]
    assert len(lines) == 3 * size
    band = lines[size : 2 * size]
    faces = {"U": lines[:size], "D": lines[2 * size :]}
    for i, name in enumerate("LFRB"):
        faces[name] = [row[i * size : (i + 1) * size] for row in band]
    return faces
