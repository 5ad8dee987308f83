# Checked by tools/typecheck.sh with mypy and pyright, never run: each line
# marked "error" must be reported, and nothing else.
from turnwheel import Cube2x2, Cube3x3

big = Cube3x3()
small = Cube2x2()
corners: int = big.corners
state: int = small.state
binary: str = big.to_binary() + small.to_binary()
net: str = str(big) + str(small)
big.rotate_edges(0, 5, 10, 15, ori=True)
big.rotate_edges_prime(i0=0, i1=5, i2=10, i3=15, ori=0)
big.do_moves("R U R' U'")
small.do_moves(moves="F2")
big.do_u_move_corners()
small.do_b_prime_move()

big.do_moves(5)  # error
big.corners = 3  # error
small.rotate_edges(0, 5, 10, 15, 0)  # error
big.rotate_edges(0, 5, 10, 15)  # error
big.rotate_edges(0.5, 5, 10, 15, 0)  # error
Cube3x3(1)  # error

import numpy as np
import turnwheel_batch as tb

states = tb.solved(4)
moved = tb.apply(states, "R U", threads=2)
children = tb.children(moved, [0, 5], out=np.empty((4, 2, 2), np.uint64))
walks, codes = tb.scramble(10, 20, size=2, seed=np.random.default_rng(1))
index: np.ndarray = tb.corner_index(walks) + tb.edge_index(states, (0, 3))
colours = tb.facelets(states, one_hot=True)
text: str = tb.move_text(codes[0])
tb.apply(states, "R", out=states, threads=None)

tb.apply(states)  # error
tb.move_codes(5)  # error
tb.scramble(10, 20, 3)  # error
