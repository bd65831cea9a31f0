// The store's questions on the controlling terminal (/dev/tty): a numbered
// menu of certificates and a password prompt without echo. Without a
// controlling terminal, opening /dev/tty fails at once (ENXIO).
//
// Only a process in the terminal's foreground process group asks: a JVM
// started in the background (java ... &, nohup) would be stopped by SIGTTIN
// or SIGTTOU at its first read or settings change, so it answers as without
// a terminal. While the terminal is used, the calling thread blocks SIGTTIN
// and SIGTTOU: a job sent to the background during a question then reads
// EIO, which cancels, instead of stopping.
#include "sysstore/nss/escaped_text.h"
#include "sysstore/nss/store_dialog.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace kavro {
namespace {

// SIGTTIN and SIGTTOU blocked in the calling thread while it lives. For a
// background process the kernel then fails a terminal read with EIO and
// lets writes and tcsetattr go through, rather than stop the process.
class TerminalSignalsBlocked {
public:
    TerminalSignalsBlocked() {
        sigset_t blocked;
        sigemptyset(&blocked);
        sigaddset(&blocked, SIGTTIN);
        sigaddset(&blocked, SIGTTOU);
        restore_ = pthread_sigmask(SIG_BLOCK, &blocked, &saved_) == 0;
    }
    TerminalSignalsBlocked(const TerminalSignalsBlocked &) = delete;
    TerminalSignalsBlocked &operator=(const TerminalSignalsBlocked &) = delete;
    ~TerminalSignalsBlocked() noexcept {
        if (restore_) {
            pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
        }
    }

private:
    sigset_t saved_{};
    bool restore_ = false;
};

// The controlling terminal, when this process is in its foreground.
class Terminal {
public:
    Terminal() : fd_(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        if (fd_ >= 0 && tcgetpgrp(fd_) != getpgrp()) {
            close(fd_);
            fd_ = -1;
        }
    }
    Terminal(const Terminal &) = delete;
    Terminal &operator=(const Terminal &) = delete;
    ~Terminal() noexcept {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    bool Open() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    void Write(const std::string &text) const {
        std::size_t done = 0;
        while (done < text.size()) {
            ssize_t count = write(fd_, text.data() + done, text.size() - done);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0) {
                return;
            }
            done += static_cast<std::size_t>(count);
        }
    }

    // One octet; false at end of input or on an error (EIO in the background).
    bool Read(char &c) const {
        for (;;) {
            ssize_t count = read(fd_, &c, 1);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            return count == 1;
        }
    }

