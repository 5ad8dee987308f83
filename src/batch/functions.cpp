#include "functions.hpp"

#include <atomic>
#include <cstring>
#include <type_traits>

#include "../arguments.hpp"
#include "../cube2x2/render.hpp"
#include "../cube3x3/notation.hpp"
#include "../cube3x3/positions.hpp"
#include "../cube3x3/render.hpp"
#include "../cube3x3/token_rows.hpp"
#include "../engine/engine.hpp"
#include "../engine/random_walk.hpp"
#include "messages.hpp"
#include "names.hpp"
#include "parallel.hpp"

namespace turnwheel::batch {
namespace {

using cube3x3::kMoveCodes;
using cube3x3::TokenRow;

// ---- Running over rows ------------------------------------------------------------------

// Below this many rows the work costs less than letting the interpreter
// lock go and taking it back.
constexpr std::size_t kRowsUnderTheLock = 2048;

// work(begin, end) over the rows [0, n): on the calling thread for few
// rows, else without the interpreter lock, on the threads asked for.
template <class Work>
void run_rows(std::size_t n, unsigned asked, const Work& work) {
    const unsigned threads = threads_for(n, asked);
    if (threads == 1 && n < kRowsUnderTheLock) {
        work(std::size_t{0}, n);
        return;
    }
    Py_BEGIN_ALLOW_THREADS parallel_for(n, threads, work);
    Py_END_ALLOW_THREADS
}

// The first row for which bad(row) holds, or n. Parts past a bad row found
// already stop early; the answer is the first whatever the threads.
template <class Bad>
std::size_t first_bad_row(std::size_t n, unsigned asked, const Bad& bad) {
    std::atomic<std::size_t> first{n};
    run_rows(n, asked, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            if (i % 1024 == 0 && i >= first.load(std::memory_order_relaxed)) return;
            if (bad(i)) {
                std::size_t seen = first.load(std::memory_order_relaxed);
                while (i < seen && !first.compare_exchange_weak(seen, i, std::memory_order_relaxed)) {
                }
                return;
            }
        }
    });
    return first.load();
}

// ---- Integer arrays -----------------------------------------------------------------------

// visit(values) with the elements typed as they are stored.
template <class Visit>
decltype(auto) visit_integers(const ArrayIn& array, Visit&& visit) {
    switch (array.element) {
        case Element::U8: return visit(array.as<std::uint8_t>());
        case Element::I8: return visit(array.as<std::int8_t>());
        case Element::U16: return visit(array.as<std::uint16_t>());
        case Element::I16: return visit(array.as<std::int16_t>());
        case Element::U32: return visit(array.as<std::uint32_t>());
        case Element::I32: return visit(array.as<std::int32_t>());
        case Element::U64: return visit(array.as<std::uint64_t>());
        default: return visit(array.as<std::int64_t>());
    }
}

template <class T>
constexpr bool below(T value, std::uint64_t count) {
    if constexpr (std::is_signed_v<T>) {
        return value >= 0 && std::uint64_t(value) < count;
    } else {
        return std::uint64_t(value) < count;
    }
}

template <class T>
PyObject* integer_object(T value) {
    if constexpr (std::is_signed_v<T>) {
        return PyLong_FromLongLong(value);
    } else {
        return PyLong_FromUnsignedLongLong(value);
    }
}

// Every value below `count`; else raises, naming the first row that is not.
bool check_below(const Call& call, const Integers& values, std::uint64_t count, unsigned asked, bool codes) {
    return visit_integers(values.array, [&](const auto* typed) {
        const std::size_t bad = first_bad_row(values.n, asked, [&](std::size_t i) { return !below(typed[i], count); });
        if (bad == values.n) return true;
        if (PyObject* value = integer_object(typed[bad])) {
            codes ? messages::not_a_move_code(call, values.array.name, bad, value)
                  : messages::index_out_of_range(call, values.array.name, bad, value, count);
            Py_DECREF(value);
        }
        return false;
    });
}

