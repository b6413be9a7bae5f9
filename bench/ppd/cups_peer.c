/* The peer the users know: libcups reading the same PPDs. Opens every *.ppd of a folder
 * with ppdOpenFile + ppdMarkDefaults (then ppdClose), best of N passes, and prints MB/s.
 * Built for the host (not the cross build) by bench/ppd/compare.
 *   cups_peer FOLDER [PASSES]
 */
#define _POSIX_C_SOURCE 200809L
#include <cups/ppd.h>
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <time.h>

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

static int has_ppd_suffix(const char *name) {
    size_t n = strlen(name);
    return n > 4 && strcasecmp(name + n - 4, ".ppd") == 0;
}

static int by_name(const void *a, const void *b) {
    return strcmp(*(char *const *)a, *(char *const *)b);
}

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: cups_peer FOLDER [PASSES]\n");
        return 2;
    }
    const int passes = argc > 2 && atoi(argv[2]) > 0 ? atoi(argv[2]) : 3;
    DIR *dir = opendir(argv[1]);
    if (!dir) {
        perror(argv[1]);
        return 1;
    }
    char **files = NULL;
    size_t count = 0, room = 0;
    double total = 0;
    struct dirent *e;
    while ((e = readdir(dir)) != NULL) {
        if (!has_ppd_suffix(e->d_name)) continue;
        char path[4096];
        snprintf(path, sizeof path, "%s/%s", argv[1], e->d_name);
        struct stat st;
        if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (count == room) {
            room = room ? room * 2 : 1024;
            files = realloc(files, room * sizeof *files);
            if (!files) return 1;
        }
        files[count++] = strdup(path);
        total += (double)st.st_size;
    }
    closedir(dir);
    if (!count) {
        fprintf(stderr, "no PPD files in %s\n", argv[1]);
        return 1;
    }
    qsort(files, count, sizeof *files, by_name);

    double best = 0;
    size_t failures = 0;
    for (int pass = 0; pass < passes; ++pass) {
        size_t failed = 0;
        const double start = now();
        for (size_t i = 0; i < count; ++i) {
            ppd_file_t *ppd = ppdOpenFile(files[i]);
            if (!ppd) {
                ++failed;
                continue;
            }
            ppdMarkDefaults(ppd);
            ppdClose(ppd);
        }
        const double t = now() - start;
        if (pass == 0 || t < best) best = t;
        failures = failed;
    }
    printf("%zu files, %.1f MB, best of %d passes\n", count, total / 1e6, passes);
    printf("libcups      %8.1f MB/s  %7.3f s  open failures %zu\n", total / 1e6 / best, best, failures);
    for (size_t i = 0; i < count; ++i) free(files[i]);
    free(files);
    return 0;
}
