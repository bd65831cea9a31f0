package kavrotest;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.security.cert.X509Certificate;
import java.text.SimpleDateFormat;
import java.time.Duration;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.TimeZone;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * The terminal menu and password prompt for real: each store call runs in a
 * child JVM on a tmux terminal (no display), read with capture-pane and
 * answered with send-keys; and, for contrast, calls with neither display nor
 * terminal, which answer Cancel at once.
 */
class StoreTerminalTest {
    private static final String PROMPT = "Certificate number, 1 to ";
    private static final String PASSWORD_PROMPT = "Password for the certificate store";
    private static final byte[] DATA = "chosen on the terminal".getBytes();
    private static final Duration LIMIT = Duration.ofSeconds(60);
    /** What stty -a shows for a terminal in its usual state. */
    private static final List<String> SANE = List.of("echo", "icanon", "isig");

    private static Tmux tmux;

    @BeforeAll
    static void startTmux() {
        tmux = new Tmux(Work.dir());
    }

    @AfterAll
    static void stopTmux() {
        tmux.close();
    }

    private static Map<String, String> environment(String home, String... extra) {
        return ChildJvm.environment(StoreFiles.home(home), extra);
    }

    private static String menuNumber(String name) {
        return Integer.toString(StoreFiles.dialogOrder().indexOf(name) + 1);
    }

    private static String date(java.util.Date date) {
        SimpleDateFormat format = new SimpleDateFormat("yyyy-MM-dd");
        format.setTimeZone(TimeZone.getTimeZone("UTC"));
        return format.format(date);
    }

    @Test
    void theMenuShowsEveryCertificateInOrderAndAChoiceGivesItsSerial() {
        Tmux.Session session = tmux.start(environment("home"), "list");
        String screen = session.waitFor(PROMPT, LIMIT);
        List<String> order = StoreFiles.dialogOrder();
        assertTrue(screen.contains(PROMPT + order.size() + " "), screen);
        int position = 0;
        for (int i = 0; i < order.size(); i++) {
            X509Certificate certificate = StoreFiles.certificate(order.get(i));
            String entry = "  " + (i + 1) + ") " + certificate.getSubjectX500Principal().getName() + "\n"
                    + "      issued by " + certificate.getIssuerX500Principal().getName() + "\n";
            int at = screen.indexOf(entry, position);
            assertTrue(at >= position, "row " + (i + 1) + " for " + order.get(i) + " in\n" + screen);
            position = at + entry.length();
            String validity = "valid from " + date(certificate.getNotBefore()) + " to "
                    + date(certificate.getNotAfter());
            assertTrue(screen.startsWith(validity, screen.indexOf(", ", position) + 2), order.get(i) + " " + validity);
        }
        assertTrue(screen.contains("serial 0080A1B2C3, valid"), screen);
        assertTrue(screen.contains("serial 7F01020304050607... (120 octets), valid"), screen);
        session.keys(menuNumber("two"), "Enter");
        assertEquals("0080A1B2C3", session.await(LIMIT).value("list"));
    }

    @Test
    void anEmptyAnswerOrEndOfInputCancels() {
        Tmux.Session session = tmux.start(environment("home"), "list");
        session.waitFor(PROMPT, LIMIT);
        session.keys("Enter");
        assertEquals("null", session.await(LIMIT).value("list"));

        session = tmux.start(environment("home"), "sign", "0", "-", StoreFiles.hex(DATA));
        session.waitFor(PROMPT, LIMIT);
        session.keys("  ", "Enter");
        assertEquals(1302, session.await(LIMIT).code("sign"), "blanks only");

        session = tmux.start(environment("home"), "list");
        session.waitFor(PROMPT, LIMIT);
        session.keys("C-d");
        assertEquals("null", session.await(LIMIT).value("list"));
    }