bool check_codes(const Call& call, const Integers& codes, unsigned asked) {
    return check_below(call, codes, kMoveCodes, asked, true);
}

// work(begin, end, codes) over rows [begin, end) in pieces, with their codes
// (checked already) as bytes: the array's own where they are bytes, else a
// piece at a time on the stack.
template <class Work>
void with_code_bytes(const Integers& codes, std::size_t begin, std::size_t end, const Work& work) {
    const Element element = codes.array.element;
    if (element == Element::U8 || element == Element::I8) {
        work(begin, end, codes.array.as<std::uint8_t>() + begin);
        return;
    }
    visit_integers(codes.array, [&](const auto* typed) {
        constexpr std::size_t kPiece = 1024;
        std::uint8_t bytes[kPiece];
        for (std::size_t at = begin; at < end; at += kPiece) {
            const std::size_t stop = end - at < kPiece ? end : at + kPiece;
            for (std::size_t i = at; i < stop; ++i) bytes[i - at] = std::uint8_t(typed[i]);
            work(at, stop, bytes);
        }
    });
}

// ---- States ---------------------------------------------------------------------------------

const engine::BatchKernels& kernels_for(const States& states) {
    const engine::Batch& batch = engine::chosen_batch();
    return states.is_3x3() ? batch.cube3x3 : batch.cube2x2;
}

Shape states_shape(std::size_t n, unsigned words) {
    return words == 2 ? Shape{2, {Py_ssize_t(n), 2}} : Shape{1, {Py_ssize_t(n)}};
}

// The result: the caller's `out`, or a new array of the states' element.
bool result_for(const Call& call, ArrayOut& result, PyObject* out, const Shape& shape, Element element) {
    return out != nullptr ? result.adopt(call, out, shape, Element::U64, Element::I64) : result.make(shape, element);
}

// A result written elsewhere than the states read, though overlapping them,
// takes a copy of the states first; written over them exactly, none.
bool apart(States& states, const ArrayOut& result) {
    if (result.data == states.array.data) return true;
    return states.array.detach_from(result.data, static_cast<const char*>(result.data) + result.bytes);
}

// The first row that is not a position of the cube, or n.
std::size_t first_non_position(const States& states, unsigned asked) {
    const std::uint64_t* words = states.data();
    const unsigned w = states.words;
    return first_bad_row(states.n, asked, [&](std::size_t i) {
        return bool(cube3x3::corner_flaw(words[w * i])) || (w == 2 && bool(cube3x3::edge_flaw(words[2 * i + 1])));
    });
}

bool report_non_position(const Call& call, const States& states, std::size_t row, bool corners_indexable = false) {
    if (row == states.n) return true;
    const std::uint64_t corners = states.data()[states.words * row];
    const cube3x3::PositionFlaw flaw =
        corners_indexable ? cube3x3::indexable_corner_flaw(corners) : cube3x3::corner_flaw(corners);
    if (flaw) {
        messages::not_a_position(call, states.array.name, row, false, flaw);
    } else {
        messages::not_a_position(call, states.array.name, row, true, cube3x3::edge_flaw(states.data()[2 * row + 1]));
    }
    return false;
}

// The row of a move string or a list of codes, as the engine applies it.
bool moves_row(const Call& call, Moves& moves, unsigned asked, TokenRow& row) {
    if (moves.is_text) {
        if (engine::text_row(moves.text, row)) return true;
        Units::refuse(moves.text_object);  // a lone surrogate: UnicodeEncodeError, as do_moves raises
        return false;
    }
    if (!check_codes(call, moves.codes, asked)) return false;
    row = cube3x3::kIdentityRow;
    const engine::Batch& batch = engine::chosen_batch();
    with_code_bytes(moves.codes, 0, moves.codes.n, [&](std::size_t begin, std::size_t end, const std::uint8_t* codes) {
        row = cube3x3::compose(row, batch.compose(codes, end - begin));
    });
    return true;
}

