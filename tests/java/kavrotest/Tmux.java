package kavrotest;

import static org.junit.jupiter.api.Assertions.fail;

import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.time.Duration;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;

/**
 * A private tmux server whose sessions give a child JVM a real controlling
 * terminal, so that the terminal menu and password prompt can be read
 * (capture-pane) and answered (send-keys).
 */
public final class Tmux implements AutoCloseable {
    private final Path socket;
    private final Path dir;
    private int sessions;

    public Tmux(Path dir) {
        this.dir = dir;
        this.socket = dir.resolve("tmux.sock");
    }

    /** Runs a StoreChild call in a new session with exactly this environment's HOME and extra entries. */
    public Session start(Map<String, String> environment, String... args) {
        return startJob(environment, "CALL", args);
    }

    /**
     * Runs a StoreChild call as a job of bash with job control: script names
     * the call CALL and ends with its exit status, for example
     * "CALL & wait $!" for a job in the background. tmux starts its panes
     * with SIGTTIN and SIGTTOU ignored, where a shell in a terminal window has
     * them at their defaults; the call gets the defaults back, SIGTSTP too.
     */
    public Session startJob(Map<String, String> environment, String script, String... args) {
        String name = "s" + (++sessions);
        Path out = dir.resolve(name + ".out");
        Path err = dir.resolve(name + ".err");
        Path rc = dir.resolve(name + ".rc");
        Path stty = dir.resolve(name + ".stty");
        try {
            // Left from an earlier run of the tests.
            for (Path file : new Path[] {out, err, rc, stty}) {
                Files.deleteIfExists(file);
            }
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
        StringBuilder call = new StringBuilder("env --default-signal=SIGTTIN,SIGTTOU,SIGTSTP");
        call.append(" -u DISPLAY -u WAYLAND_DISPLAY");
        for (Map.Entry<String, String> entry : environment.entrySet()) {
            if (entry.getKey().equals("HOME") || entry.getKey().equals("DISPLAY") || entry.getKey().equals("PATH")) {
                call.append(' ').append(quote(entry.getKey() + "=" + entry.getValue()));
            }
        }
        for (String part : ChildJvm.command(args)) {
            call.append(' ').append(quote(part));
        }
        call.append(" >").append(quote(out.toString())).append(" 2>").append(quote(err.toString()));
        // The terminal's settings as the call left them, then its exit status.
        String line = "set -m; " + script.replace("CALL", call) + "; code=$?; stty -a >" + quote(stty.toString())
                + " 2>&1; echo $code >" + quote(rc.toString());
        tmux("new-session", "-d", "-s", name, "-x", "150", "-y", "80", "bash -c " + quote(line) + "; sleep 2");
        return new Session(name, out, err, rc, stty);
    }

    @Override
    public void close() {
        tmux("kill-server");
    }

    private String tmux(String... args) {
        List<String> command = new ArrayList<>(List.of("tmux", "-S", socket.toString()));
        command.addAll(List.of(args));
        try {
            Process process = new ProcessBuilder(command).redirectErrorStream(true).start();
            String output = new String(process.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
            process.waitFor();
            return output;
        } catch (IOException e) {
            throw new IllegalStateException(e);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new IllegalStateException(e);
        }
    }

    private static String quote(String text) {
        return "'" + text.replace("'", "'\\''") + "'";
    }

    /** One child JVM on its own terminal. */
    public final class Session {
        private final String name;
        private final Path out;
        private final Path err;
        private final Path rc;
        private final Path stty;

        Session(String name, Path out, Path err, Path rc, Path stty) {
            this.name = name;
            this.out = out;
            this.err = err;
            this.rc = rc;
            this.stty = stty;
        }

        /** Everything the terminal has shown. */
        public String screen() {
            return tmux("capture-pane", "-p", "-J", "-S", "-", "-t", name);
        }

        /** Waits until the terminal shows text; returns the screen. */
        public String waitFor(String text, Duration limit) {
            long end = System.nanoTime() + limit.toNanos();
            while (System.nanoTime() < end) {
                String screen = screen();
                if (screen.contains(text)) {
                    return screen;
                }
                pause();
            }
            fail("the terminal never showed \"" + text + "\":\n" + screen());
            return null;
        }

        /** tmux key names ("Enter", "C-d") or literal text. */
        public void keys(String... keys) {
            List<String> args = new ArrayList<>(List.of("send-keys", "-t", name));
            args.addAll(List.of(keys));
            tmux(args.toArray(new String[0]));
        }

        public ChildJvm.Result await(Duration limit) {
            return ChildJvm.Result.read(awaitExit(limit), out, err);
        }

        /** The child's exit status, however it ended. */
        public int awaitExit(Duration limit) {
            long end = System.nanoTime() + limit.toNanos();
            while (!Files.exists(rc) || readRc().isEmpty()) {
                if (System.nanoTime() > end) {
                    fail("the store call did not end within " + limit + ":\n" + screen());
                }
                pause();
            }
            return Integer.parseInt(readRc().trim());
        }

        /** The JVM's process: the child of the call's subshell. */
        public ProcessHandle jvm() {
            long shell = Long.parseLong(tmux("display-message", "-p", "-t", name, "#{pane_pid}").trim());
            return ProcessHandle.of(shell).orElseThrow().descendants()
                    .filter(process -> process.info().command().orElse("").endsWith("/java"))
                    .findFirst().orElseThrow();
        }

        /** "stty -a" on the terminal after the call ended: echo, icanon, isig, ... */
        public List<String> terminalSettings() {
            try {
                return List.of(Files.readString(stty).split("[\\s;]+"));
            } catch (IOException e) {
                throw new IllegalStateException(e);
            }
        }

        private String readRc() {
            try {
                return Files.readString(rc).trim();
            } catch (IOException e) {
                return "";
            }
        }
    }

    private static void pause() {
        try {
            Thread.sleep(50);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new IllegalStateException(e);
        }
    }
}