    @Test
    void answersThatNameNoCertificateAreAskedAgain() {
        Tmux.Session session = tmux.start(environment("home"), "list");
        session.waitFor(PROMPT, LIMIT);
        session.keys("99", "Enter");
        session.waitFor("There is no certificate 99.", LIMIT);
        session.keys("0", "Enter");
        session.waitFor("There is no certificate 0.", LIMIT);
        session.keys("two", "Enter");
        session.waitFor("There is no certificate two.", LIMIT);
        session.keys(" " + menuNumber("one") + " ", "Enter");
        assertEquals("05", session.await(LIMIT).value("list"));
    }

    @Test
    void signingWithACertificateChosenInTheMenu() {
        Tmux.Session session = tmux.start(environment("home"), "sign", "0", "-", StoreFiles.hex(DATA));
        session.waitFor(PROMPT, LIMIT);
        session.keys(menuNumber("long"), "Enter");
        ChildJvm.Result result = session.await(LIMIT);
        assertEquals(0, result.code("sign"));
        assertTrue(StoreFiles.javaVerifies("long", DATA, StoreFiles.reversed(result.bytes("signature"))));
    }

    @Test
    void theDatabasePasswordIsAskedWithoutEcho() {
        String serial = StoreFiles.hex(StoreFiles.serial("one"));
        String password = StoreFiles.get("password");
        Tmux.Session session = tmux.start(environment("home.password"), "sign", "1", serial, StoreFiles.hex(DATA));
        session.waitFor(PASSWORD_PROMPT, LIMIT);
        session.keys(password, "Enter");
        ChildJvm.Result result = session.await(LIMIT);
        assertEquals(0, result.code("sign"));
        assertTrue(StoreFiles.javaVerifies("one", DATA, StoreFiles.reversed(result.bytes("signature"))));
        assertFalse(session.screen().contains(password), "the password was shown");

        // Typing is edited as in a line the terminal edits: erase (Backspace) and kill (Ctrl-U).
        session = tmux.start(environment("home.password"), "sign", "1", serial, StoreFiles.hex(DATA));
        session.waitFor(PASSWORD_PROMPT, LIMIT);
        session.keys("not it", "C-u", password + "xy", "BSpace", "BSpace", "Enter");
        assertEquals(0, session.await(LIMIT).code("sign"), "edited");

        session = tmux.start(environment("home.password"), "sign", "1", serial, StoreFiles.hex(DATA));
        session.waitFor(PASSWORD_PROMPT, LIMIT);
        session.keys("Enter");
        assertEquals(1303, session.await(LIMIT).code("sign"), "no answer");

        session = tmux.start(environment("home.password"), "sign", "1", serial, StoreFiles.hex(DATA));
        session.waitFor(PASSWORD_PROMPT, LIMIT);
        session.keys("wrong", "Enter");
        assertEquals(1303, session.await(LIMIT).code("sign"), "a wrong answer");
    }

    @Test
    void controlsSeparatorsAndFormatCharactersInCertificateTextsAreShownEscaped() {
        Tmux.Session session = tmux.start(environment("home.hostile"), "list");
        String screen = session.waitFor(PROMPT, LIMIT);
        session.keys("Enter");
        assertEquals("null", session.await(LIMIT).value("list"));
        for (String name : StoreFiles.HOSTILE_NAMES_SHOWN) {
            assertTrue(screen.contains(") " + name + "\n      issued by " + name + "\n"), screen);
        }
    }

    @Test
    void theInterruptCharactersCancelThePromptAndTheTerminalIsRestored() {
        String serial = StoreFiles.hex(StoreFiles.serial("one"));
        for (String key : new String[] {"C-c", "C-\\", "C-z"}) {
            Tmux.Session session = tmux.start(environment("home.password"), "sign", "1", serial, StoreFiles.hex(DATA));
            session.waitFor(PASSWORD_PROMPT, LIMIT);
            session.keys("typed", key);
            assertEquals(1303, session.await(LIMIT).code("sign"), key);
            assertTrue(session.terminalSettings().containsAll(SANE), key + ": " + session.terminalSettings());
        }
    }

