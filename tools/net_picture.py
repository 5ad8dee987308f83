"""Draws the README's picture of the coloured nets from the module's own str().

    python3 -m pip install ".[docs]" && python3 tools/net_picture.py docs/nets.svg

rich parses the ANSI colour sequences exactly as a terminal would and
exports what it would show as SVG.
"""

import sys

from rich.console import Console
from rich.text import Text

from turnwheel import Cube2x2, Cube3x3

MOVES = "R U R' U'"


def main(path: str) -> None:
    console = Console(record=True, width=60, file=open("/dev/null", "w"), color_system="256", force_terminal=True)
    big, small = Cube3x3(), Cube2x2()
    big.do_moves(MOVES)
    small.do_moves(MOVES)
    console.print(Text.from_ansi(f"Cube3x3 after {MOVES}\n\n" + str(big)))
    console.print(Text.from_ansi(f"Cube2x2 after {MOVES}\n\n" + str(small)))
    console.save_svg(path, title="turnwheel")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "docs/nets.svg")
