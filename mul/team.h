#pragma once
// Teams of threads, for the engine's products and for whatever else a
// program runs side by side. A team takes its members when it is made:
// size() is how many could join, at most the number asked for (where a
// thread cannot start, for want of threads or memory, the team is smaller),
// and everything a team's work shares must be sized from size(), never from
// the number asked for. run(work) calls work(t, size()) for t < size() on
// that many threads, t = 0 on the calling one, and returns when all are
// done; barrier() inside work waits for the whole team.
//
// The other members are helper threads kept for the process's life: a team
// takes idle ones, starting new ones only where none is idle, and hands
// them back when it ends. Starting and joining a thread costs about 50
// microseconds, a tenth of a product that two threads make in a
// millisecond; waking an idle one costs a few. After fork the child starts
// with no helpers: the parent's are not threads of the child's.
//
// An exception thrown by any member's work ends the team's work: members
// waiting at a barrier, or reaching one, leave the work too, run() waits
// for every member and then throws the first exception to the caller.

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <vector>

namespace mul {

// Cores this process may run on (its affinity mask, read once), at least 1.
int affinity_cores();

// The most threads at work at once since start-up (or since the last
// forget_threads_at_work): the calling threads of teams and the helpers
// running their work. A program's report gives it as the threads it had.
int most_threads_at_work();
void forget_threads_at_work();

class Helper;

class Team {
public:
    explicit Team(int wanted);
    ~Team();
    Team(const Team&) = delete;
    Team& operator=(const Team&) = delete;

    int size() const { return size_; }

    template <class Work>
    void run(Work work) {
        struct Context {
            Team* team;
            Work* work;
        } context{this, &work};
        launch(
            [](void* c, int t) {
                const Context* x = static_cast<const Context*>(c);
                (*x->work)(t, x->team->size_);
            },
            &context);
    }

    void barrier();

private:
    using Job = void (*)(void* context, int t);
    void launch(Job job, void* context);
    void abandon();

    std::vector<Helper*> helpers_;
    int size_ = 1, waiting_ = 0;
    bool abandoned_ = false;
    std::atomic<unsigned long> generation_{0};
    std::mutex mutex_;
    std::condition_variable wake_;
};

// first() on a helper and second() here, side by side; both here, one after
// the other, where no helper can be had. Either's exception reaches the
// caller once both have ended.
template <class First, class Second>
void run_both(First first, Second second) {
    Team team(2);
    team.run([&](int t, int size) {
        if (size == 1) {
            first();
            second();
        } else if (t == 1) {
            first();
        } else {
            second();
        }
    });
}

// Part t of `parts` of [0, n), in whole units of `unit`.
inline std::size_t share_start(std::size_t n, int t, int parts, std::size_t unit = 1) {
    return (n / unit * static_cast<std::size_t>(t) / static_cast<std::size_t>(parts)) * unit;
}

}  // namespace mul