// The codes of a list of moves as bytes: all 18 where none is given, a
// string's tokens, or an array's codes (checked).
class CodeList {
  public:
    ~CodeList() { PyMem_Free(heap_); }

    bool read(const Call& call, Moves& moves, unsigned asked) {
        if (!moves.given) {
            for (unsigned code = 0; code < kMoveCodes; ++code) every_[code] = std::uint8_t(code);
            codes = every_;
            count = kMoveCodes;
            return true;
        }
        if (moves.is_text) {
            if (!allocate(moves.text.size / 2 + 1)) return false;
            const bool read = visit_units(moves.text, [&](const auto* units, std::size_t size) {
                return cube3x3::for_each_token(units, size, [&](const auto* token, std::size_t length) {
                    const unsigned code = cube3x3::token_code(token, length);
                    if (code < kMoveCodes) heap_[count++] = std::uint8_t(code);
                });
            });
            if (!read) Units::refuse(moves.text_object);
            return read;
        }
        if (!check_codes(call, moves.codes, asked) || !allocate(moves.codes.n)) return false;
        with_code_bytes(moves.codes, 0, moves.codes.n, [&](std::size_t begin, std::size_t end, const std::uint8_t* bytes) {
            std::memcpy(heap_ + begin, bytes, end - begin);
        });
        count = moves.codes.n;
        return true;
    }

    const std::uint8_t* codes = nullptr;
    std::size_t count = 0;

  private:
    bool allocate(std::size_t size) {
        heap_ = static_cast<std::uint8_t*>(PyMem_Malloc(size == 0 ? 1 : size));
        if (heap_ == nullptr) PyErr_NoMemory();
        codes = heap_;
        return heap_ != nullptr;
    }

    std::uint8_t every_[kMoveCodes] = {};
    std::uint8_t* heap_ = nullptr;
};

// rows * columns elements of `size` bytes fit in an array.
bool fits(const Call& call, std::size_t rows, std::size_t columns, std::size_t size, const char* what) {
    const std::size_t most = std::size_t(PY_SSIZE_T_MAX) / size;
    if (columns == 0 || rows <= most / columns) return true;
    messages::too_large(call, what);
    return false;
}

}  // namespace

// ---- The functions --------------------------------------------------------------------------

PyObject* solved(const Call&, const std::size_t& n, const unsigned& words) {
    ArrayOut result;
    if (!result.make(states_shape(n, words), Element::U64)) return nullptr;
    std::uint64_t* out = result.as<std::uint64_t>();
    for (std::size_t i = 0; i < n; ++i) {
        out[words * i] = cube3x3::kSolvedCorners;
        if (words == 2) out[2 * i + 1] = cube3x3::kSolvedEdges;
    }
    return result.finish();
}

PyObject* apply(const Call& call, States& states, Moves& moves, PyObject* const& out, const unsigned& threads) {
    TokenRow row;
    ArrayOut result;
    if (!moves_row(call, moves, threads, row) || !result_for(call, result, out, states.array.shape, states.array.element) ||
        !apart(states, result))
        return nullptr;
    const engine::BatchKernels& kernels = kernels_for(states);
    const std::uint64_t* in = states.data();
    std::uint64_t* to = result.as<std::uint64_t>();
    const unsigned w = states.words;
    run_rows(states.n, threads,
             [&](std::size_t begin, std::size_t end) { kernels.turn(in + w * begin, to + w * begin, end - begin, row); });
    return result.finish();
}

