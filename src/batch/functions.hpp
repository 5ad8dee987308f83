// turnwheel_batch's functions, each taking its converted arguments
// (converters.hpp) and returning a new reference, or null with an exception
// set and nothing written.
#pragma once

#include <Python.h>

#include <cstddef>

#include "converters.hpp"

namespace turnwheel::batch {

PyObject* solved(const Call& call, const std::size_t& n, const unsigned& words);
PyObject* apply(const Call& call, States& states, Moves& moves, PyObject* const& out, const unsigned& threads);
PyObject* step(const Call& call, States& states, Integers& codes, PyObject* const& out, const unsigned& threads);
PyObject* children(const Call& call, States& states, Moves& moves, PyObject* const& out, const unsigned& threads);
PyObject* scramble(const Call& call, const std::size_t& n, const std::size_t& length, const unsigned& words,
                   PyObject* const& seed, const unsigned& threads);
PyObject* corner_index(const Call& call, States& states, const unsigned& threads);
PyObject* corner_words(const Call& call, Integers& index, const unsigned& threads);
PyObject* edge_index(const Call& call, States& states, const cube3x3::EdgePattern& edges, const unsigned& threads);
PyObject* edge_words(const Call& call, Integers& index, const cube3x3::EdgePattern& edges, const unsigned& threads);
PyObject* facelets(const Call& call, States& states, const bool& one_hot, const unsigned& threads);
PyObject* is_solved(const Call& call, States& states, const unsigned& threads);
PyObject* inverse(const Call& call, States& states, PyObject* const& out, const unsigned& threads);
PyObject* move_codes(const Call& call, TextArgument::type& text);
PyObject* move_text(const Call& call, Integers& codes);
PyObject* pattern_size(const Call& call, const Pattern& pattern);
PyObject* next_level(const Call& call, Bitmap& frontier, Bitmap& seen, const Pattern& pattern, const std::size_t& begin,
                     const std::size_t& end, const bool& backward, PyObject* const& out, const unsigned& threads);

}  // namespace turnwheel::batch
