/* Keeps NSPR from replacing the JVM's SIGPIPE handler. When NSPR starts, it
 * sets SIGPIPE to be ignored, unconditionally; the JVM has a handler of its
 * own there, and under -Xcheck:jni it reports the change (it checks every
 * 10 ms, so putting the handler back afterwards still races). A library built
 * with this file and loaded with RTLD_DEEPBIND has it ahead of the C library
 * in its lookup scope, so NSPR, loaded with it, binds sigaction to this
 * definition. libkavro loads libkavro-nss.so, which uses NSS, that way; the
 * module bridge loads libkavro-sigpipe.so, which links NSPR only to load it
 * ahead of a real module that uses it. This definition passes every call on
 * except a request to ignore SIGPIPE while the host has a handler there.
 * That request is answered as done: the JVM's handler ignores SIGPIPE as
 * well. */
#include <dlfcn.h>
#include <signal.h>
#include <stddef.h>

typedef int (*SigactionFunction)(int, const struct sigaction *, struct sigaction *);

/* This definition itself, whatever the name sigaction binds to here. */
extern int GuardSigaction(int, const struct sigaction *, struct sigaction *)
    __attribute__((alias("sigaction"), visibility("hidden")));

__attribute__((visibility("default"))) int sigaction(int signal, const struct sigaction *action,
                                                     struct sigaction *previous) {
    /* The C library's: the next definition after this module's in its
     * lookup scope (RTLD_DEFAULT would find this one again, the module's own
     * scope coming first). */
    SigactionFunction system = (SigactionFunction)dlsym(RTLD_NEXT, "sigaction");
    if (system == NULL || system == GuardSigaction) {
        return -1;
    }
    /* A host that leaves SIGPIPE at its default has no handler to keep: the
     * request goes through, as it would without this guard. */
    struct sigaction current;
    if (signal == SIGPIPE && action != NULL && (action->sa_flags & SA_SIGINFO) == 0 &&
        action->sa_handler == SIG_IGN && system(SIGPIPE, NULL, &current) == 0 && current.sa_handler != SIG_DFL) {
        if (previous != NULL) {
            *previous = current;
        }
        return 0;
    }
    return system(signal, action, previous);
}
