/* Preloaded into the launcher by the fault tests: ends the process with SIGKILL at a chosen
 * point of an update, as a power cut or a killed process would, without touching the launcher.
 *
 *   QUORLA_KILL_AT_MOVE=N   just before the N-th move of an unpacked file into place
 *                           (moves of finished downloads, "*.tmp~", are not counted)
 */
#include <dlfcn.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

typedef int (*renameat2_fn)(int, const char*, int, const char*, unsigned int);

static int ends_with(const char* text, const char* tail) {
    size_t n = strlen(text), m = strlen(tail);
    return n >= m && strcmp(text + n - m, tail) == 0;
}

int renameat2(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, unsigned int flags) {
    static renameat2_fn real = NULL;
    static int moves = 0;
    if (!real) real = (renameat2_fn)dlsym(RTLD_NEXT, "renameat2");
    const char* at = getenv("QUORLA_KILL_AT_MOVE");
    if (at && !ends_with(oldpath, ".tmp~") && ++moves == atoi(at)) raise(SIGKILL);
    return real(olddirfd, oldpath, newdirfd, newpath, flags);
}
