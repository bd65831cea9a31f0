package kavrotest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.fail;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.time.Duration;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.concurrent.TimeUnit;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.regex.Pattern;

/**
 * Runs one store call (StoreChild) in a JVM of its own, with -Xcheck:jni and
 * an environment of the test's choosing: the library reads HOME, DISPLAY
 * and WAYLAND_DISPLAY, and looks for a controlling terminal.
 */
public final class ChildJvm {
    /** What -Xcheck:jni prints when native code misbehaves. */
    public static final Pattern JNI_COMPLAINT = Pattern.compile(
            "WARNING in native method|FATAL ERROR in native method|WARNING: JNI local refs|handler modified");

    private static final AtomicInteger RUNS = new AtomicInteger();

    private ChildJvm() {
    }

    public static List<String> command(String... args) {
        return command(System.getProperty("brelmont.kavro.library"), args);
    }

    /** The command line with the kavro library at the given path. */
    public static List<String> command(String library, String... args) {
        List<String> command = new ArrayList<>();
        command.add(Paths.get(System.getProperty("java.home"), "bin", "java").toString());
        command.add("-Xcheck:jni");
        command.add("-Dbrelmont.kavro.library=" + library);
        command.add("-Dkavro.store=" + System.getProperty("kavro.store"));
        command.add("-cp");
        command.add(System.getProperty("kavro.classpath"));
        command.add("kavrotest.StoreChild");
        command.addAll(Arrays.asList(args));
        return command;
    }

    /** This JVM's environment without display and HOME, then HOME and the extra "NAME=value" entries. */
    public static Map<String, String> environment(Path home, String... extra) {
        Map<String, String> environment = new HashMap<>(System.getenv());
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.put("HOME", home.toString());
        for (String entry : extra) {
            int equals = entry.indexOf('=');
            environment.put(entry.substring(0, equals), entry.substring(equals + 1));
        }
        return environment;
    }

    /** Starts a child without a controlling terminal (a session of its own, as setsid makes it). */
    public static Running start(Map<String, String> environment, String... args) {
        return startWith(System.getProperty("brelmont.kavro.library"), environment, args);
    }

    /** The same with the kavro library at the given path. */
    public static Running startWith(String library, Map<String, String> environment, String... args) {
        List<String> command = new ArrayList<>(List.of("setsid", "-w"));
        command.addAll(command(library, args));
        Path out = Work.dir().resolve("child-" + RUNS.incrementAndGet());
        ProcessBuilder builder = new ProcessBuilder(command)
                .redirectInput(ProcessBuilder.Redirect.from(Paths.get("/dev/null").toFile()))
                .redirectOutput(out.resolveSibling(out.getFileName() + ".out").toFile())
                .redirectError(out.resolveSibling(out.getFileName() + ".err").toFile());
        builder.environment().clear();
        builder.environment().putAll(environment);
        try {
            return new Running(builder.start(), out);
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }

    public static Result run(Map<String, String> environment, String... args) {
        return start(environment, args).await(Duration.ofSeconds(60));
    }

    /** A child started without a terminal. */
    public static final class Running {
        private final Process process;
        private final Path files;

        Running(Process process, Path files) {
            this.process = process;
            this.files = files;
        }

        public Result await(Duration limit) {
            try {
                if (!process.waitFor(limit.toMillis(), TimeUnit.MILLISECONDS)) {
                    process.destroyForcibly();
                    fail("the store call did not end within " + limit);
                }
            } catch (InterruptedException e) {
                Thread.currentThread().interrupt();
                throw new IllegalStateException(e);
            }
            return Result.read(process.exitValue(), files.resolveSibling(files.getFileName() + ".out"),
                    files.resolveSibling(files.getFileName() + ".err"));
        }
    }

    /** What a child printed; checked for a clean exit without JNI complaints. */
    public static final class Result {
        private final Map<String, String> values = new HashMap<>();
        private final String errors;

        private Result(String output, String errors) {
            this.errors = errors;
            for (String line : output.split("\n")) {
                int equals = line.indexOf('=');
                if (equals > 0) {
                    values.put(line.substring(0, equals), line.substring(equals + 1));
                }
            }
        }

        static Result read(int exit, Path out, Path err) {
            try {
                Result result = new Result(Files.readString(out, StandardCharsets.UTF_8),
                        Files.readString(err, StandardCharsets.UTF_8));
                assertFalse(JNI_COMPLAINT.matcher(result.errors).find(), "JNI complaint: " + result.errors);
                assertEquals(0, exit, "child JVM failed: " + result.errors);
                return result;
            } catch (IOException e) {
                throw new IllegalStateException(e);
            }
        }

        public String value(String key) {
            String value = values.get(key);
            assertNotNull(value, "no " + key + " in the child's output; errors: " + errors);
            return value;
        }

        public int code(String key) {
            return Integer.parseInt(value(key));
        }

        public byte[] bytes(String key) {
            return StoreFiles.unhex(value(key));
        }

        /** What the child wrote to standard error. */
        public String errors() {
            return errors;
        }

        public long millis() {
            return Long.parseLong(value("ms"));
        }
    }
}
