/* Preloaded into copies of the helper by the fault tests, to stop a copy at
 * an exact step from outside. VELLIX_TRAP is "CALL:N:ACTION": at the N-th
 * call of CALL made by the process itself (not by its children), it
 * carries out ACTION before the call goes on.
 *   CALL    fork   (each start of the editor forks once)
 *           mkdir  (of the hand-off folder only, made right after the
 *                   copy has taken its part in the election)
 *   ACTION  kill   ends the process with SIGKILL
 *           stop   stops it with SIGSTOP, as a debugger or job control does
 *           hang   keeps it asleep until SIGUSR1, as a frozen process is */
#define _GNU_SOURCE
#include <dlfcn.h>
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
