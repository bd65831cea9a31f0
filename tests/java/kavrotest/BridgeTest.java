package kavrotest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import Brelmont.Kavro;
import Brelmont.KavroModule;
import Brelmont.KavroResult;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;
import java.util.stream.Collectors;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * The module bridge under the file names of kinds 0 to 4, set up the way a
 * user sets it up: a bridge.conf, written here before the first call, names
 * the real module behind each file. Kind 0 forwards to NSS's softoken with
 * the init-args it needs and a database made by certutil, kind 1 to the
 * mock, kind 2 to OpenSC's module on a machine with no card reader, kind 3
 * to a module that is not there, kind 4 to the mock without the vendor
 * extension. (SoftHSM2 through the bridge is what every SoftHsm* test runs on.)
 */
class BridgeTest {
    private static final int SOFTOKEN = 0;
    private static final int MOCK = 1;
    private static final int OPENSC = 2;
    private static final int MISSING = 3;
    private static final int NO_AUX = 4;
    private static final byte[] SO_PIN = "87654321".getBytes(StandardCharsets.US_ASCII);
    private static final byte[] WRONG = "00000000".getBytes(StandardCharsets.US_ASCII);

    private static final String SOFTOKEN_MODULE = System.getenv("KAVRO_TEST_SOFTOKEN_MODULE");
    private static final String SOFTOKEN_FAILS = "kavro-bridge: zelcsp11.dll: C_Initialize of " + SOFTOKEN_MODULE
            + " failed with 0x7; a module that needs initialisation arguments takes them from zelcsp11.dll.init-args"
            + " in bridge.conf";

    private static Path config;
    private static String missing;
    private static String softokenArgs;

    /** Writes HOME/kavro/bridge.conf, as XDG_CONFIG_HOME=HOME finds it. */
    private static Path writeConfig(Path home, String... lines) throws IOException {
        Path file = home.resolve("kavro").resolve("bridge.conf");
        Files.createDirectories(file.getParent());
        Files.writeString(file, String.join("\n", lines) + "\n");
        return file;
    }

