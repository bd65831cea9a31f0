// What the Linux store asks its user: which certificate to use, and the
// database password. Both are asked the same way: in a zenity window when a
// display is present (DISPLAY or WAYLAND_DISPLAY) and zenity is installed,
// else on the controlling terminal (/dev/tty) when the process is in its
// foreground, else not at all, which answers as Cancel at once. Without a
// display and a terminal nothing here waits, except for another thread's
// question that is being answered.
#ifndef KAVRO_SYSSTORE_NSS_STORE_DIALOG_H
#define KAVRO_SYSSTORE_NSS_STORE_DIALOG_H

#include <array>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace kavro {

// One certificate as the dialog shows it.
struct CertificateRow {
    std::string subject;
    std::string issuer;
    std::string serial;     // hex, most significant octet first, as Java sees it (long ones shortened)
    std::string validFrom;  // YYYY-MM-DD, UTC
    std::string validTo;
};

// One question to the user at a time in the process: a certificate list or
// password prompt waits for one already shown, and the store calls run in
// parallel otherwise. ChooseCertificateRow takes the turn itself; a caller
// of AskStorePassword holds it across the question and what it does with the
// answer (the login, shared_login.cpp), so that a thread that waited can see
// that its question is no longer needed. Lock order: the turn is taken
// first; no other lock of this module is held while waiting for it.
class QuestionTurn {
public:
    QuestionTurn();
    QuestionTurn(const QuestionTurn &) = delete;
    QuestionTurn &operator=(const QuestionTurn &) = delete;

private:
    std::unique_lock<std::mutex> lock_;
};

// Rows are shown sorted by subject, issuer and serial. Returns the index
// into rows of the certificate chosen, or -1 when none was.
long ChooseCertificateRow(const std::vector<CertificateRow> &rows);

// A typed password, zero-terminated, wiped when it goes.
class SecretText {
public:
    static constexpr std::size_t kCapacity = 1024;
    SecretText() = default;
    SecretText(const SecretText &) = delete;
    SecretText &operator=(const SecretText &) = delete;
    ~SecretText() noexcept;
    char *Buffer() { return text_.data(); }
    const char *Text() const { return text_.data(); }
    // Ends the text after length octets (at most kCapacity - 1).
    void SetLength(std::size_t length);

private:
    std::array<char, kCapacity> text_{};
};

// Asks for the password of the store named storeName, in the caller's
// turn. False when the user gave none (cancelled, or no way to ask).
bool AskStorePassword(const QuestionTurn &turn, const std::string &storeName, SecretText &password);

// The terminal side (store_terminal.cpp). kUnavailable: no
// controlling terminal.
enum class Answer { kGiven, kCancelled, kUnavailable };
Answer ChooseOnTerminal(const std::vector<CertificateRow> &rows, const std::vector<std::size_t> &order,
                        std::size_t &chosen);
Answer AskPasswordOnTerminal(const std::string &storeName, SecretText &password);

}  // namespace kavro

#endif  // KAVRO_SYSSTORE_NSS_STORE_DIALOG_H