PyObject* step(const Call& call, States& states, Integers& codes, PyObject* const& out, const unsigned& threads) {
    if (codes.n != states.n) {
        messages::codes_do_not_match(call, codes.n, states.n);
        return nullptr;
    }
    ArrayOut result;
    if (!check_codes(call, codes, threads) || !result_for(call, result, out, states.array.shape, states.array.element) ||
        !apart(states, result))
        return nullptr;
    const engine::BatchKernels& kernels = kernels_for(states);
    const std::uint64_t* in = states.data();
    std::uint64_t* to = result.as<std::uint64_t>();
    const unsigned w = states.words;
    run_rows(states.n, threads, [&](std::size_t begin, std::size_t end) {
        with_code_bytes(codes, begin, end, [&](std::size_t from, std::size_t until, const std::uint8_t* bytes) {
            kernels.step(in + w * from, to + w * from, until - from, bytes);
        });
    });
    return result.finish();
}

PyObject* children(const Call& call, States& states, Moves& moves, PyObject* const& out, const unsigned& threads) {
    CodeList list;
    if (!list.read(call, moves, threads) || !fits(call, states.n, list.count, 8 * states.words, "the children")) return nullptr;
    const std::size_t n = states.n, m = list.count;
    const unsigned w = states.words;
    const Shape shape = w == 2 ? Shape{3, {Py_ssize_t(n), Py_ssize_t(m), 2}} : Shape{2, {Py_ssize_t(n), Py_ssize_t(m)}};
    ArrayOut result;
    if (!result_for(call, result, out, shape, states.array.element) ||
        !states.array.detach_from(result.data, static_cast<const char*>(result.data) + result.bytes))
        return nullptr;
    const engine::BatchKernels& kernels = kernels_for(states);
    const std::uint64_t* in = states.data();
    std::uint64_t* to = result.as<std::uint64_t>();
    run_rows(n, threads, [&](std::size_t begin, std::size_t end) {
        kernels.children(in + w * begin, to + w * m * begin, end - begin, list.codes, m);
    });
    return result.finish();
}

PyObject* scramble(const Call& call, const std::size_t& n, const std::size_t& length, const unsigned& words,
                   PyObject* const& seed, const unsigned& threads) {
    // The walks' key: 128 bits from a numpy.random.Generator, given or made from the seed.
    engine::WalkKey key{};
    {
        const int given_generator = PyObject_IsInstance(seed, numpy.generator);
        if (given_generator < 0) return nullptr;
        PyObject* generator = given_generator ? (Py_INCREF(seed), seed) : PyObject_CallOneArg(numpy.default_rng, seed);
        PyObject* bits = generator != nullptr ? PyObject_GetAttrString(generator, "bit_generator") : nullptr;
        PyObject* raw = bits != nullptr ? PyObject_CallMethod(bits, "random_raw", "n", Py_ssize_t(2)) : nullptr;
        Py_XDECREF(bits);
        Py_XDECREF(generator);
        if (raw == nullptr) return nullptr;
        ArrayIn drawn;
        const bool read = drawn.acquire(call, "seed", raw) && drawn.bytes == sizeof key;
        if (read) std::memcpy(&key, drawn.data, sizeof key);
        Py_DECREF(raw);
        if (!read) {
            if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "random_raw(2) gave no two words");
            return nullptr;
        }
    }
    if (!fits(call, n, length, 1, "the moves")) return nullptr;
    ArrayOut states, codes;
    if (!states.make(states_shape(n, words), Element::U64) ||
        !codes.make(Shape{2, {Py_ssize_t(n), Py_ssize_t(length)}}, Element::I8))
        return nullptr;
    const engine::Batch& batch = engine::chosen_batch();
    const engine::BatchKernels& kernels = words == 2 ? batch.cube3x3 : batch.cube2x2;
    std::uint64_t* to = states.as<std::uint64_t>();
    std::uint8_t* moves = codes.as<std::uint8_t>();
    run_rows(n, threads, [&](std::size_t begin, std::size_t end) {
        kernels.scramble(to + words * begin, moves + length * begin, begin, end - begin, length, key);
    });
    PyObject* made_states = states.finish();
    PyObject* made_codes = codes.finish();
    PyObject* pair = made_states != nullptr && made_codes != nullptr ? PyTuple_Pack(2, made_states, made_codes) : nullptr;
    Py_XDECREF(made_states);
    Py_XDECREF(made_codes);
    return pair;
}

