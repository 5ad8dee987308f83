import sys
from pathlib import Path

from hypothesis import settings, strategies as st

sys.path.insert(0, str(Path(__file__).parent))

# PyPy's emulation of the C API differs where the tests look at the object
# model itself (the README lists each difference); the cubes are the same.
PYPY = sys.implementation.name == "pypy"

settings.register_profile("default", max_examples=200, deadline=None)
# Under emulation (qemu) the same properties with fewer examples: the suite
# there checks the build for its platform, and the full search runs natively.
settings.register_profile("emulated", max_examples=40, deadline=None)
settings.load_profile("default")


def emulated():
    """Whether the suite runs under emulation: the emulated profile is loaded."""
    return settings.default.max_examples == settings.get_profile("emulated").max_examples

FACES = "UDRLFB"
QUARTER_TURNS = [f + s for f in FACES for s in ("", "'")]
FACE_TOKENS = [f + s for f in FACES for s in ("", "'", "2")]

# The method that makes each quarter turn, by token.
METHOD = {f + s: f"do_{f.lower()}{'_prime' if s else ''}_move" for f in FACES for s in ("", "'")}

move_lists = st.lists(st.sampled_from(FACE_TOKENS), max_size=40)


def snapshot(cube):
    """What Python can see of a cube: its corner word and its net."""
    word = cube.corners if hasattr(cube, "corners") else cube.state
    return word, str(cube)


def apply_methods(cube, moves):
    """Applies tokens as single quarter-turn method calls."""
    for move in moves:
        name = METHOD[move[0] + ("'" if move.endswith("'") else "")]
        for _ in range(2 if move.endswith("2") else 1):
            getattr(cube, name)()
