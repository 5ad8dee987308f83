#include "parallel.hpp"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

namespace turnwheel::batch {

unsigned available_threads() {
#ifdef CPU_COUNT
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return unsigned(CPU_COUNT(&set));
#endif
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? unsigned(online) : 1;
}

unsigned threads_for(std::size_t n, unsigned asked) {
    const std::size_t worth = n / kRowsPerThread + 1;
    if (worth == 1) return 1;  // without asking the system, which costs a call's time again
    const std::size_t wanted = asked == 0 ? available_threads() : asked;
    return unsigned(wanted < worth ? wanted : worth);
}

namespace {

struct Task {
    Part part;
    const void* work;
    std::size_t begin, end;
};

void* run_task(void* argument) {
    const Task& task = *static_cast<const Task*>(argument);
    task.part(task.work, task.begin, task.end);
    return nullptr;
}

}  // namespace

void run_parts(std::size_t n, unsigned threads, Part part, const void* work) {
    constexpr unsigned kMostThreads = 256;
    threads = threads == 0 ? 1 : threads > kMostThreads ? kMostThreads : threads;
    Task tasks[kMostThreads];
    pthread_t started[kMostThreads];
    bool running[kMostThreads] = {};
    for (unsigned k = 0; k < threads; ++k) tasks[k] = {part, work, n * k / threads, n * (k + 1) / threads};
    for (unsigned k = 1; k < threads; ++k) running[k] = pthread_create(&started[k], nullptr, run_task, &tasks[k]) == 0;
    run_task(&tasks[0]);
    for (unsigned k = 1; k < threads; ++k) {
        if (running[k]) {
            pthread_join(started[k], nullptr);
        } else {
            run_task(&tasks[k]);
        }
    }
}

}  // namespace turnwheel::batch
