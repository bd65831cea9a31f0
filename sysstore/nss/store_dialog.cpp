// The store's questions to its user: a zenity window when a display is
// present, else the terminal (store_terminal.cpp), else none.
#include "sysstore/nss/child_process.h"
#include "sysstore/nss/escaped_text.h"
#include "sysstore/nss/store_dialog.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace kavro {
namespace {

const char *const kZenityEnvironment = "NO_AT_BRIDGE=1";  // no accessibility bus: no delay, no warnings

bool DisplayPresent() {
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char *value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') {
            return true;
        }
    }
    return false;
}

// zenity would take a value that starts with '-' for an option.
std::string Cell(const std::string &text) { return !text.empty() && text[0] == '-' ? " " + text : text; }

// zenity reads dialog texts as Pango markup.
std::string Markup(const std::string &text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
            case '&': escaped += "&amp;"; break;
            case '<': escaped += "&lt;"; break;
            case '>': escaped += "&gt;"; break;
            default: escaped += c;
        }
    }
    return escaped;
}

// zenity ends with 1 both when cancelled and when it cannot reach the display.
Answer Judge(bool ran, const ProgramResult &result) {
    if (!ran || (result.exitStatus != 0 && result.errorText.find("cannot open display") != std::string::npos)) {
        return Answer::kUnavailable;
    }
    return result.exitStatus == 0 ? Answer::kGiven : Answer::kCancelled;
}

Answer ChooseWithZenity(const std::string &zenity, const std::vector<CertificateRow> &rows,
                        const std::vector<std::size_t> &order, std::size_t &chosen) {
    // The hidden first column holds the row's index, so that equal subjects stay apart.
    std::vector<std::string> arguments = {
        zenity, "--list", "--title=Select certificate",
        "--text=Choose a certificate of your personal certificate store.", "--width=1200", "--height=420",
        "--column=#", "--column=Subject", "--column=Issuer", "--column=Serial", "--column=Valid",
        "--hide-column=1", "--print-column=1"};
    for (std::size_t index : order) {
        const CertificateRow &row = rows[index];
        arguments.insert(arguments.end(), {std::to_string(index), Cell(EscapedText(row.subject)),
                                           Cell(EscapedText(row.issuer)), row.serial,
                                           row.validFrom + " to " + row.validTo});
    }
    char output[64];
    ProgramResult result;
    Answer answer = Judge(RunProgram(zenity, arguments, {kZenityEnvironment}, output, sizeof output, result), result);
    if (answer != Answer::kGiven) {
        return answer;
    }
    // The index and a line end.
    std::size_t value = 0;
    std::size_t digits = 0;
    for (; digits < result.outputLength && output[digits] >= '0' && output[digits] <= '9' && digits < 9; ++digits) {
        value = value * 10 + static_cast<std::size_t>(output[digits] - '0');
    }
    if (digits == 0 || value >= rows.size()) {
        return Answer::kCancelled;
    }
    chosen = value;
    return Answer::kGiven;
}

Answer AskPasswordWithZenity(const std::string &zenity, const std::string &storeName, SecretText &password) {
    const std::string text = "--text=Password for the certificate store \"" + Markup(EscapedText(storeName)) + "\":";
    std::vector<std::string> arguments = {zenity, "--entry", "--hide-text", "--title=Certificate store password", text};
    ProgramResult result;
    Answer answer = Judge(RunProgram(zenity, arguments, {kZenityEnvironment}, password.Buffer(),
                                     SecretText::kCapacity - 1, result),
                          result);
    if (answer != Answer::kGiven) {
        return answer;
    }
    std::size_t length = result.outputLength;
    if (length > 0 && password.Buffer()[length - 1] == '\n') {
        --length;
    }
    password.SetLength(length);
    return length > 0 ? Answer::kGiven : Answer::kCancelled;
}

std::vector<std::size_t> DisplayOrder(const std::vector<CertificateRow> &rows) {
    std::vector<std::size_t> order(rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(), [&rows](std::size_t a, std::size_t b) {
        const CertificateRow &x = rows[a];
        const CertificateRow &y = rows[b];
        if (x.subject != y.subject) {
            return x.subject < y.subject;
        }
        return x.issuer != y.issuer ? x.issuer < y.issuer : x.serial < y.serial;
    });
    return order;
}

std::string Zenity() { return DisplayPresent() ? FindProgram("zenity") : std::string(); }

// Never destroyed: a question may still be open on another thread at exit.
std::mutex &QuestionMutex() {
    static std::mutex *const mutex = new std::mutex;
    return *mutex;
}

void WipeText(char *text, std::size_t size) {
    volatile char *bytes = text;
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = 0;
    }
}

}  // namespace

SecretText::~SecretText() noexcept { WipeText(text_.data(), text_.size()); }

void SecretText::SetLength(std::size_t length) {
    std::size_t end = std::min(length, kCapacity - 1);
    WipeText(text_.data() + end, kCapacity - end);
}

QuestionTurn::QuestionTurn() : lock_(QuestionMutex()) {}

long ChooseCertificateRow(const std::vector<CertificateRow> &rows) {
    // An empty store offers nothing to choose from.
    if (rows.empty()) {
        return -1;
    }
    std::vector<std::size_t> order = DisplayOrder(rows);
    std::size_t chosen = 0;
    QuestionTurn turn;
    std::string zenity = Zenity();
    Answer answer = zenity.empty() ? Answer::kUnavailable : ChooseWithZenity(zenity, rows, order, chosen);
    if (answer == Answer::kUnavailable) {
        answer = ChooseOnTerminal(rows, order, chosen);
    }
    return answer == Answer::kGiven ? static_cast<long>(chosen) : -1;
}

bool AskStorePassword(const QuestionTurn &, const std::string &storeName, SecretText &password) {
    std::string zenity = Zenity();
    Answer answer = zenity.empty() ? Answer::kUnavailable : AskPasswordWithZenity(zenity, storeName, password);
    if (answer == Answer::kUnavailable) {
        answer = AskPasswordOnTerminal(storeName, password);
    }
    return answer == Answer::kGiven;
}

}  // namespace kavro
