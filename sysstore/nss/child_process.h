// Running a helper program (the dialog) from inside the JVM: no shell, an
// argument vector, its output captured through pipes, the child always reaped.
#ifndef KAVRO_SYSSTORE_NSS_CHILD_PROCESS_H
#define KAVRO_SYSSTORE_NSS_CHILD_PROCESS_H

#include <cstddef>
#include <string>
#include <vector>

namespace kavro {

struct ProgramResult {
    int exitStatus = -1;      // the exit status; -1 when the program ended by a signal
    std::size_t outputLength = 0;
    std::string errorText;    // the first 64 KiB of its standard error
};

// Runs the program at path with arguments (argv[0] first) and this
// process's environment plus extraEnvironment ("NAME=value" entries that
// replace those of the same name). Standard input is /dev/null; no other
// descriptor of this process reaches the program. Its standard output goes
// to output, up to capacity octets (the rest is read and dropped). Blocks
// until the program ends. False when it could not be started or its end
// could not be awaited (it is then terminated).
bool RunProgram(const std::string &path, const std::vector<std::string> &arguments,
                const std::vector<std::string> &extraEnvironment, char *output, std::size_t capacity,
                ProgramResult &result);

// The full path of an executable file called name in an absolute folder of
// PATH, or an empty string.
std::string FindProgram(const std::string &name);

}  // namespace kavro

#endif  // KAVRO_SYSSTORE_NSS_CHILD_PROCESS_H
