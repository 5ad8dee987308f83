// The arguments of turnwheel_batch's functions, converted and checked: the
// converters of binding.hpp, one for each kind of parameter.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

#include "../cube3x3/positions.hpp"
#include "../move_text.hpp"
#include "arrays.hpp"

namespace turnwheel::batch {

// An array of states: (n, 2) words for 3x3 cubes, (n,) for 2x2 ones, each
// uint64 (or int64: no word of a cube reaches bit 63).
struct States {
    ArrayIn array;
    std::size_t n = 0;
    unsigned words = 2;  // a state's words: 2 for the 3x3, 1 for the 2x2

    const std::uint64_t* data() const { return array.as<std::uint64_t>(); }
    bool is_3x3() const { return words == 2; }
};

struct StatesArgument {
    using type = States;
    static bool convert(const Call& call, const char* name, PyObject* given, States& out);
};

// A one-dimensional array of integers of any width (move codes, indexes),
// whose values the function checks.
struct Integers {
    ArrayIn array;
    std::size_t n = 0;
};

struct IntegersArgument {
    using type = Integers;
    static bool convert(const Call& call, const char* name, PyObject* given, Integers& out);
};

// Moves: a move string (the notation of do_moves), or move codes; absent
// (null) where the argument is optional and not given.
struct Moves {
    bool given = false;
    bool is_text = false;
    PyObject* text_object = nullptr;  // borrowed: the argument
    MoveText text;
    Integers codes;
};

struct MovesArgument {
    using type = Moves;
    static bool convert(const Call& call, const char* name, PyObject* given, Moves& out);
};

// A str, read in place.
struct TextArgument {
    struct type {
        PyObject* object = nullptr;
        MoveText text;
    };
    static bool convert(const Call& call, const char* name, PyObject* given, type& out);
};

// `out=`: None or absent, or the array to write the result into.
struct OutArgument {
    using type = PyObject*;  // borrowed, or null
    static bool convert(const Call& call, const char* name, PyObject* given, PyObject*& out);
};

// `threads=`: None or absent for every core (0), else a count of 1 or more.
struct ThreadsArgument {
    using type = unsigned;
    static bool convert(const Call& call, const char* name, PyObject* given, unsigned& out);
};

// A count of 0 or more (states, moves).
struct CountArgument {
    using type = std::size_t;
    static bool convert(const Call& call, const char* name, PyObject* given, std::size_t& out);
};

// `size=`: the cube's edge length, 3 (the default) or 2; as a state's words.
struct SizeArgument {
    using type = unsigned;
    static bool convert(const Call& call, const char* name, PyObject* given, unsigned& out);
};

// `seed=`: None (fresh entropy), an int or a numpy.random.Generator, kept
// as given for numpy.random.default_rng.
struct SeedArgument {
    using type = PyObject*;
    static bool convert(const Call& call, const char* name, PyObject* given, PyObject*& out);
};

// A bool, false when absent.
struct FlagArgument {
    using type = bool;
    static bool convert(const Call& call, const char* name, PyObject* given, bool& out);
};

// `edges=`: a pattern of edge pieces: a count k for pieces 0 to k - 1 (7
// when absent), or a sequence of distinct piece ids.
struct EdgePatternArgument {
    using type = cube3x3::EdgePattern;
    static bool convert(const Call& call, const char* name, PyObject* given, cube3x3::EdgePattern& out);
};

// `pattern=`: the corners ("corners", the default), or a pattern of edges as
// `edges=` takes it.
struct Pattern {
    bool corners = true;
    cube3x3::EdgePattern edges{};
};
std::uint64_t size_of(const Pattern& pattern);

struct PatternArgument {
    using type = Pattern;
    static bool convert(const Call& call, const char* name, PyObject* given, Pattern& out);
};

// A bitmap of a pattern's index space: one-dimensional uint8, bit i in bit
// i % 8 of byte i / 8 (numpy.packbits with bitorder="little").
struct Bitmap {
    ArrayIn array;
};

struct BitmapArgument {
    using type = Bitmap;
    static bool convert(const Call& call, const char* name, PyObject* given, Bitmap& out);
};

// `end=`: a position, or None (absent) for the end of the index space.
inline constexpr std::size_t kToTheEnd = ~std::size_t{0};
struct EndArgument {
    using type = std::size_t;
    static bool convert(const Call& call, const char* name, PyObject* given, std::size_t& out);
};

}  // namespace turnwheel::batch
