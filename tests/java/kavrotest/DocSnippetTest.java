package kavrotest;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import Brelmont.Kavro;
import Brelmont.KavroHash;
import Brelmont.KavroMechanism;
import Brelmont.KavroModule;
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
 * whatever happens. The same recipe in Kavro's Javadoc, compiled from
 * Kavro.java, makes the same texts. The JCA provider's example in the
 * package overview, compiled and run on KavroMain. And the code tables of
 * docs/result-codes.md against Brelmont.KavroResult: the same names with the
 * same values, each with a description of its own; the module kinds, sign
 * mechanisms and hash types of the pages and the Javadoc against
 * KavroModule, KavroMechanism and KavroHash.
 */
class DocSnippetTest {
    static final int KIND = TokenStore.KIND;
    static final int ADMIN = TokenStore.slot("admin");
    static final byte[] SO_PIN = TokenStore.soPin();

    static Method snippet;
    /** The recipe of Kavro's class Javadoc. */
    static Method javadocRecipe;
    /** KavroAdmin's SO PIN as it stands. */
    static byte[] soPin = SO_PIN;

    /** Compiles one class from its text; its static method name(byte[], String). */
    static Method compile(String className, String text, String name) throws IOException, ReflectiveOperationException {
        Method method = compile(className, text).getDeclaredMethod(name, byte[].class, String.class);
        method.setAccessible(true);
        return method;
    }

    /** Kavro.java's class comment, without the comment's leading " * " or " *". */
    static String kavroJavadoc() throws IOException {
        String source = Files.readString(Paths.get(System.getenv("KAVRO_JAVA"), "Brelmont", "Kavro.java"));
        return source.substring(source.indexOf("/**"), source.indexOf("*/")).replaceAll("(?m)^ \\* ?", "");
    }

    @BeforeAll
    static void compileTheSnippetFromThePage() throws IOException, ReflectiveOperationException {
        Path page = Paths.get(System.getenv("KAVRO_DOCS"), "pin-transport.md");
        Matcher block = Pattern.compile("```java\n(.*?final class PinTransportText.*?)```", Pattern.DOTALL)
                .matcher(Files.readString(page, StandardCharsets.UTF_8));
        assertTrue(block.find(), "the snippet is on the page");
        snippet = compile("PinTransportText", block.group(1), "of");
        Matcher recipe = Pattern.compile("(?s)\n(static byte\\[\\] pinTransportText\\(.*?\n\\}\n)").matcher(kavroJavadoc());
        assertTrue(recipe.find(), "the recipe is in the Javadoc");
        javadocRecipe = compile("JavadocRecipe", "import java.nio.charset.StandardCharsets;\n"
                + "import java.security.GeneralSecurityException;\nimport java.util.Arrays;\nimport java.util.Base64;\n"
                + "import javax.crypto.Cipher;\nimport javax.crypto.spec.SecretKeySpec;\n"
                + "final class JavadocRecipe {\n" + recipe.group(1) + "}\n", "pinTransportText");
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
        return call(snippet, pin, serial);
    }

    static byte[] call(Method maker, byte[] pin, String serial) {
        try {
            return (byte[]) maker.invoke(null, pin, serial);
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
            assertArrayEquals(PinTransport.text(bytes(pin), serial), call(javadocRecipe, bytes(pin), serial), pin);
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
        Map<String, Integer> constants = constants(KavroResult.class);
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

    /** "| 0 | `zelcsp11.dll` |" rows of a page, or "<td>0</td><td>{@code zelcsp11.dll}</td>" ones of the Javadoc. */
    static Map<Integer, String> rows(String regex, String text) {
        Map<Integer, String> rows = new TreeMap<>();
        Matcher row = Pattern.compile(regex).matcher(text);
        while (row.find()) {
            assertEquals(null, rows.put(Integer.valueOf(row.group(1)), row.group(2)), row.group());
        }
        return rows;
    }

    /** The public static final int constants of a class, by name. */
    static Map<String, Integer> constants(Class<?> type) throws IllegalAccessException {
        Map<String, Integer> constants = new TreeMap<>();
        for (Field field : type.getFields()) {
            if (field.getType() == int.class && Modifier.isStatic(field.getModifiers())
                    && Modifier.isFinal(field.getModifiers())) {
                constants.put(field.getName(), field.getInt(null));
            }
        }
        return constants;
    }

    @Test
    void theKindsTablesOfThePlatformsPageAndTheJavadocAreKavroModules() throws IOException, IllegalAccessException {
        Map<Integer, String> files = new TreeMap<>();
        Map<String, Integer> kinds = new TreeMap<>();
        for (int kind = 0; kind < KavroModule.FILE_NAMES.size(); kind++) {
            files.put(kind, KavroModule.fileName(kind));
            kinds.put("KIND_" + kind, kind);
        }
        assertEquals(kinds, constants(KavroModule.class));
        String platforms = Files.readString(Paths.get(System.getenv("KAVRO_DOCS"), "platforms.md"));
        assertEquals(files, rows("(?m)^\\| (\\d) \\| `([^`]+)` \\|$", platforms));
        assertEquals(files, rows("<tr><td>(\\d)</td><td>\\{@code ([^}]+)\\}</td></tr>", kavroJavadoc()));
        assertEquals(null, KavroModule.fileName(-1));
        assertEquals(null, KavroModule.fileName(5));
    }

    @Test
    void theSelectorsOfTheReferenceAreKavroMechanismAndKavroHash() throws IOException, IllegalAccessException {
        String reference = Files.readString(Paths.get(System.getenv("KAVRO_DOCS"), "reference.md"));
        // "| 0 | `CKM_SHA1_RSA_PKCS` | ..." gives SHA1_RSA_PKCS = 0.
        Map<String, Integer> mechanisms = new TreeMap<>();
        rows("(?m)^\\| (\\d) \\| `CKM_(\\w+)` \\|", reference).forEach((value, name) -> mechanisms.put(name, value));
        assertEquals(4, mechanisms.size(), "the page's table was read");
        assertEquals(mechanisms, constants(KavroMechanism.class));
        // "`hashType` 0 SHA-1 (20 octets), 1 MD2 (16), 2 MD5 (16)" gives SHA1 = 0, of 20 octets.
        Matcher line = Pattern.compile("`hashType` ((?:\\d [-\\w]+ \\(\\d+[ a-z]*\\)(?:, )?)+)").matcher(reference);
        assertTrue(line.find(), "the page names the hash types");
        Map<String, Integer> hashes = new TreeMap<>();
        Matcher hash = Pattern.compile("(\\d) ([-\\w]+) \\((\\d+)").matcher(line.group(1));
        while (hash.find()) {
            int value = Integer.parseInt(hash.group(1));
            hashes.put(hash.group(2).replace("-", ""), value);
            assertEquals(Integer.parseInt(hash.group(3)), KavroHash.digestLength(value), hash.group());
        }
        assertEquals(3, hashes.size(), line.group());
        assertEquals(hashes, constants(KavroHash.class));
        assertEquals(0, KavroHash.digestLength(3));
        assertEquals(0, KavroHash.digestLength(-1));
    }
}
