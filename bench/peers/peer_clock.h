/* CPU time of the process (every thread) and wall-clock time, read together. */
#include <stdio.h>
#include <time.h>

struct reading {
    double cpu, wall;
};

static struct reading now(void) {
    struct timespec wall;
    clock_gettime(CLOCK_MONOTONIC, &wall);
    struct reading r = {(double)clock() / CLOCKS_PER_SEC, (double)wall.tv_sec + wall.tv_nsec * 1e-9};
    return r;
}

static void print_phase(const char* name, struct reading from, struct reading to) {
    printf("%s cpu=%f wall=%f\n", name, to.cpu - from.cpu, to.wall - from.wall);
}
