/* Runs a program and writes its peak resident set size (KiB; the program and every child it
 * waited for) to a file. A separate small process because a child's peak starts from the
 * memory of the process that forked it: spawned from the benchmark itself, every figure
 * would read at least the benchmark's own size. */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: %s OUT_FILE PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }
    const pid_t pid = fork();
    if (pid < 0) return 2;
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        perror(argv[2]);
        _exit(127);
    }
    int status = 0;
    struct rusage ru;
    if (wait4(pid, &status, 0, &ru) < 0) return 2;
    FILE* out = fopen(argv[1], "w");
    if (!out) return 2;
    /* Peak memory (KiB), then the CPU time in seconds (user and system). */
    fprintf(out, "%ld %.6f\n", ru.ru_maxrss,
            (double)ru.ru_utime.tv_sec + (double)ru.ru_utime.tv_usec / 1e6 +
                (double)ru.ru_stime.tv_sec + (double)ru.ru_stime.tv_usec / 1e6);
    fclose(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}
