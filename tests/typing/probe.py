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
