package kavrotest;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import Brelmont.Kavro;
import java.io.IOException;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import javax.tools.JavaCompiler;
import javax.tools.ToolProvider;
import org.junit.jupiter.api.AfterAll;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * The PIN transport snippet of docs/pin-transport.md, compiled from the page
 * as it stands and run against the SoftHSM2 token KavroAdmin: the token must
 * take the SO PIN from the snippet's texts, for PINs of one block, of exactly
 * one block without padding, and of two blocks. The SO PIN is put back
 * whatever happens.
 */
class DocSnippetTest {
    static final int KIND = TokenStore.KIND;
    static final int ADMIN = TokenStore.slot("admin");
    static final byte[] SO_PIN = TokenStore.soPin();

    static Method snippet;
    /** KavroAdmin's SO PIN as it stands. */
    static byte[] soPin = SO_PIN;

    @BeforeAll
    static void compileTheSnippetFromThePage() throws IOException, ReflectiveOperationException {
        Path page = Paths.get(System.getenv("KAVRO_DOCS"), "pin-transport.md");
        Matcher block = Pattern.compile("```java\n(.*?final class PinTransportText.*?)```", Pattern.DOTALL)
                .matcher(Files.readString(page, StandardCharsets.UTF_8));
        assertTrue(block.find(), "the snippet is on the page");
        Path sources = Files.createDirectories(Work.dir().resolve("snippet"));
        Path classes = Files.createDirectories(Work.dir().resolve("classes"));
        Path source = sources.resolve("PinTransportText.java");
        Files.writeString(source, block.group(1), StandardCharsets.UTF_8);
        JavaCompiler javac = ToolProvider.getSystemJavaCompiler();
        assertEquals(0, javac.run(null, null, null, "-d", classes.toString(), source.toString()), "it compiles");
        URLClassLoader loader = new URLClassLoader(new URL[] {classes.toUri().toURL()});
        snippet = loader.loadClass("PinTransportText").getDeclaredMethod("of", byte[].class, String.class);
        snippet.setAccessible(true);
        assertEquals(0, Kavro.GetSlotList(KIND, null, null));
        assertNotEquals(0, Kavro.ConnectToken(KIND, ADMIN));
    }

    @AfterAll
    static void putTheSoPinBack() {
        try {
            String serial = Kavro.RetrieveSerial(KIND, ADMIN);
            if (Kavro.VerifySoPin(KIND, ADMIN, SO_PIN) != 0) {
                assertEquals(0, Kavro.SetSoPin(KIND, ADMIN, PinTransport.text(soPin, serial),
                        PinTransport.text(SO_PIN, serial)));
            }
            assertEquals(0, Kavro.VerifySoPin(KIND, ADMIN, SO_PIN));
        } finally {
            assertEquals(0, Kavro.DisconnectToken(KIND, ADMIN));
        }
    }

    static byte[] text(byte[] pin, String serial) {
        try {
            return (byte[]) snippet.invoke(null, pin, serial);
        } catch (InvocationTargetException e) {
            throw new IllegalStateException(e.getCause());
        } catch (IllegalAccessException e) {
            throw new IllegalStateException(e);
        }
    }

    static byte[] bytes(String text) {
        return text.getBytes(StandardCharsets.US_ASCII);
    }

    /** SetSoPin with both PINs as the snippet makes them; the token must then take the new PIN in plain. */
    static void changeSoPin(byte[] to) {
        String serial = Kavro.RetrieveSerial(KIND, ADMIN);
        assertEquals(0, Kavro.SetSoPin(KIND, ADMIN, text(soPin, serial), text(to, serial)));
        soPin = to;
        assertEquals(0, Kavro.VerifySoPin(KIND, ADMIN, to));
    }

    @Test
    void theSnippetMakesTheTextsThatTheTokenDecryptsToItsPins() {
        changeSoPin(SO_PIN);
        changeSoPin(bytes("0123456789abcdef"));
        changeSoPin(bytes("0123456789abcdefg"));
        changeSoPin(SO_PIN);
    }

    @Test
    void theSnippetAgreesWithTheTestSuitesTransportTexts() {
        String serial = TokenStore.serial("admin");
        for (String pin : new String[] {"", "1234", "0123456789abcdef", "a PIN of thirty-three characters!"}) {
            assertArrayEquals(PinTransport.text(bytes(pin), serial), text(bytes(pin), serial), pin);
        }
        byte[] blank = text(SO_PIN, " ".repeat(16));
        assertEquals(0, blank[blank.length - 1], "ends with a zero byte");
    }
}
