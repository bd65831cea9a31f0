package kavrotest;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.IOException;
import java.nio.file.Files;
import java.time.Duration;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Map;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * The selection dialog for real: zenity on an Xvfb display of this class's
 * own, driven with xdotool. Each store call runs in a child JVM whose DISPLAY
 * names that display and which has no terminal. The texts of the list are
 * read from a stand-in zenity that records what it is given.
 */
class StoreDialogTest {
    private static final String SELECT = "Select certificate";
    private static final String PASSWORD = "Certificate store password";
    private static final byte[] DATA = "chosen in the dialog".getBytes();
    private static final Duration LIMIT = Duration.ofSeconds(60);

    private static VirtualDisplay display;

    @BeforeAll
    static void startDisplay() {
        display = VirtualDisplay.start();
    }

    @AfterAll
    static void stopDisplay() {
        display.close();
    }

    private static Map<String, String> environment(String home) {
        return ChildJvm.environment(StoreFiles.home(home), "DISPLAY=" + display.name());
    }

    private static String[] then(String[] keys, String last) {
        String[] all = Arrays.copyOf(keys, keys.length + 1);
        all[keys.length] = last;
        return all;
    }

    /** Runs a call that shows the list, and answers it with keys. */
    private static ChildJvm.Result chooseWith(String[] keys, String... call) {
        ChildJvm.Running child = ChildJvm.start(environment("home"), call);
        display.keys(display.window(SELECT), keys);
        return child.await(LIMIT);
    }

    private static ChildJvm.Result choose(String name, String... call) {
        int row = StoreFiles.dialogOrder().indexOf(name);
        return chooseWith(then(StoreFiles.keysToRow(row), "Return"), call);
    }

    @Test
    void escapeCancelsTheChoice() {
        assertEquals("null", chooseWith(new String[] {"Escape"}, "list").value("list"));
        assertEquals(1302, chooseWith(new String[] {"Escape"}, "sign", "0", "-", StoreFiles.hex(DATA)).code("sign"));
        byte[] signature = StoreFiles.reversed(StoreFiles.javaSignature("one", DATA));
        assertEquals(1302, chooseWith(new String[] {"Escape"}, "verify", "0", "-", StoreFiles.hex(DATA),
                StoreFiles.hex(signature)).code("verify"));
    }

    @Test
    void choosingARowGivesThatCertificatesWholeSerial() throws Exception {
        ChildJvm.Running child = ChildJvm.start(environment("home"), "list");
        String window = display.window(SELECT);
        display.keys(window, StoreFiles.keysToRow(StoreFiles.dialogOrder().indexOf("two")));
        Files.deleteIfExists(Work.dir().resolve("dialog.png"));
        display.screenshot(window, Work.dir().resolve("dialog.png"));
        display.keys(window, "Return");
        assertEquals("0080A1B2C3", child.await(LIMIT).value("list"), "the leading 0x00 is kept");

        for (String name : new String[] {"one", "verylong", "lone", "expired"}) {
            assertArrayEquals(StoreFiles.serial(name), choose(name, "list").bytes("list"), name);
        }
    }

    @Test
    void signingWithTheChosenCertificate() {
        ChildJvm.Result result = choose("twenty", "sign", "0", "-", StoreFiles.hex(DATA));
        assertEquals(0, result.code("sign"));
        assertTrue(StoreFiles.javaVerifies("twenty", DATA, StoreFiles.reversed(result.bytes("signature"))));
        assertEquals(1303, choose("lone", "sign", "0", "-", StoreFiles.hex(DATA)).code("sign"));
    }

    @Test
    void verifyingWithTheChosenCertificate() {
        String signature = StoreFiles.hex(StoreFiles.reversed(StoreFiles.javaSignature("one", DATA)));
        assertEquals(0, choose("one", "verify", "0", "-", StoreFiles.hex(DATA), signature).code("verify"));
        assertEquals(1308, choose("two", "verify", "0", "-", StoreFiles.hex(DATA), signature).code("verify"));
    }

    @Test
    void aDatabasePasswordIsAskedInAWindow() {
        String serial = StoreFiles.hex(StoreFiles.serial("one"));
        ChildJvm.Running child = ChildJvm.start(environment("home.password"), "sign", "1", serial,
                StoreFiles.hex(DATA));
        String window = display.window(PASSWORD);
        display.type(window, StoreFiles.get("password"));
        display.keys(window, "Return");
        ChildJvm.Result result = child.await(LIMIT);
        assertEquals(0, result.code("sign"));
        assertTrue(StoreFiles.javaVerifies("one", DATA, StoreFiles.reversed(result.bytes("signature"))));

        child = ChildJvm.start(environment("home.password"), "sign", "1", serial, StoreFiles.hex(DATA));
        display.keys(display.window(PASSWORD), "Escape");
        assertEquals(1303, child.await(LIMIT).code("sign"), "no answer");

        child = ChildJvm.start(environment("home.password"), "sign", "1", serial, StoreFiles.hex(DATA));
        window = display.window(PASSWORD);
        display.type(window, "not the password");
        display.keys(window, "Return");
        assertEquals(1303, child.await(LIMIT).code("sign"), "a wrong answer");
    }

    @Test
    void certificateTextsReachTheListEscaped() throws IOException {
        ChildJvm.run(AnsweringZenity.environment("home.hostile"), "list");
        List<String> arguments = AnsweringZenity.lastArguments();
        assertTrue(arguments.contains("--list"), arguments.toString());
        for (String name : StoreFiles.HOSTILE_NAMES_SHOWN) {
            assertEquals(2, Collections.frequency(arguments, name), "subject and issuer cells of " + name);
        }
    }

    @Test
    void aDisplayThatCannotBeReachedFallsBackToNoDialog() {
        Map<String, String> environment = ChildJvm.environment(StoreFiles.home("home"), "DISPLAY=:4711");
        assertEquals("null", ChildJvm.run(environment, "list").value("list"));
        assertEquals(1302, ChildJvm.run(environment, "sign", "0", "-", StoreFiles.hex(DATA)).code("sign"));
    }
}