    @Test
    void aJvmEndedDuringThePasswordPromptLeavesTheTerminalAsItWas() {
        Tmux.Session session = tmux.start(environment("home.password"), "sign", "1",
                StoreFiles.hex(StoreFiles.serial("one")), StoreFiles.hex(DATA));
        session.waitFor(PASSWORD_PROMPT, LIMIT);
        session.jvm().destroy();
        assertEquals(143, session.awaitExit(LIMIT), "ended by SIGTERM");
        assertTrue(session.terminalSettings().containsAll(SANE), session.terminalSettings().toString());
    }

    @Test
    void aJvmInTheBackgroundOfItsTerminalIsNeitherAskedNorStopped() {
        Tmux.Session session = tmux.startJob(environment("home"), "CALL & wait $!", "list");
        assertEquals("null", session.await(LIMIT).value("list"));
        assertFalse(session.screen().contains(PROMPT), session.screen());
        session = tmux.startJob(environment("home.password"), "CALL & wait $!", "sign", "1",
                StoreFiles.hex(StoreFiles.serial("one")), StoreFiles.hex(DATA));
        assertEquals(1303, session.await(LIMIT).code("sign"));
        assertFalse(session.screen().contains(PASSWORD_PROMPT), session.screen());
    }

    @Test
    void aCallSentToTheBackgroundWhileTheMenuIsShownIsCancelled() {
        // Ctrl-Z stops the job at the menu, and bg lets it go on in the background.
        Tmux.Session session = tmux.startJob(environment("home"), "CALL; bg; wait $!", "list");
        session.waitFor(PROMPT, LIMIT);
        session.keys("C-z");
        assertEquals("null", session.await(LIMIT).value("list"));
    }

    @Test
    void withADisplayButNoUsableZenityTheTerminalIsUsed() {
        // zenity cannot reach this display.
        Tmux.Session session = tmux.start(environment("home", "DISPLAY=:4711"), "list");
        session.waitFor(PROMPT, LIMIT);
        session.keys(menuNumber("twenty"), "Enter");
        assertArrayEquals(StoreFiles.serial("twenty"), session.await(LIMIT).bytes("list"));
        // No zenity on PATH.
        session = tmux.start(environment("home", "DISPLAY=:4711", "PATH=/nonexistent"), "list");
        session.waitFor(PROMPT, LIMIT);
        session.keys("Enter");
        assertEquals("null", session.await(LIMIT).value("list"));
    }

    @Test
    void withNeitherDisplayNorTerminalEveryQuestionIsCancelledAtOnce() {
        List<String> timings = new ArrayList<>();
        ChildJvm.Result list = ChildJvm.run(environment("home"), "list");
        assertEquals("null", list.value("list"));
        timings.add("list " + list.millis() + " ms");
        ChildJvm.Result sign = ChildJvm.run(environment("home"), "sign", "0", "-", StoreFiles.hex(DATA));
        assertEquals(1302, sign.code("sign"));
        timings.add("sign " + sign.millis() + " ms");
        String signature = StoreFiles.hex(StoreFiles.reversed(StoreFiles.javaSignature("one", DATA)));
        ChildJvm.Result verify = ChildJvm.run(environment("home"), "verify", "0", "-", StoreFiles.hex(DATA),
                signature);
        assertEquals(1302, verify.code("verify"));
        timings.add("verify " + verify.millis() + " ms");
        ChildJvm.Result password = ChildJvm.run(environment("home.password"), "sign", "1",
                StoreFiles.hex(StoreFiles.serial("one")), StoreFiles.hex(DATA));
        assertEquals(1303, password.code("sign"));
        timings.add("password " + password.millis() + " ms");
        System.out.println("Without display and terminal: " + String.join(", ", timings));
    }
}
