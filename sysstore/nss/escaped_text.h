// Certificate texts and typed answers as the store shows them on a terminal
// or in a zenity list: such texts come from outside and must not be able to
// control the terminal, start a line of their own, hide characters or
// reorder what is shown around them.
#ifndef KAVRO_SYSSTORE_NSS_ESCAPED_TEXT_H
#define KAVRO_SYSSTORE_NSS_ESCAPED_TEXT_H

#include <string>

namespace kavro {

std::string EscapedText(const std::string &text);

}  // namespace kavro

#endif  // KAVRO_SYSSTORE_NSS_ESCAPED_TEXT_H
