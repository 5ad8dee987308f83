// The Python face of Cube2x2: its member table, in the order Python lists it.
#include "members.hpp"

#include "../binding.hpp"
#include "../cube3x3/binary.hpp"
#include "render.hpp"

namespace turnwheel {

using cube2x2::turn;
using enum cube2x2::Move;
using T = Cube2x2Traits;

PyMethodDef Cube2x2Traits::methods[] = {
    turn_method<T, "do_u_move", turn<U>>(),
    turn_method<T, "do_u_prime_move", turn<UPrime>>(),
    turn_method<T, "do_d_move", turn<D>>(),
    turn_method<T, "do_d_prime_move", turn<DPrime>>(),
    turn_method<T, "do_r_move", turn<R>>(),
    turn_method<T, "do_r_prime_move", turn<RPrime>>(),
    turn_method<T, "do_l_move", turn<L>>(),
    turn_method<T, "do_l_prime_move", turn<LPrime>>(),
    turn_method<T, "do_f_move", turn<F>>(),
    turn_method<T, "do_f_prime_move", turn<FPrime>>(),
    turn_method<T, "do_b_move", turn<B>>(),
    turn_method<T, "do_b_prime_move", turn<BPrime>>(),
    text_method<T, "to_binary", cube3x3::to_binary<T::State>>(),
    arguments_method<T, "do_moves", cube2x2::do_moves, TextParameter<"moves">>(),
    kEndOfMethods,
};

PyGetSetDef Cube2x2Traits::getset[] = {
    getter<T, "state", cube3x3::corner_word<T::State>>(),
    kEndOfGetSet,
};

PyObject* Cube2x2Traits::str(PyObject* self) { return read_wrapper<T, cube2x2::render>(self); }

}  // namespace turnwheel