    // Reads one line into buffer (up to capacity - 1 octets are kept, the
    // rest of the line is dropped), zero-terminated and without its line end.
    // False at end of input or on an error.
    bool ReadLine(char *buffer, std::size_t capacity, std::size_t &length) const {
        length = 0;
        for (;;) {
            char c;
            if (!Read(c)) {
                buffer[length] = '\0';
                return false;
            }
            if (c == '\n') {
                break;
            }
            if (length + 1 < capacity) {
                buffer[length++] = c;
            }
        }
        if (length > 0 && buffer[length - 1] == '\r') {
            --length;
        }
        buffer[length] = '\0';
        return true;
    }

private:
    // Declared first: blocked before the terminal is opened, unblocked after it is closed.
    TerminalSignalsBlocked blocked_;
    int fd_;
};

// The settings to put back should the process end while a password is
// typed: exit() in any thread, as the JVM does for System.exit and for
// SIGTERM, SIGINT or SIGHUP from outside. Questions are asked one at a
// time (QuestionTurn), so one record serves. Never destroyed: threads may
// still run while exit handlers do.
struct QuietTerminal {
    std::mutex mutex;
    int fd = -1;
    termios saved{};
};

QuietTerminal &Quiet() {
    static QuietTerminal *const quiet = new QuietTerminal;
    return *quiet;
}

void RestoreAtExit() {
    QuietTerminal &quiet = Quiet();
    std::lock_guard<std::mutex> lock(quiet.mutex);
    if (quiet.fd >= 0) {
        TerminalSignalsBlocked blocked;
        tcsetattr(quiet.fd, TCSANOW, &quiet.saved);
        quiet.fd = -1;
    }
}

// While a password is typed: no echo, and no signals from the keyboard, so
// that Ctrl-C, Ctrl-\ and Ctrl-Z reach the prompt as characters and cancel
// it, rather than end or stop the JVM with echo off. Input is read octet by
// octet (non-canonical) so that they act at once. The saved settings come
// back when this goes, or at exit.
class QuietInput {
public:
    explicit QuietInput(int fd) : fd_(fd) {
        static const bool restoreAtExit = std::atexit(RestoreAtExit) == 0;
        if (!restoreAtExit || tcgetattr(fd_, &saved_) != 0) {
            return;
        }
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG);
        quiet.c_cc[VMIN] = 1;
        quiet.c_cc[VTIME] = 0;
        QuietTerminal &record = Quiet();
        std::lock_guard<std::mutex> lock(record.mutex);
        // Typed-ahead input is dropped: it was not meant as the password.
        active_ = tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
        if (active_) {
            record.fd = fd_;
            record.saved = saved_;
        }
    }
    QuietInput(const QuietInput &) = delete;
    QuietInput &operator=(const QuietInput &) = delete;
    ~QuietInput() noexcept {
        if (!active_) {
            return;
        }
        QuietTerminal &record = Quiet();
        std::lock_guard<std::mutex> lock(record.mutex);
        tcsetattr(fd_, TCSAFLUSH, &saved_);
        record.fd = -1;
    }
    bool Active() const { return active_; }
    // The settings in force before: the characters that edit and end a line.
    const termios &Saved() const { return saved_; }

private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

bool Is(char c, const termios &settings, int index) {
    const cc_t special = settings.c_cc[index];
    return special != _POSIX_VDISABLE && static_cast<cc_t>(c) == special;
}

// Reads a password typed in non-canonical mode, edited as the terminal
// would edit a line: its erase character removes the last character (all
// octets of a UTF-8 one), its kill character the whole line. A line end
// finishes; end of input, the end-of-file character on an empty line and
// the interrupt, quit and suspend characters cancel (false). Up to
// capacity - 1 octets are kept, zero-terminated.
bool ReadSecret(const Terminal &terminal, const termios &settings, char *buffer, std::size_t capacity,
                std::size_t &length) {
    length = 0;
    for (;;) {
        char c;
        if (!terminal.Read(c) || Is(c, settings, VINTR) || Is(c, settings, VQUIT) || Is(c, settings, VSUSP) ||
            (Is(c, settings, VEOF) && length == 0)) {
            length = 0;
            buffer[0] = '\0';
            return false;
        }
        if (c == '\n' || c == '\r') {
            break;
        }
        if (Is(c, settings, VERASE)) {
            while (length > 0 && (static_cast<unsigned char>(buffer[length - 1]) & 0xC0) == 0x80) {
                --length;
            }
            length -= length > 0 ? 1 : 0;
        } else if (Is(c, settings, VKILL)) {
            length = 0;
        } else if (!Is(c, settings, VEOF) && length + 1 < capacity) {
            buffer[length++] = c;
        }
    }
    buffer[length] = '\0';
    return true;
}

std::string Menu(const std::vector<CertificateRow> &rows, const std::vector<std::size_t> &order) {
    std::string menu = "\nCertificates in your personal certificate store:\n";
    for (std::size_t k = 0; k < order.size(); ++k) {
        const CertificateRow &row = rows[order[k]];
        menu += "  " + std::to_string(k + 1) + ") " + EscapedText(row.subject) + "\n";
        menu += "      issued by " + EscapedText(row.issuer) + "\n";
        menu += "      serial " + row.serial + ", valid from " + row.validFrom + " to " + row.validTo + "\n";
    }
    return menu;
}

}  // namespace

Answer ChooseOnTerminal(const std::vector<CertificateRow> &rows, const std::vector<std::size_t> &order,
                        std::size_t &chosen) {
    Terminal terminal;
    if (!terminal.Open()) {
        return Answer::kUnavailable;
    }
    terminal.Write(Menu(rows, order));
    const std::string count = std::to_string(order.size());
    for (;;) {
        terminal.Write("Certificate number, 1 to " + count + " (Enter alone cancels): ");
        char line[64];
        std::size_t length = 0;
        if (!terminal.ReadLine(line, sizeof line, length)) {
            terminal.Write("\n");
            return Answer::kCancelled;
        }
        std::size_t start = std::strspn(line, " \t");
        std::size_t end = length;
        while (end > start && (line[end - 1] == ' ' || line[end - 1] == '\t')) {
            --end;
        }
        if (start == end) {
            return Answer::kCancelled;
        }
        std::size_t value = 0;
        std::size_t i = start;
        for (; i < end && i - start < 9 && line[i] >= '0' && line[i] <= '9'; ++i) {
            value = value * 10 + static_cast<std::size_t>(line[i] - '0');
        }
        if (i == end && value >= 1 && value <= order.size()) {
            chosen = order[value - 1];
            return Answer::kGiven;
        }
        terminal.Write("There is no certificate " + EscapedText(std::string(line + start, end - start)) + ".\n");
    }
}

Answer AskPasswordOnTerminal(const std::string &storeName, SecretText &password) {
    Terminal terminal;
    if (!terminal.Open()) {
        return Answer::kUnavailable;
    }
    terminal.Write("Password for the certificate store \"" + EscapedText(storeName) + "\" (Enter alone cancels): ");
    std::size_t length = 0;
    bool read;
    {
        // A password is never shown: without echo control, no question.
        QuietInput quiet(terminal.Fd());
        if (!quiet.Active()) {
            terminal.Write("\n");
            return Answer::kUnavailable;
        }
        read = ReadSecret(terminal, quiet.Saved(), password.Buffer(), SecretText::kCapacity, length);
    }
    terminal.Write("\n");
    password.SetLength(length);
    return read && length > 0 ? Answer::kGiven : Answer::kCancelled;
}

}  // namespace kavro