PyObject* corner_index(const Call& call, States& states, const unsigned& threads) {
    ArrayOut result;
    if (!result.make(Shape{1, {Py_ssize_t(states.n)}}, Element::I64)) return nullptr;
    const std::uint64_t* in = states.data();
    std::int64_t* to = result.as<std::int64_t>();
    const unsigned w = states.words;
    const std::size_t bad = first_bad_row(states.n, threads, [&](std::size_t i) {
        return (to[i] = cube3x3::corner_index(in[w * i])) == cube3x3::kCornerPositions;
    });
    if (bad != states.n) {
        messages::not_a_position(call, states.array.name, bad, false, cube3x3::indexable_corner_flaw(in[w * bad]));
        return nullptr;
    }
    return result.finish();
}

PyObject* corner_words(const Call& call, Integers& index, const unsigned& threads) {
    ArrayOut result;
    if (!check_below(call, index, cube3x3::kCornerPositions, threads, false) ||
        !result.make(Shape{1, {Py_ssize_t(index.n)}}, Element::U64))
        return nullptr;
    std::uint64_t* to = result.as<std::uint64_t>();
    visit_integers(index.array, [&](const auto* typed) {
        run_rows(index.n, threads, [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) to[i] = cube3x3::corners_at_index(std::uint32_t(typed[i]));
        });
    });
    return result.finish();
}

PyObject* edge_index(const Call& call, States& states, const cube3x3::EdgePattern& edges, const unsigned& threads) {
    if (!states.is_3x3()) {
        messages::not_3x3_states(call, states.array.name, states.array.shape);
        return nullptr;
    }
    ArrayOut result;
    if (!result.make(Shape{1, {Py_ssize_t(states.n)}}, Element::I64)) return nullptr;
    const std::uint64_t* in = states.data();
    std::int64_t* to = result.as<std::int64_t>();
    constexpr std::uint64_t kNoPosition = cube3x3::edge_positions(cube3x3::kEdgeSlots);
    const std::size_t bad = first_bad_row(states.n, threads, [&](std::size_t i) {
        const std::uint64_t index = cube3x3::edge_index(in[2 * i + 1], edges);
        to[i] = std::int64_t(index);
        return index == kNoPosition;
    });
    if (bad != states.n) {
        messages::not_a_position(call, states.array.name, bad, true, cube3x3::edge_flaw(in[2 * bad + 1]));
        return nullptr;
    }
    return result.finish();
}

PyObject* edge_words(const Call& call, Integers& index, const cube3x3::EdgePattern& edges, const unsigned& threads) {
    ArrayOut result;
    if (!check_below(call, index, cube3x3::edge_positions(edges.count), threads, false) ||
        !result.make(Shape{1, {Py_ssize_t(index.n)}}, Element::U64))
        return nullptr;
    std::uint64_t* to = result.as<std::uint64_t>();
    visit_integers(index.array, [&](const auto* typed) {
        run_rows(index.n, threads, [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) to[i] = cube3x3::edges_at_index(std::uint64_t(typed[i]), edges);
        });
    });
    return result.finish();
}

