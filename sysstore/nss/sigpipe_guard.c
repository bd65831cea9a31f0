/* Keeps NSPR from replacing the JVM's SIGPIPE handler. When NSPR starts, it
 * sets SIGPIPE to be ignored, unconditionally; the JVM has a handler of its
 * own there, and under -Xcheck:jni it reports the change (it checks every
 * 10 ms, so putting the handler back afterwards still races). libkavro loads
 * this module with RTLD_DEEPBIND, so the NSS and NSPR libraries loaded with it
 * bind sigaction to this definition, which passes every call on except a
 * request to ignore SIGPIPE. That request is answered as done: the JVM's
 * handler ignores SIGPIPE as well. */
#include <dlfcn.h>
#include <signal.h>
#include <stddef.h>

typedef int (*SigactionFunction)(int, const struct sigaction *, struct sigaction *);

__attribute__((visibility("default"))) int sigaction(int signal, const struct sigaction *action,
                                                     struct sigaction *previous) {
    /* The C library's: the next definition after this module's in its
     * lookup scope (RTLD_DEFAULT would find this one again, the module's own
     * scope coming first). */
    SigactionFunction system = (SigactionFunction)dlsym(RTLD_NEXT, "sigaction");
    if (system == NULL || system == sigaction) {
        return -1;
    }
    if (signal == SIGPIPE && action != NULL && (action->sa_flags & SA_SIGINFO) == 0 &&
        action->sa_handler == SIG_IGN) {
        return system(signal, NULL, previous);
    }
    return system(signal, action, previous);
}
