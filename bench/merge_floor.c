/* The physical floor for Span's algebra, for bench_roaring.py: branchless two-list merges over 16-byte closed
   segments (the layout a Span keeps), and a plain memcpy of both inputs, timed in C with nothing else around
   them. Each merge runs into output memory already faulted in, and into a fresh malloc (freed after), which at
   10**7 segments costs as much in page faults as the merge itself; on Linux also into a fresh malloc advised
   to take transparent huge pages, as Span's own lists of several megabytes are.

   Usage: merge_floor N SHAPE [ROUNDS]   (SHAPE: short = runs of 1-100 with gaps of 2-100, long = runs of
   1000-10000 with the same gaps). Prints one line per figure: "name ns_per_segment", where a segment is one
   segment of one operand (time / N), the unit bench_roaring.py prints ours in. Compiled by bench_roaring.py. */
#define _POSIX_C_SOURCE 199309L
#define _DEFAULT_SOURCE /* madvise advice names */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#if defined(__linux__)
#include <sys/mman.h>
#endif

typedef struct {
    int64_t start, end;
} segment;

static uint64_t state = 0x9E3779B97F4A7C15u;
static uint64_t next_random(void) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}
static int64_t between(int64_t low, int64_t high) { return low + (int64_t)(next_random() % (uint64_t)(high - low + 1)); }

static segment* make_list(size_t n, int64_t shortest, int64_t longest) {
    segment* list = malloc(n * sizeof(segment));
    int64_t at = between(0, 100);
    for (size_t i = 0; i < n; i++) {
        list[i].start = at;
        list[i].end = at + between(shortest, longest) - 1;
        at = list[i].end + between(2, 100);
    }
    return list;
}

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + 1e-9 * (double)t.tv_nsec;
}

static size_t intersect(const segment* a, size_t na, const segment* b, size_t nb, segment* out) {
    size_t i = 0, j = 0, k = 0;
    while (i < na && j < nb) {
        const segment x = a[i], y = b[j];
        const int64_t start = x.start > y.start ? x.start : y.start;
        const int64_t end = x.end < y.end ? x.end : y.end;
        out[k].start = start;
        out[k].end = end;
        k += start <= end;
        const int step = x.end < y.end;
        i += step;
        j += !step;
    }
    return k;
}

static size_t unite(const segment* a, size_t na, const segment* b, size_t nb, segment* out) {
    size_t i = a[0].start <= b[0].start, j = !i, k = 0;
    segment current = i ? a[0] : b[0];
    while (i < na && j < nb) {
        const segment x = a[i], y = b[j];
        const int take_a = x.start <= y.start;
        const segment next = take_a ? x : y;
        i += take_a;
        j += !take_a;
        const int apart = next.start > current.end + 1;
        const int64_t grown = next.end > current.end ? next.end : current.end;
        out[k] = current;
        k += apart;
        current.start = apart ? next.start : current.start;
        current.end = apart ? next.end : grown;
    }
    for (; i < na; i++) {
        if (a[i].start > current.end + 1) out[k++] = current, current = a[i];
        else if (a[i].end > current.end) current.end = a[i].end;
    }
    for (; j < nb; j++) {
        if (b[j].start > current.end + 1) out[k++] = current, current = b[j];
        else if (b[j].end > current.end) current.end = b[j].end;
    }
    out[k] = current;
    return k + 1;
}

/* a minus b: a intersected with the gaps of b (no segment of b starts at the lowest integer here). */
static size_t subtract(const segment* a, size_t na, const segment* b, size_t nb, segment* out) {
    size_t i = 0, g = 0, k = 0;
    while (i < na && g <= nb) {
        const segment x = a[i];
        const int64_t gap_start = g == 0 ? INT64_MIN : b[g - 1].end + 1;
        const int64_t gap_end = g == nb ? INT64_MAX : b[g].start - 1;
        const int64_t start = x.start > gap_start ? x.start : gap_start;
        const int64_t end = x.end < gap_end ? x.end : gap_end;
        out[k].start = start;
        out[k].end = end;
        k += start <= end;
        const int step = x.end < gap_end;
        i += step;
        g += !step;
    }
    return k;
}

typedef size_t (*merge)(const segment*, size_t, const segment*, size_t, segment*);

static int by_double(const void* x, const void* y) {
    const double a = *(const double*)x, b = *(const double*)y;
    return (a > b) - (a < b);
}

static double median(double* values, int count) {
    qsort(values, (size_t)count, sizeof(double), by_double);
    return values[count / 2];
}

/* A fresh output; kind 2 asks for huge pages over the 2 MiB-aligned inside of the block. */
static segment* fresh_output(size_t room, int kind) {
    segment* out = malloc(room * sizeof(segment));
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (kind == 2 && out != NULL) {
        const uintptr_t huge = (uintptr_t)2 << 20;
        const uintptr_t begin = ((uintptr_t)out + huge - 1) & ~(huge - 1);
        const uintptr_t end = ((uintptr_t)out + room * sizeof(segment)) & ~(huge - 1);
        if (end > begin) madvise((void*)begin, end - begin, MADV_HUGEPAGE);
    }
#else
    (void)kind;
#endif
    return out;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: merge_floor N short|long [ROUNDS]\n");
        return 2;
    }
    const size_t n = (size_t)strtoull(argv[1], NULL, 10);
    const int is_long = strcmp(argv[2], "long") == 0;
    const int rounds = argc > 3 ? atoi(argv[3]) : 7;
    const int64_t shortest = is_long ? 1000 : 1, longest = is_long ? 10000 : 100;
    segment* a = make_list(n, shortest, longest);
    segment* b = make_list(n, shortest, longest);
    const size_t room = 2 * n + 2;
    segment* warm = malloc(room * sizeof(segment));
    memset(warm, 0, room * sizeof(segment));
    const char* names[] = {"a | b", "a & b", "a - b"};
    const merge merges[] = {unite, intersect, subtract};
    double times[64];
    size_t sink = 0;
    /* Repeats inside a round keep each timing above ~20 ms at small n. */
    const int inner = n >= 1000000 ? 1 : (int)(2000000 / (n + 1)) + 1;
    for (int m = 0; m < 3; m++) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
        const int kinds = 3;
#else
        const int kinds = 2;
#endif
        const char* kind_names[] = {"pre-faulted", "fresh", "fresh huge-page"};
        for (int fresh = 0; fresh < kinds; fresh++) {
            for (int r = 0; r < rounds && r < 64; r++) {
                const double t0 = now();
                for (int rep = 0; rep < inner; rep++) {
                    segment* out = fresh ? fresh_output(room, fresh) : warm;
                    sink += merges[m](a, n, b, n, out);
                    sink += (size_t)out[sink % 2].start;
                    if (fresh) free(out);
                }
                times[r] = (now() - t0) / inner;
            }
            printf("%s, %s output %.3f\n", names[m], kind_names[fresh],
                   1e9 * median(times, rounds < 64 ? rounds : 64) / (double)n);
        }
    }
    for (int r = 0; r < rounds && r < 64; r++) {
        const double t0 = now();
        for (int rep = 0; rep < inner; rep++) {
            memcpy(warm, a, n * sizeof(segment));
            memcpy(warm + n, b, n * sizeof(segment));
            sink += (size_t)warm[rep % n].end;
        }
        times[r] = (now() - t0) / inner;
    }
    printf("memcpy of both, pre-faulted output %.3f\n", 1e9 * median(times, rounds < 64 ? rounds : 64) / (double)n);
    fprintf(stderr, "%zu\n", sink);
    free(a);
    free(b);
    free(warm);
    return 0;
}
