// launch PROGRAM [ARGS...]: notes the monotonic time in VELMORA_BENCH_T0_NS and
// replaces itself with PROGRAM, so that the swap shim can measure from the very start
// of the process (dynamic loading included).
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: launch PROGRAM [ARGS...]\n");
        return 2;
    }
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    char value[32];
    snprintf(value, sizeof value, "%lld", (long long)t.tv_sec * 1000000000LL + t.tv_nsec);
    setenv("VELMORA_BENCH_T0_NS", value, 1);
    execvp(argv[1], argv + 1);
    perror(argv[1]);
    return 127;
}
