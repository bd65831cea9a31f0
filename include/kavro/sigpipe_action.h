// NSPR sets SIGPIPE to be ignored as it starts, where a JVM has a handler of
// its own. kavro's libraries that bring NSPR in load it so that it binds to
// the SIGPIPE guard (sysstore/nss/sigpipe_guard.c), and put the action back
// where the guard came too late. POSIX only.
#ifndef KAVRO_SIGPIPE_ACTION_H
#define KAVRO_SIGPIPE_ACTION_H

#include <dlfcn.h>
#include <signal.h>

namespace kavro {

// The dlopen flag that puts a library's own lookup scope, the guard in it,
// ahead of the C library. The sanitizers' runtimes refuse to load a library
// with RTLD_DEEPBIND; a sanitizer build serves the C++ tests, where no JVM
// handler needs the guard.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kSigpipeGuardBinding = 0;
#else
constexpr int kSigpipeGuardBinding = RTLD_DEEPBIND;
#endif

// Puts the host's SIGPIPE handler back as it goes if it was replaced
// meanwhile: by NSPR loaded before the guard and so not bound to it, or by
// other code that ignores SIGPIPE. Nothing is kept while SIGPIPE is at its
// default (no handler, as with the guard) or ignored: a keeper on another
// thread would otherwise take a module's change for the host's.
class KeepSigpipeAction {
public:
    KeepSigpipeAction() {
        kept_ = sigaction(SIGPIPE, nullptr, &saved_) == 0 && saved_.sa_handler != SIG_DFL &&
                saved_.sa_handler != SIG_IGN;
    }
    KeepSigpipeAction(const KeepSigpipeAction &) = delete;
    KeepSigpipeAction &operator=(const KeepSigpipeAction &) = delete;
    ~KeepSigpipeAction() noexcept {
        struct sigaction now {};
        if (kept_ && sigaction(SIGPIPE, nullptr, &now) == 0 && now.sa_handler != saved_.sa_handler) {
            sigaction(SIGPIPE, &saved_, nullptr);
        }
    }

private:
    struct sigaction saved_ {};
    bool kept_;
};

}  // namespace kavro

#endif  // KAVRO_SIGPIPE_ACTION_H
