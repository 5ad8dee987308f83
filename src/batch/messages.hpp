// Every exception turnwheel_batch raises of its own is built here, so that
// each message text lives in one place. A message begins with the call
// ("apply(): ") and names the argument and what it must be.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

#include "../cube3x3/positions.hpp"

namespace turnwheel::batch {

struct Call;
struct Shape;
struct TypeName;
enum class Element : std::uint8_t;

namespace messages {

void numpy_missing();
void sub_interpreters_unsupported();

// Arrays.
void not_an_array(const Call& call, const char* name, PyObject* object);
void too_many_dimensions(const Call& call, const char* name, int dimensions);
void foreign_byte_order(const Call& call, const char* name);
void wrong_element(const Call& call, const char* name, const TypeName& found, const char* expected);
void wrong_shape(const Call& call, const char* name, const Shape& found, const char* expected);
void wrong_out_shape(const Call& call, const Shape& found, const Shape& expected);
void read_only_out(const Call& call);
void not_states(const Call& call, const char* name, const Shape& found);
void not_3x3_states(const Call& call, const char* name, const Shape& found);
void codes_do_not_match(const Call& call, std::size_t codes, std::size_t states);

// Values in arrays: the first bad row is named.
void not_a_move_code(const Call& call, const char* name, std::size_t row, PyObject* value);
void index_out_of_range(const Call& call, const char* name, std::size_t row, PyObject* value, std::uint64_t count);
void not_a_position(const Call& call, const char* name, std::size_t row, bool edges, const cube3x3::PositionFlaw& flaw);

// Other arguments.
void not_an_int(const Call& call, const char* name, PyObject* object);
void negative(const Call& call, const char* name, long long value);
void not_a_size(const Call& call, PyObject* object);
void not_a_thread_count(const Call& call, PyObject* object);
void not_moves(const Call& call, const char* name, PyObject* object);
void not_a_str(const Call& call, const char* name, PyObject* object);
void not_an_edge_pattern(const Call& call, PyObject* object);
void not_a_flag(const Call& call, const char* name, PyObject* object);
void too_large(const Call& call, const char* what);
void not_a_pattern(const Call& call, const char* name, PyObject* object);
void bad_range(const Call& call, std::uint64_t begin, std::uint64_t end, std::uint64_t size);
void wrong_bitmap(const Call& call, const char* name, std::size_t found, std::uint64_t bytes, std::uint64_t size);

}  // namespace messages
}  // namespace turnwheel::batch
