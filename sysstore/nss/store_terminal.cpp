// The store's questions on the controlling terminal (/dev/tty): a numbered
// menu of certificates and a password prompt without echo. Without a
// controlling terminal, opening /dev/tty fails at once (ENXIO).
#include "sysstore/nss/escaped_text.h"
#include "sysstore/nss/store_dialog.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace kavro {
namespace {

class Terminal {
public:
    Terminal() : fd_(open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
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

    // Reads one line into buffer (up to capacity - 1 octets are kept, the
    // rest of the line is dropped), zero-terminated and without its line end.
    // False at end of input or on an error.
    bool ReadLine(char *buffer, std::size_t capacity, std::size_t &length) const {
        length = 0;
        for (;;) {
            char c;
            ssize_t count = read(fd_, &c, 1);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0) {
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
    int fd_;
};

// Turns echo off while a password is typed and back on afterwards.
class EchoOff {
public:
    explicit EchoOff(int fd) : fd_(fd) {
        if (tcgetattr(fd_, &saved_) != 0) {
            return;
        }
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        active_ = tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
    }
    EchoOff(const EchoOff &) = delete;
    EchoOff &operator=(const EchoOff &) = delete;
    ~EchoOff() noexcept {
        if (active_) {
            tcsetattr(fd_, TCSAFLUSH, &saved_);
        }
    }
    bool Active() const { return active_; }

private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

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
        EchoOff echoOff(terminal.Fd());
        if (!echoOff.Active()) {
            terminal.Write("\n");
            return Answer::kUnavailable;
        }
        read = terminal.ReadLine(password.Buffer(), SecretText::kCapacity, length);
    }
    terminal.Write("\n");
    password.SetLength(length);
    return read && length > 0 ? Answer::kGiven : Answer::kCancelled;
}

}  // namespace kavro
