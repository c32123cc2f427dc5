/* Preloaded into copies of the helper by the fault tests, to stop a copy at
 * an exact step from outside. VELLIX_TRAP is "CALL:N:ACTION": at the N-th
 * call of CALL made by the process itself (not by its children), it
 * carries out ACTION before the call goes on.
 *   CALL    fork   (each start of the editor forks once)
 *           mkdir  (of the hand-off folder only, made right after the
 *                   copy has taken its part in the election)
 *   ACTION  kill   ends the process with SIGKILL
 *           stop   stops it with SIGSTOP, as a debugger or job control does
 *           hang   keeps it asleep until SIGUSR1, as a frozen process is
 *
 * VELLIX_REFUSE is "CALL:PART:N", or several such rules separated by
 * commas: the first N calls of CALL (all of them with N 0) on a file whose
 * name contains PART fail, as they do on a file that another program holds
 * or on a full disk.
 *   CALL    rename (EBUSY; the source's name), open (for reading, EACCES),
 *           write (ENOSPC), unlink (EBUSY) */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

static pid_t own_pid;
static int calls;
static volatile sig_atomic_t woken;

__attribute__((constructor)) static void remember_own_pid(void)
{
    own_pid = getpid();
}

static void wake(int signal_number)
{
    (void)signal_number;
    woken = 1;
}

static void spring(const char *call)
{
    const char *trap = getenv("VELLIX_TRAP");
    if (!trap || getpid() != own_pid)
        return;
    const size_t length = strlen(call);
    if (strncmp(trap, call, length) != 0 || trap[length] != ':')
        return;
    char *action = NULL;
    const long at = strtol(trap + length + 1, &action, 10);
    if (++calls != at || !action || *action != ':')
        return;
    ++action;
    if (strcmp(action, "kill") == 0) {
        raise(SIGKILL);
    } else if (strcmp(action, "stop") == 0) {
        raise(SIGSTOP);
    } else if (strcmp(action, "hang") == 0) {
        struct sigaction wakeUp;
        memset(&wakeUp, 0, sizeof wakeUp);
        wakeUp.sa_handler = wake;
        sigaction(SIGUSR1, &wakeUp, NULL);
        sigset_t usr1;
        sigemptyset(&usr1);
        sigaddset(&usr1, SIGUSR1);
        sigprocmask(SIG_UNBLOCK, &usr1, NULL);
        while (!woken)
            pause();
    }
}

pid_t fork(void)
{
    static pid_t (*real)(void);
    if (!real)
        real = (pid_t(*)(void))dlsym(RTLD_NEXT, "fork");
    spring("fork");
    return real();
}

int mkdir(const char *path, mode_t mode)
{
    static int (*real)(const char *, mode_t);
    if (!real)
        real = (int (*)(const char *, mode_t))dlsym(RTLD_NEXT, "mkdir");
    const char *name = strrchr(path, '/');
    if (name && strcmp(name, "/VellixContextMenu") == 0)
        spring("mkdir");
    return real(path, mode);
}

/* True when the call is to fail: a rule of VELLIX_REFUSE (several may
 * stand, separated by commas) names it, on a name with the part, within the
 * rule's count. */
static int refused(const char *call, const char *path)
{
    static int refusals[8];
    const char *rules = getenv("VELLIX_REFUSE");
    if (!rules || !path || getpid() != own_pid)
        return 0;
    const char *name = strrchr(path, '/');
    name = name ? name + 1 : path;
    const size_t length = strlen(call);
    int index = 0;
    for (const char *rule = rules; rule && index < 8; ++index) {
        const char *end = strchr(rule, ',');
        const char *part = rule + length + 1;
        const char *count = part;
        while (count < (end ? end : rule + strlen(rule)) && *count != ':')
            ++count;
        if (strncmp(rule, call, length) == 0 && rule[length] == ':' && *count == ':') {
            const size_t partLength = (size_t)(count - part);
            int contains = 0;
            for (const char *at = name; *at && !contains; ++at)
                contains = strncmp(at, part, partLength) == 0;
            const long limit = strtol(count + 1, NULL, 10);
            if (contains && (limit == 0 || refusals[index] < limit)) {
                ++refusals[index];
                return 1;
            }
        }
        rule = end ? end + 1 : NULL;
    }
    return 0;
}

static int refuse(int error)
{
    errno = error;
    return -1;
}

int renameat2(int from, const char *source, int to, const char *target, unsigned int flags)
{
    static int (*real)(int, const char *, int, const char *, unsigned int);
    if (!real)
        real = (int (*)(int, const char *, int, const char *, unsigned int))dlsym(RTLD_NEXT, "renameat2");
    if (refused("rename", source))
        return refuse(EBUSY);
    return real(from, source, to, target, flags);
}

int rename(const char *source, const char *target)
{
    static int (*real)(const char *, const char *);
    if (!real)
        real = (int (*)(const char *, const char *))dlsym(RTLD_NEXT, "rename");
    if (refused("rename", source))
        return refuse(EBUSY);
    return real(source, target);
}

int link(const char *source, const char *target)
{
    static int (*real)(const char *, const char *);
    if (!real)
        real = (int (*)(const char *, const char *))dlsym(RTLD_NEXT, "link");
    if (refused("rename", source))
        return refuse(EBUSY);
    return real(source, target);
}

int unlink(const char *path)
{
    static int (*real)(const char *);
    if (!real)
        real = (int (*)(const char *))dlsym(RTLD_NEXT, "unlink");
    if (refused("unlink", path))
        return refuse(EBUSY);
    return real(path);
}

static int open_with(const char *symbol, const char *path, int flags, mode_t mode)
{
    int (*real)(const char *, int, ...) = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, symbol);
    if ((flags & O_ACCMODE) == O_RDONLY && refused("open", path))
        return refuse(EACCES);
    return real(path, flags, mode);
}

int open(const char *path, int flags, ...)
{
    va_list rest;
    va_start(rest, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(rest, mode_t) : 0;
    va_end(rest);
    return open_with("open", path, flags, mode);
}

int open64(const char *path, int flags, ...)
{
    va_list rest;
    va_start(rest, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(rest, mode_t) : 0;
    va_end(rest);
    return open_with("open64", path, flags, mode);
}

ssize_t write(int fd, const void *bytes, size_t count)
{
    static ssize_t (*real)(int, const void *, size_t);
    if (!real)
        real = (ssize_t(*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
    if (getenv("VELLIX_REFUSE") && strstr(getenv("VELLIX_REFUSE"), "write:")) {
        char link[64], path[4096];
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        const ssize_t length = readlink(link, path, sizeof path - 1);
        if (length > 0) {
            path[length] = '\0';
            if (refused("write", path))
                return refuse(ENOSPC);
        }
    }
    return real(fd, bytes, count);
}
