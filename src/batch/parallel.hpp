// Work on many cubes split over native threads: contiguous parts of the
// rows, one a thread, the first on the calling thread. What a row gives never
// depends on which thread makes it, so results do not depend on the count.
#pragma once

#include <cstddef>

namespace turnwheel::batch {

// Every processor this process may run on (its affinity), at least one.
unsigned available_threads();

// Rows a thread must have to be worth starting: starting one costs tens of
// microseconds, what some thousands of rows take.
inline constexpr std::size_t kRowsPerThread = 1 << 14;

// The threads for n rows: as asked (0: every one available), but no more
// than the rows make worth it.
unsigned threads_for(std::size_t n, unsigned asked);

using Part = void (*)(const void* work, std::size_t begin, std::size_t end);

// Calls part(work, begin, end) on `threads` parts of [0, n) at once and
// returns when all are done. A thread that cannot be started leaves its part
// to the calling thread.
void run_parts(std::size_t n, unsigned threads, Part part, const void* work);

template <class Work>
void parallel_for(std::size_t n, unsigned threads, const Work& work) {
    run_parts(
        n, threads,
        [](const void* context, std::size_t begin, std::size_t end) { (*static_cast<const Work*>(context))(begin, end); },
        &work);
}

}  // namespace turnwheel::batch
