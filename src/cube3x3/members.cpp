// The Python face of Cube3x3: its member table, in the order Python lists it.
#include "members.hpp"

#include "../binding.hpp"
#include "binary.hpp"
#include "moves.hpp"
#include "notation.hpp"
#include "render.hpp"

namespace turnwheel {

using cube3x3::corner_turn;
using cube3x3::edge_turn;
using cube3x3::whole_turn;
using enum cube3x3::Move;
using T = Cube3x3Traits;

template <FixedString Name, auto Operation>
PyMethodDef edge_cycle_method() {
    return arguments_method<T, Name, Operation, U64Parameter<"i0">, U64Parameter<"i1">, U64Parameter<"i2">,
                            U64Parameter<"i3">, U64Parameter<"ori">>();
}

PyMethodDef Cube3x3Traits::methods[] = {
    edge_cycle_method<"rotate_edges", cube3x3::rotate_edges>(),
    edge_cycle_method<"rotate_edges_prime", cube3x3::rotate_edges_prime>(),
    turn_method<T, "do_u_move_corners", corner_turn<U>>(),
    turn_method<T, "do_u_move_edges", edge_turn<U>>(),
    turn_method<T, "do_u_move", whole_turn<U>>(),
    turn_method<T, "do_u_prime_move_corners", corner_turn<UPrime>>(),
    turn_method<T, "do_u_prime_move_edges", edge_turn<UPrime>>(),
    turn_method<T, "do_u_prime_move", whole_turn<UPrime>>(),
    turn_method<T, "do_d_move_corners", corner_turn<D>>(),
    turn_method<T, "do_d_move_edges", edge_turn<D>>(),
    turn_method<T, "do_d_move", whole_turn<D>>(),
    turn_method<T, "do_d_prime_move_corners", corner_turn<DPrime>>(),
    turn_method<T, "do_d_prime_move_edges", edge_turn<DPrime>>(),
    turn_method<T, "do_d_prime_move", whole_turn<DPrime>>(),
    turn_method<T, "do_r_move_corners", corner_turn<R>>(),
    turn_method<T, "do_r_move", whole_turn<R>>(),
    turn_method<T, "do_r_prime_move_corners", corner_turn<RPrime>>(),
    turn_method<T, "do_r_prime_move", whole_turn<RPrime>>(),
    turn_method<T, "do_l_move_corners", corner_turn<L>>(),
    turn_method<T, "do_l_move", whole_turn<L>>(),
    turn_method<T, "do_l_prime_move_corners", corner_turn<LPrime>>(),
    turn_method<T, "do_l_prime_move", whole_turn<LPrime>>(),
    turn_method<T, "do_f_move_corners", corner_turn<F>>(),
    turn_method<T, "do_f_move", whole_turn<F>>(),
    turn_method<T, "do_f_prime_move_corners", corner_turn<FPrime>>(),
    turn_method<T, "do_f_prime_move", whole_turn<FPrime>>(),
    turn_method<T, "do_b_move_corners", corner_turn<B>>(),
    turn_method<T, "do_b_move", whole_turn<B>>(),
    turn_method<T, "do_b_prime_move_corners", corner_turn<BPrime>>(),
    turn_method<T, "do_b_prime_move", whole_turn<BPrime>>(),
    text_method<T, "to_binary", cube3x3::to_binary<T::State>>(),
    arguments_method<T, "do_moves", cube3x3::do_moves, TextParameter<"moves">>(),
    kEndOfMethods,
};

PyGetSetDef Cube3x3Traits::getset[] = {
    getter<T, "corners", cube3x3::corner_word<T::State>>(),
    kEndOfGetSet,
};

PyObject* Cube3x3Traits::str(PyObject* self) { return read_wrapper<T, cube3x3::render>(self); }

}  // namespace turnwheel
