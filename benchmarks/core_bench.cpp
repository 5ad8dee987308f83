// The native limit: the pure cube core with no interpreter. Reads a
// scramble's tokens from standard input; prints the best time per token, in
// nanoseconds, of applying the turns already decoded (one switch a turn), of
// the packed token-by-token reading of the text, and of each version of the
// move engine this processor runs, one "name ns" pair a line.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "cube3x3/moves.hpp"
#include "cube3x3/notation.hpp"
#include "engine/engine.hpp"

using namespace turnwheel::cube3x3;
using enum Move;

namespace {

// A decoded token: the turn and how many times it is applied.
struct Step {
    Move move;
    std::uint8_t times;
};

template <Move M>
inline void turn(State& state) {
    whole_turn<M>(state);
}

inline void apply(State& state, Move move) {
    switch (move) {
        case U: turn<U>(state); break;
        case UPrime: turn<UPrime>(state); break;
        case D: turn<D>(state); break;
        case DPrime: turn<DPrime>(state); break;
        case R: turn<R>(state); break;
        case RPrime: turn<RPrime>(state); break;
        case L: turn<L>(state); break;
        case LPrime: turn<LPrime>(state); break;
        case F: turn<F>(state); break;
        case FPrime: turn<FPrime>(state); break;
        case B: turn<B>(state); break;
        case BPrime: turn<BPrime>(state); break;
    }
}

std::vector<Step> decode(const std::vector<std::string>& tokens) {
    const std::string faces = "UDRLFB";
    std::vector<Step> steps;
    for (const auto& token : tokens) {
        const auto face = faces.find(token[0]);
        if (face == std::string::npos) continue;
        const bool prime = token.size() == 2 && (token[1] == '\'' || token[1] == '!');
        const bool twice = token.size() == 2 && token[1] == '2';
        steps.push_back({Move(2 * face + (prime ? 1 : 0)), std::uint8_t(twice ? 2 : 1)});
    }
    return steps;
}

template <class Body>
double best_ns_per_token(std::size_t tokens, Body body) {
    double best = 1e300;
    for (int round = 0; round < 15; ++round) {
        const auto start = std::chrono::steady_clock::now();
        body();
        const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count() / double(tokens));
    }
    return best;
}

}  // namespace

int main() {
    std::vector<std::string> tokens{std::istream_iterator<std::string>(std::cin), {}};
    std::string text;
    for (const auto& token : tokens) (text += token) += ' ';
    const std::vector<Step> steps = decode(tokens);

    volatile std::uint64_t sink = 0;
    const double decoded = best_ns_per_token(steps.size(), [&] {
        State state = kSolved;
        for (const Step& step : steps)
            for (int i = 0; i < step.times; ++i) apply(state, step.move);
        sink = sink + state.corners + state.edges;
    });
    const turnwheel::MoveText view{std::string_view(text)};
    const double parsed = best_ns_per_token(steps.size(), [&] {
        State state = kSolved;
        reference_moves(state, view);
        sink = sink + state.corners + state.edges;
    });
    std::printf("decoded %.4f\npacked %.4f\n", decoded, parsed);
    for (const turnwheel::engine::Isa isa : turnwheel::engine::kIsas) {
        const auto scan = turnwheel::engine::scanner(isa);
        if (scan == nullptr) continue;
        const double ns = best_ns_per_token(steps.size(), [&] {
            State state = kSolved;
            scan(state, view);
            sink = sink + state.corners + state.edges;
        });
        std::printf("%s%s %.4f\n", turnwheel::engine::name(isa), scan == turnwheel::engine::chosen() ? "*" : "", ns);
    }
    return 0;
}