    @BeforeAll
    static void configure() throws Exception {
        missing = Work.dir().resolve("no-such-module.so").toString();
        Path database = Work.dir().resolve("softoken");
        Files.createDirectories(database);
        Files.deleteIfExists(database.resolve("cert9.db"));
        Files.deleteIfExists(database.resolve("key4.db"));
        Process certutil = new ProcessBuilder("certutil", "-N", "-d", "sql:" + database, "--empty-password")
                .redirectErrorStream(true).start();
        String output = new String(certutil.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertEquals(0, certutil.waitFor(), "certutil: " + output);
        softokenArgs = "configdir='sql:" + database + "' certPrefix='' keyPrefix='' secmod='secmod.db' flags=";
        config = writeConfig(Paths.get(System.getenv("XDG_CONFIG_HOME")),
                "# Which real module each bridge file forwards to.",
                "orbeka-ca_csp11.dll = " + System.getenv("KAVRO_TEST_MOCK_MODULE"),
                "dunmere-ca.dll = " + System.getenv("KAVRO_TEST_OPENSC_MODULE"),
                "talvis-ca.dll = " + missing,
                "MorvenCA.dll = \"" + System.getenv("KAVRO_TEST_NOAUX_MODULE") + "\"",
                "so-pin-tries = 9",
                "zelcsp11.dll = " + SOFTOKEN_MODULE,
                "zelcsp11.dll.init-args = " + softokenArgs);
    }

    private static int firstSlot(int kind) {
        int[] ids = new int[4];
        int[] count = {0};
        assertEquals(0, Kavro.GetSlotList(kind, ids, count));
        return ids[0];
    }

    @Test
    void aModuleWithItsOwnPinStatusAnswersForTheAttemptsLeft() {
        MockModule mock = MockModule.at(System.getenv("KAVRO_TEST_MOCK_MODULE")).reset();
        mock.run("slot 0x2101 userpin=1234 sopin=87654321 sotries=5");
        assertEquals(0x2101, firstSlot(MOCK));
        assertNotEquals(0, Kavro.ConnectToken(MOCK, 0x2101));
        assertEquals(4, Kavro.VerifySoPin(MOCK, 0x2101, WRONG), "the mock's own count, not the bridge's 9");
        assertEquals(List.of("GetPinStatus slot=8449"), mock.calls("GetPinStatus"));
        assertEquals(0, Kavro.VerifySoPin(MOCK, 0x2101, SO_PIN));
        assertEquals(0, Kavro.Login(MOCK, 0x2101, "1234".getBytes(StandardCharsets.US_ASCII)),
                "other calls pass through to the module");
        assertEquals(0, Kavro.DisconnectToken(MOCK, 0x2101));
    }

    @Test
    void withoutOneTheTokenFlagsAndThenTheBridgesOwnCountAnswer() {
        MockModule mock = MockModule.at(System.getenv("KAVRO_TEST_NOAUX_MODULE")).reset();
        mock.run("slot 0x2401 sopin=87654321 sotries=5; slot 0x2402 sopin=87654321 sotries=2");
        firstSlot(NO_AUX);
        assertNotEquals(0, Kavro.ConnectToken(NO_AUX, 0x2401));
        assertNotEquals(0, Kavro.ConnectToken(NO_AUX, 0x2402));
        // Attempts to spare and no flag saying otherwise: counted from so-pin-tries.
        assertEquals(8, Kavro.VerifySoPin(NO_AUX, 0x2401, WRONG));
        assertEquals(7, Kavro.VerifySoPin(NO_AUX, 0x2401, WRONG));
        assertEquals(0, Kavro.VerifySoPin(NO_AUX, 0x2401, SO_PIN));
        assertEquals(8, Kavro.VerifySoPin(NO_AUX, 0x2401, WRONG), "a right PIN restores the count");
        // The token's own CKF_SO_PIN_FINAL_TRY outranks the count.
        assertEquals(1, Kavro.VerifySoPin(NO_AUX, 0x2402, WRONG));
        assertEquals(0, Kavro.VerifySoPin(NO_AUX, 0x2402, SO_PIN));
    }

    @Test
    void softokenStartsWithTheInitArgsOfItsEntry() {
        assertEquals(0, Kavro.Initialize(SOFTOKEN));
        int[] count = {0};
        assertEquals(0, Kavro.GetSlotList(SOFTOKEN, new int[4], count));
        assertEquals(2, count[0], "the crypto services slot and the database's");
    }

    @Test
    void withoutThemItFailsInitializeAndTheBridgeSaysSo() throws IOException {
        Path bare = Work.dir().resolve("softoken-bare");
        writeConfig(bare, "zelcsp11.dll = " + SOFTOKEN_MODULE);
        ChildJvm.Result result = ChildJvm.run(ChildJvm.environment(Work.dir(), "XDG_CONFIG_HOME=" + bare),
                "initialize", "" + SOFTOKEN);
        assertEquals(1001, result.code("initialize"));
        assertEquals(List.of(SOFTOKEN_FAILS), result.errors().lines().collect(Collectors.toList()));

        // The environment names a module and its init-args for every bridge file at once.
        ChildJvm.Result fromEnvironment = ChildJvm.run(ChildJvm.environment(Work.dir(), "XDG_CONFIG_HOME=" + bare,
                "KAVRO_BRIDGE_MODULE=" + SOFTOKEN_MODULE, "KAVRO_BRIDGE_INIT_ARGS=" + softokenArgs),
                "initialize", "" + SOFTOKEN);
        assertEquals(0, fromEnvironment.code("initialize"), fromEnvironment.errors());
    }

    @Test
    void theDebugOutputNotesNamesWithoutAFileAndLinksSentElsewhere() throws IOException {
        Path links = Work.dir().resolve("links");
        Files.createDirectories(links);
        for (String name : List.of("zelcsp11.dll", "orbeka-ca_csp11.dll")) {
            Files.deleteIfExists(links.resolve(name));
            Files.createSymbolicLink(links.resolve(name), Paths.get(System.getenv("KAVRO_TEST_BRIDGE")));
        }
        String mock = System.getenv("KAVRO_TEST_MOCK_MODULE");
        Path home = Work.dir().resolve("links-config");
        Path file = writeConfig(home, "zelcsp11.dll = " + missing, "orbeka-ca_csp11.dll = " + mock, "nosuch.dll = " + mock);
        ChildJvm.Result result = ChildJvm.run(ChildJvm.environment(Work.dir(), "XDG_CONFIG_HOME=" + home,
                "LD_LIBRARY_PATH=" + links, "KAVRO_BRIDGE_DEBUG=1"), "initialize", "" + SOFTOKEN);
        assertEquals(1001, result.code("initialize"));
        assertTrue(result.errors().contains(file + " line 2: " + links.resolve("orbeka-ca_csp11.dll")
                + " is this same library, so orbeka-ca_csp11.dll reaches " + missing + ", not " + mock
                + "; make it a copy of the bridge, not a link\n"), result.errors());
        assertTrue(result.errors().contains(file + " line 3: no file nosuch.dll beside this bridge or in a folder of "
                + "LD_LIBRARY_PATH\n"), result.errors());
        // The SIGPIPE guard is found beside the file the link leads to.
        Path guard = Paths.get(System.getenv("KAVRO_TEST_BRIDGE")).toRealPath().resolveSibling("libkavro-sigpipe.so");
        assertTrue(result.errors().contains("zelcsp11.dll: SIGPIPE guard " + guard + " loaded\n"), result.errors());
    }

    @Test
    void openScWithNoReaderHasNoSlots() {
        assertEquals(0, Kavro.Initialize(OPENSC));
        assertEquals(1012, Kavro.GetSlotList(OPENSC, new int[4], new int[1]));
    }

    @Test
    void aModuleThatCannotBeHadGives1001AndOneLineSayingWhy() throws IOException {
        ChildJvm.Result result = ChildJvm.run(ChildJvm.environment(Work.dir()), "initialize", "" + MISSING);
        assertEquals(1001, result.code("initialize"));
        List<String> lines = result.errors().lines().collect(Collectors.toList());
        assertEquals(1, lines.size(), result.errors());
        assertTrue(lines.get(0).startsWith("kavro-bridge: talvis-ca.dll: cannot load " + missing + ": "), lines.get(0));

        // Each kind loads the file that KavroModule names: its bridge says so.
        Path home = Work.dir().resolve("kinds-config");
        writeConfig(home, KavroModule.FILE_NAMES.stream().map(name -> name + " = " + missing).toArray(String[]::new));
        for (int kind = KavroModule.KIND_0; kind <= KavroModule.KIND_4; kind++) {
            ChildJvm.Result each = ChildJvm.run(ChildJvm.environment(Work.dir(), "XDG_CONFIG_HOME=" + home),
                    "initialize", "" + kind);
            assertEquals(KavroResult.NO_MODULE, each.code("initialize"));
            assertTrue(each.errors().startsWith("kavro-bridge: " + KavroModule.fileName(kind) + ": cannot load "),
                    each.errors());
        }

        // A kind without a module file gives the same code, and no line.
        ChildJvm.Result unknown = ChildJvm.run(ChildJvm.environment(Work.dir()), "initialize", "7");
        assertEquals(1001, unknown.code("initialize"));
        assertEquals("", unknown.errors());

        // Asked, the bridge tells which settings it found where.
        ChildJvm.Result debug = ChildJvm.run(ChildJvm.environment(Work.dir(), "KAVRO_BRIDGE_DEBUG=1"),
                "initialize", "" + MISSING);
        assertTrue(debug.errors().contains("talvis-ca.dll: forwarding to " + missing + " (from " + config + " line 4)"),
                debug.errors());

        Path empty = Work.dir().resolve("no-config");
        ChildJvm.Result unset = ChildJvm.run(ChildJvm.environment(Work.dir(), "XDG_CONFIG_HOME=" + empty),
                "initialize", "" + MISSING);
        assertEquals(1001, unset.code("initialize"));
        assertTrue(unset.errors().startsWith("kavro-bridge: talvis-ca.dll: no module configured: set "
                + "KAVRO_BRIDGE_MODULE, or add \"talvis-ca.dll = <module path>\" to " + empty), unset.errors());
    }
}
