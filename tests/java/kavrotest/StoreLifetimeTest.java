package kavrotest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import Brelmont.Kavro;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.stream.Stream;
import org.junit.jupiter.api.Test;

/**
 * Every store call opens the database afresh and leaves nothing open: no NSS
 * context (NSS_IsInitialized asked through NssProbe), no descriptor on the
 * database files, and changes made to the database between calls are seen.
 * HOME is a copy of the store that these tests may change.
 */
class StoreLifetimeTest {
    private static final byte[] DATA = "lifetime".getBytes();
    private static final Path DATABASE = StoreFiles.home("home.lifetime").resolve(".pki/nssdb");

    private static int signBySerial(byte[] serial) {
        byte[] signature = new byte[256];
        int[] signatureLength = {0};
        return Kavro.SignByCSP(1, serial, serial.length, 0, DATA, DATA.length, signature, signatureLength);
    }

    private static int verifyBySerial(String name) {
        byte[] signature = StoreFiles.reversed(StoreFiles.javaSignature(name, DATA));
        byte[] serial = StoreFiles.serial(name);
        return Kavro.VerifyByCSP(1, serial, serial.length, 0, DATA, DATA.length, signature, signature.length);
    }

    private static List<String> openDatabaseFiles() {
        List<String> open = new ArrayList<>();
        try (Stream<Path> fds = Files.list(Path.of("/proc/self/fd"))) {
            for (Path fd : (Iterable<Path>) fds::iterator) {
                try {
                    String target = Files.readSymbolicLink(fd).toString();
                    if (target.contains(".pki/nssdb")) {
                        open.add(target);
                    }
                } catch (IOException e) {
                    // The descriptor of the listing itself is gone by now.
                }
            }
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
        return open;
    }

    private static void assertNothingLeftOpen(String after) {
        assertTrue(NssProbe.loaded(), "kavro's NSS is in the process");
        assertFalse(NssProbe.initialized(), "an NSS context is still open after " + after);
        assertEquals(List.of(), openDatabaseFiles(), "database files still open after " + after);
    }

    private static void certutil(String... args) throws Exception {
        List<String> command = new ArrayList<>(List.of("certutil", "-d", "sql:" + DATABASE));
        command.addAll(List.of(args));
        Process process = new ProcessBuilder(command).redirectErrorStream(true).start();
        String output = new String(process.getInputStream().readAllBytes());
        assertEquals(0, process.waitFor(), "certutil: " + output);
    }

    @Test
    void noContextOrDatabaseFileOutlivesACall() {
        assertEquals(0, signBySerial(StoreFiles.serial("two")));
        assertNothingLeftOpen("signing");
        assertEquals(0, verifyBySerial("two"));
        assertNothingLeftOpen("verifying by serial");
        byte[] der = StoreFiles.der("one");
        byte[] signature = StoreFiles.reversed(StoreFiles.javaSignature("one", DATA));
        assertEquals(0, Kavro.VerifyByCSP(3, der, der.length, 0, DATA, DATA.length, signature, signature.length));
        assertNothingLeftOpen("verifying DER");
        assertNull(Kavro.ListCertByCSP());
        assertNothingLeftOpen("a cancelled dialog");
        assertEquals(1303, signBySerial(StoreFiles.serial("lone")));
        assertNothingLeftOpen("a missing key");
        assertEquals(1011, signBySerial(new byte[] {0x77}));
        assertNothingLeftOpen("an unknown serial");
        assertEquals(1308, Kavro.VerifyByCSP(3, der, der.length, 0, DATA, DATA.length, new byte[256], 256));
        assertNothingLeftOpen("a bad signature");
        assertEquals(1302, Kavro.VerifyByCSP(3, der, 10, 0, DATA, DATA.length, signature, signature.length));
        assertNothingLeftOpen("octets that are no certificate");
    }

    @Test
    void callAfterCallWorks() {
        for (int i = 0; i < 25; i++) {
            assertEquals(0, signBySerial(StoreFiles.serial(i % 2 == 0 ? "one" : "twenty")), "call " + i);
            assertEquals(0, verifyBySerial(i % 2 == 0 ? "twenty" : "one"), "call " + i);
        }
        assertNothingLeftOpen("50 calls");
    }

    @Test
    void changesToTheDatabaseBetweenCallsAreSeen() throws Exception {
        Path certificate = Work.dir().resolve("added.pem");
        Process openssl = new ProcessBuilder("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                "/dev/null", "-out", certificate.toString(), "-subj", "/CN=Added Between Calls", "-set_serial",
                "0x0ADD", "-days", "30").redirectErrorStream(true).start();
        openssl.getInputStream().readAllBytes();
        assertEquals(0, openssl.waitFor());
        byte[] serial = {0x0A, (byte) 0xDD};
        assertEquals(1011, signBySerial(serial));
        certutil("-A", "-n", "added", "-t", ",,", "-i", certificate.toString());
        try {
            assertEquals(1303, signBySerial(serial), "found now, but it has no key");
        } finally {
            certutil("-D", "-n", "added");
        }
        assertEquals(1011, signBySerial(serial));
    }

    @Test
    void aDatabaseThatGoesAwayAndComesBack() throws Exception {
        Path moved = DATABASE.resolveSibling("nssdb.away");
        Files.move(DATABASE, moved);
        try {
            assertEquals(1301, signBySerial(StoreFiles.serial("two")));
            assertEquals(1301, verifyBySerial("two"));
            assertNothingLeftOpen("a missing database");
        } finally {
            Files.move(moved, DATABASE);
        }
        assertEquals(0, signBySerial(StoreFiles.serial("two")));
    }
}
