package kavrotest;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import Brelmont.Kavro;
import Brelmont.KavroResult;
import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.lang.reflect.Field;
import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
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
 * whatever happens. The JCA provider's example in the package overview,
 * compiled and run on KavroMain. And the code tables of
 * docs/result-codes.md against Brelmont.KavroResult: the same names with the
 * same values, each with a description of its own.
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
        snippet = compile("PinTransportText", block.group(1)).getDeclaredMethod("of", byte[].class, String.class);
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

    /** Compiles a class from a documentation page, with kavro.jar, and loads it. */
    static Class<?> compile(String name, String text) throws IOException, ClassNotFoundException {
        Path sources = Files.createDirectories(Work.dir().resolve("snippet"));
        Path classes = Files.createDirectories(Work.dir().resolve("classes"));
        Path source = sources.resolve(name + ".java");
        Files.writeString(source, text, StandardCharsets.UTF_8);
        JavaCompiler javac = ToolProvider.getSystemJavaCompiler();
        assertEquals(0, javac.run(null, null, null, "-cp", System.getProperty("kavro.classpath"), "-d",
                classes.toString(), source.toString()), name + " compiles");
        URLClassLoader loader = new URLClassLoader(new URL[] {classes.toUri().toURL()},
                DocSnippetTest.class.getClassLoader());
        return loader.loadClass(name);
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

    /**
     * The package overview's example of the JCA provider, compiled from
     * java/Brelmont/package-info.java and run on KavroMain: the first alias
     * signs, the JDK verifies.
     */
    @Test
    void thePackageOverviewsProviderExampleSignsOnKavroMain() throws Exception {
        Path overview = Paths.get(System.getenv("KAVRO_DOCS"), "..", "java", "Brelmont", "package-info.java");
        Matcher block = Pattern.compile("<pre>\\{@code\n(.*?class SignThroughJca.*?)\n \\* \\}</pre>", Pattern.DOTALL)
                .matcher(Files.readString(overview, StandardCharsets.UTF_8));
        assertTrue(block.find(), "the example is in the overview");
        Method main = compile("SignThroughJca", block.group(1).replaceAll("(?m)^ \\* ?", ""))
                .getMethod("main", String[].class);
        String config = "kind=0,slot=" + Integer.toUnsignedString(TokenStore.slot("main"));
        PrintStream out = System.out;
        ByteArrayOutputStream printed = new ByteArrayOutputStream();
        System.setOut(new PrintStream(printed, true, StandardCharsets.UTF_8));
        try {
            main.invoke(null, (Object) new String[] {config, TokenStore.get("user.pin")});
        } finally {
            System.setOut(out);
        }
        assertEquals("cert01: true", printed.toString(StandardCharsets.UTF_8).strip());
    }

    /**
     * The named codes of the tables in docs/result-codes.md: a row such as
     * "| 1001 | `kNoModule` |" gives NO_MODULE = 1001, "| 0xA1, 0xA2 |
     * `CKR_PIN_INVALID`, `CKR_PIN_LEN_RANGE` |" two codes.
     */
    static Map<String, Integer> documentedCodes() throws IOException {
        String page = Files.readString(Paths.get(System.getenv("KAVRO_DOCS"), "result-codes.md"));
        Matcher row = Pattern.compile("(?m)^\\| ([-0-9xA-F, ]+?)(?: \\(0x[0-9A-F]+\\))? \\| (`\\w+`(?:, `\\w+`)*) \\|")
                .matcher(page);
        Map<String, Integer> codes = new TreeMap<>();
        while (row.find()) {
            String[] values = row.group(1).split(", ");
            String[] names = row.group(2).replace("`", "").split(", ");
            assertEquals(values.length, names.length, row.group());
            for (int i = 0; i < names.length; i++) {
                String name = names[i].startsWith("k")
                        ? names[i].substring(1).replaceAll("(?<=[a-z0-9])(?=[A-Z])", "_").toUpperCase() : names[i];
                assertEquals(null, codes.put(name, Integer.decode(values[i])), name + " twice");
            }
        }
        return codes;
    }

    @Test
    void kavroResultNamesExactlyTheDocumentedCodesAndDescribesEachOne() throws IOException, IllegalAccessException {
        Map<String, Integer> constants = new TreeMap<>();
        for (Field field : KavroResult.class.getFields()) {
            if (field.getType() == int.class && Modifier.isStatic(field.getModifiers())
                    && Modifier.isFinal(field.getModifiers())) {
                constants.put(field.getName(), field.getInt(null));
            }
        }
        Map<String, Integer> documented = documentedCodes();
        assertTrue(documented.keySet().containsAll(List.of("OK", "NO_MODULE", "LOGIN_REFUSED",
                "CKR_GENERAL_ERROR", "CKR_KEY_FUNCTION_NOT_PERMITTED", "CKR_OPERATION_NOT_INITIALIZED")),
                "the page's tables were read: " + documented.keySet());
        assertEquals(documented, constants);
        for (Map.Entry<String, Integer> code : documented.entrySet()) {
            String text = KavroResult.describe(code.getValue());
            assertTrue(text.startsWith(code.getKey() + ":") || text.startsWith(code.getKey() + " ("), text);
            boolean attempts = code.getValue() > 0 && code.getValue() < 256 && code.getValue() != 0xA4;
            assertEquals(attempts, text.contains("attempts left"), text);
        }
    }

    @Test
    void describeGivesAnUnknownCodeInHexadecimalAndASmallOneAlsoAsAttemptsLeft() {
        assertEquals("security-officer attempts left (200), or PKCS #11 result 0xC8", KavroResult.describe(200));
        assertEquals("PKCS #11 result 0x3F1", KavroResult.describe(1009));
        assertEquals("PKCS #11 result 0x80000001 (vendor-defined)", KavroResult.describe(0x80000001));
    }

    @Test
    void describeWithTheMethodReadsAttemptsOnlyWhereTheMethodCanAnswerThem() {
        String[][] cases = {
            {"Verify", "192", "CKR_SIGNATURE_INVALID (0xC0): the signature does not verify"},
            {"Sign", "200", "PKCS #11 result 0xC8"},
            {"VerifySoPin", "4", "security-officer attempts left (4)"},
            {"VerifySoPin", "164", KavroResult.describe(164)},
            {"SetSoPin", "162", KavroResult.describe(162)},
            {"NoSuchMethod", "192", KavroResult.describe(192)},
            {null, "4001", KavroResult.describe(4001)},
        };
        for (String[] c : cases) {
            assertEquals(c[2], KavroResult.describe(c[0], Integer.parseInt(c[1])), c[0] + " " + c[1]);
        }
        assertTrue(KavroResult.describe("SetSoPin", 162).contains("attempts left"));
    }
}
