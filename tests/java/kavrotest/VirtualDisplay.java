package kavrotest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.fail;

import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;

/** An Xvfb display of this test class's own, and xdotool to find windows on it and press keys. */
public final class VirtualDisplay implements AutoCloseable {
    private final Process xvfb;
    private final String name;

    private VirtualDisplay(Process xvfb, String name) {
        this.xvfb = xvfb;
        this.name = name;
    }

    /** Starts Xvfb on a free display number, which it reports once it accepts clients. */
    public static VirtualDisplay start() {
        try {
            Process xvfb = new ProcessBuilder("Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten",
                    "tcp").redirectError(ProcessBuilder.Redirect.DISCARD).start();
            BufferedReader reader = new BufferedReader(
                    new InputStreamReader(xvfb.getInputStream(), StandardCharsets.US_ASCII));
            String number = reader.readLine();
            if (number == null) {
                fail("Xvfb did not start");
            }
            return new VirtualDisplay(xvfb, ":" + number.trim());
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }

    /** The DISPLAY value. */
    public String name() {
        return name;
    }

    /** The id of the window with exactly this title, waiting up to 20 s for it. */
    public String window(String title) {
        String output = run(30, "xdotool", "search", "--sync", "--onlyvisible", "--name", "^" + title + "$");
        String[] ids = output.trim().split("\\s+");
        if (ids.length == 0 || ids[0].isEmpty()) {
            fail("no window \"" + title + "\" appeared");
        }
        return ids[0];
    }

    /** Focuses the window and presses keys (xdotool key names) one after another. */
    public void keys(String window, String... keys) {
        run(20, "xdotool", "windowfocus", "--sync", window);
        List<String> command = new ArrayList<>(List.of("xdotool", "key", "--delay", "80"));
        command.addAll(List.of(keys));
        run(20, command.toArray(new String[0]));
    }

    /** Focuses the window and types text. */
    public void type(String window, String text) {
        run(20, "xdotool", "windowfocus", "--sync", window);
        run(20, "xdotool", "type", "--delay", "40", text);
    }

    public void screenshot(String window, Path file) {
        run(20, "import", "-window", window, file.toString());
    }

    private String run(int seconds, String... command) {
        try {
            ProcessBuilder builder = new ProcessBuilder(command).redirectErrorStream(true);
            builder.environment().put("DISPLAY", name);
            Process process = builder.start();
            if (!process.waitFor(seconds, TimeUnit.SECONDS)) {
                process.destroyForcibly();
                fail(String.join(" ", command) + " did not finish");
            }
            String output = new String(process.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
            assertEquals(0, process.exitValue(), String.join(" ", command) + ": " + output);
            return output;
        } catch (IOException e) {
            throw new IllegalStateException(e);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new IllegalStateException(e);
        }
    }

    @Override
    public void close() {
        xvfb.destroy();
        try {
            xvfb.waitFor(10, TimeUnit.SECONDS);
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
    }
}