PyObject* facelets(const Call& call, States& states, const bool& one_hot, const unsigned& threads) {
    const unsigned w = states.words;
    const std::size_t count = w == 2 ? cube3x3::kNet.size() : cube2x2::kNet.size(), n = states.n;
    constexpr std::size_t kColours = std::size(cube3x3::kColourLetters);
    const Shape shape = one_hot ? Shape{3, {Py_ssize_t(n), Py_ssize_t(count), Py_ssize_t(kColours)}}
                                : Shape{2, {Py_ssize_t(n), Py_ssize_t(count)}};
    ArrayOut result;
    if (!fits(call, n, count * kColours, 1, "the facelets") || !result.make(shape, Element::U8)) return nullptr;
    const std::uint64_t* in = states.data();
    std::uint8_t* to = result.as<std::uint8_t>();
    const std::size_t bad = first_bad_row(n, threads, [&](std::size_t i) {
        const std::uint64_t corners = in[w * i], edges = w == 2 ? in[2 * i + 1] : 0;
        if (cube3x3::corner_flaw(corners) || (w == 2 && cube3x3::edge_flaw(edges))) return true;
        std::uint8_t colours[cube3x3::kNet.size()];
        std::uint8_t* row = one_hot ? colours : to + i * count;
        if (w == 2) {
            cube3x3::facelet_colours(cube3x3::kNet, corners, edges, row);
        } else {
            cube3x3::facelet_colours(cube2x2::kNet, corners, edges, row);
        }
        if (one_hot) {
            std::uint8_t* hot = to + i * count * kColours;
            std::memset(hot, 0, count * kColours);
            for (std::size_t k = 0; k < count; ++k) hot[k * kColours + colours[k]] = 1;
        }
        return false;
    });
    if (!report_non_position(call, states, bad)) return nullptr;
    return result.finish();
}

PyObject* is_solved(const Call&, States& states, const unsigned& threads) {
    ArrayOut result;
    if (!result.make(Shape{1, {Py_ssize_t(states.n)}}, Element::Bool)) return nullptr;
    const std::uint64_t* in = states.data();
    std::uint8_t* to = result.as<std::uint8_t>();
    const unsigned w = states.words;
    run_rows(states.n, threads, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i)
            to[i] = in[w * i] == cube3x3::kSolvedCorners && (w == 1 || in[2 * i + 1] == cube3x3::kSolvedEdges);
    });
    return result.finish();
}

PyObject* inverse(const Call& call, States& states, PyObject* const& out, const unsigned& threads) {
    ArrayOut result;
    if (!report_non_position(call, states, first_non_position(states, threads)) ||
        !result_for(call, result, out, states.array.shape, states.array.element) || !apart(states, result))
        return nullptr;
    const std::uint64_t* in = states.data();
    std::uint64_t* to = result.as<std::uint64_t>();
    const unsigned w = states.words;
    run_rows(states.n, threads, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            const std::uint64_t corners = in[w * i];
            if (w == 2) to[2 * i + 1] = cube3x3::inverse_edges(in[2 * i + 1]);
            to[w * i] = cube3x3::inverse_corners(corners);
        }
    });
    return result.finish();
}

PyObject* move_codes(const Call& call, TextArgument::type& text) {
    Moves moves;
    moves.given = moves.is_text = true;
    moves.text = text.text;
    moves.text_object = text.object;
    CodeList list;
    ArrayOut result;
    if (!list.read(call, moves, 1) || !result.make(Shape{1, {Py_ssize_t(list.count)}}, Element::I8)) return nullptr;
    if (list.count > 0) std::memcpy(result.data, list.codes, list.count);
    return result.finish();
}

PyObject* move_text(const Call& call, Integers& codes) {
    if (!check_codes(call, codes, 1)) return nullptr;
    std::size_t length = 0;
    visit_integers(codes.array, [&](const auto* typed) {
        for (std::size_t i = 0; i < codes.n; ++i) length += std::strlen(kMoveNames[typed[i]]) + (i > 0);
    });
    PyObject* text = PyUnicode_New(Py_ssize_t(length), 127);
    if (text == nullptr) return nullptr;
    char* at = static_cast<char*>(PyUnicode_DATA(text));
    visit_integers(codes.array, [&](const auto* typed) {
        for (std::size_t i = 0; i < codes.n; ++i) {
            if (i > 0) *at++ = ' ';
            for (const char* name = kMoveNames[typed[i]]; *name != '\0'; ++name) *at++ = *name;
        }
    });
    return text;
}

}  // namespace turnwheel::batch
