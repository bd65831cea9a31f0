package kavrotest;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import java.util.List;
import java.util.Map;

/**
 * A zenity on PATH that answers at once: the password to --entry, the first
 * row to --list. It notes a question that begins while another is open, and
 * keeps the arguments of the last question, one per NUL-ended entry.
 */
final class AnsweringZenity {
    private static final Path BIN = Work.dir().resolve("zenity");

    private AnsweringZenity() {
    }

    /** The environment of a child JVM with the store home and this zenity on a display it cannot reach. */
    static Map<String, String> environment(String home) throws IOException {
        Files.createDirectories(BIN);
        Files.deleteIfExists(BIN.resolve("overlaps"));
        Files.deleteIfExists(BIN.resolve("arguments"));
        Path zenity = BIN.resolve("zenity");
        Files.writeString(zenity, "#!/bin/sh\ncd \"$(dirname \"$0\")\"\n"
                + "mkdir open 2>/dev/null || echo overlap >>overlaps\n"
                + "printf '%s\\0' \"$@\" >arguments\n"
                + "sleep 0.02\nrmdir open 2>/dev/null\n"
                + "case \"$*\" in *--entry*) echo '" + StoreFiles.get("password") + "' ;; *) echo 0 ;; esac\n");
        zenity.toFile().setExecutable(true);
        return ChildJvm.environment(StoreFiles.home(home), "DISPLAY=:4711",
                "PATH=" + BIN + ":" + System.getenv("PATH"));
    }

    /** Whether a question began while another was open. */
    static boolean overlapped() {
        return Files.exists(BIN.resolve("overlaps"));
    }

    /** The arguments of the last question (UTF-8). */
    static List<String> lastArguments() throws IOException {
        return Arrays.asList(Files.readString(BIN.resolve("arguments")).split("\0"));
    }
}
