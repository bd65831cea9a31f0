package kavrotest;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertTrue;

import Brelmont.Kavro;
import java.io.IOException;
import java.util.Arrays;
import java.util.Map;
import org.junit.jupiter.api.Test;

/**
 * SignByCSP and the MatchSerial choice against the NSS store of this run
 * (HOME set by CTest, no display, no terminal). Signatures are checked with
 * java.security.Signature.
 */
class StoreSignTest {
    private static final byte[] DATA = "data signed through the personal store".getBytes();
    private static final int FILL = 0x5A;

    private byte[] signature = filled(300);
    private int[] signatureLength = {-1};

    private static byte[] filled(int length) {
        byte[] bytes = new byte[length];
        Arrays.fill(bytes, (byte) FILL);
        return bytes;
    }

    private int signBySerial(byte[] serial, int serialLength) {
        return Kavro.SignByCSP(1, serial, serialLength, 0, DATA, DATA.length, signature, signatureLength);
    }

    private byte[] produced() {
        return Arrays.copyOf(signature, signatureLength[0]);
    }

    private void assertUntouched() {
        assertArrayEquals(filled(signature.length), signature);
        assertEquals(-1, signatureLength[0]);
    }

    @Test
    void everyKeyedCertificateSignsLeastSignificantOctetFirst() {
        for (String name : StoreFiles.names("keyed")) {
            byte[] serial = StoreFiles.serial(name);
            signature = filled(300);
            assertEquals(0, signBySerial(serial, serial.length), name);
            assertEquals(256, signatureLength[0], name);
            assertEquals((byte) FILL, signature[256], name + ": nothing written past the signature");
            assertTrue(StoreFiles.javaVerifies(name, DATA, StoreFiles.reversed(produced())), name);
            assertFalse(StoreFiles.javaVerifies(name, DATA, produced()), name + " is not big-endian");
        }
    }

    @Test
    void matchSerialNeedsTheExactSerialContent() {
        byte[] two = StoreFiles.serial("two");
        assertArrayEquals(new byte[] {0x00, (byte) 0x80, (byte) 0xA1, (byte) 0xB2, (byte) 0xC3}, two);
        assertEquals(1011, signBySerial(Arrays.copyOfRange(two, 1, 5), 4), "without the leading 0x00");
        assertEquals(1011, signBySerial(two, 4), "one octet short");
        assertEquals(1011, signBySerial(new byte[0], 0), "length 0 matches only an empty serial");
        assertEquals(1011, signBySerial(new byte[] {0x06}, 1));
        assertUntouched();
        assertEquals(0, signBySerial(new byte[] {0x05, 0x77}, 1), "serialLength counts, not the array");
        assertTrue(StoreFiles.javaVerifies("one", DATA, StoreFiles.reversed(produced())));
        byte[] twenty = StoreFiles.serial("twenty");
        assertEquals(20, twenty.length);
        assertEquals(0, signBySerial(twenty, 20));
    }

    @Test
    void serialsLongerThanTheWorkingBuffersAreFound() {
        for (String name : new String[] {"long", "verylong"}) {
            byte[] serial = StoreFiles.serial(name);
            assertTrue(serial.length > 50, name);
            assertEquals(0, signBySerial(serial, serial.length), name);
            assertTrue(StoreFiles.javaVerifies(name, DATA, StoreFiles.reversed(produced())), name);
        }
        assertEquals(120, StoreFiles.serial("verylong").length);
    }

    @Test
    void anExpiredCertificateStillSigns() {
        assertTrue(StoreFiles.certificate("expired").getNotAfter().getTime() < System.currentTimeMillis());
        byte[] serial = StoreFiles.serial("expired");
        assertEquals(0, signBySerial(serial, serial.length));
        assertTrue(StoreFiles.javaVerifies("expired", DATA, StoreFiles.reversed(produced())));
    }

    @Test
    void certificatesWithoutAnRsaKeyGive1303() {
        byte[] lone = StoreFiles.serial("lone");
        assertEquals(1303, signBySerial(lone, lone.length));
        byte[] ec = StoreFiles.serial("ec");
        assertEquals(1303, signBySerial(ec, ec.length), "an EC key cannot make an RSA signature");
        assertUntouched();
    }

    @Test
    void sourcesOtherThanDialogAndSerialAreRefused() {
        byte[] serial = StoreFiles.serial("one");
        for (int source : new int[] {2, 3, 4, 5, -1}) {
            assertEquals(1003, Kavro.SignByCSP(source, serial, serial.length, 0, DATA, DATA.length, signature,
                    signatureLength), "source " + source);
        }
        assertEquals(1003, signBySerial(null, 0), "MatchSerial without a serial");
        assertUntouched();
    }

    @Test
    void withoutDisplayOrTerminalTheDialogAnswersCancel() {
        assertNull(Kavro.ListCertByCSP());
        assertEquals(1302, Kavro.SignByCSP(0, null, 0, 0, DATA, DATA.length, signature, signatureLength));
        assertUntouched();
    }

    @Test
    void aSignatureArrayShorterThanTheSignatureIsLeftAsItWas() {
        byte[] serial = StoreFiles.serial("one");
        signature = filled(255);
        assertEquals(1003, signBySerial(serial, serial.length));
        assertUntouched();
        signature = filled(256);
        assertEquals(0, signBySerial(serial, serial.length));
        assertEquals(256, signatureLength[0]);
    }

    @Test
    void missingOutputArraysAreRefusedAfterTheKeyIsFound() {
        byte[] serial = StoreFiles.serial("one");
        assertEquals(1003, Kavro.SignByCSP(1, serial, serial.length, 0, null, 0, signature, signatureLength));
        assertEquals(1003, Kavro.SignByCSP(1, serial, serial.length, 0, DATA, DATA.length, null, signatureLength));
        assertEquals(1003, Kavro.SignByCSP(1, serial, serial.length, 0, DATA, DATA.length, signature, null));
        assertEquals(1003, Kavro.SignByCSP(1, serial, serial.length, 0, DATA, DATA.length, signature, new int[0]));
        assertUntouched();
        // The key is looked for first: a keyless certificate answers 1303 even so.
        byte[] lone = StoreFiles.serial("lone");
        assertEquals(1303, Kavro.SignByCSP(1, lone, lone.length, 0, null, 0, null, null));
    }

    @Test
    void lengthsBeyondTheirArraysAreRefusedBeforeTheStoreIsOpened() {
        byte[] serial = StoreFiles.serial("one");
        assertEquals(1003, signBySerial(serial, serial.length + 1));
        assertEquals(1003, signBySerial(serial, -1));
        assertEquals(1003, Kavro.SignByCSP(1, serial, 1, 0, DATA, DATA.length + 1, signature, signatureLength));
        assertEquals(1003, Kavro.SignByCSP(1, serial, 1, 0, DATA, -1, signature, signatureLength));
        // Before the store: an unknown serial would otherwise answer 1011.
        assertEquals(1003, Kavro.SignByCSP(1, new byte[] {0x06}, 1, 0, DATA, 99, signature, signatureLength));
        assertUntouched();
        // The dialog ignores serial and serialLength.
        assertEquals(1302, Kavro.SignByCSP(0, serial, 99, 0, DATA, DATA.length, signature, signatureLength));
    }

    @Test
    void threadsSigningWithAPasswordKeepEachOtherLoggedInAndAreAskedOneAtATime() throws IOException {
        Map<String, String> environment = AnsweringZenity.environment("home.password");
        String serial = StoreFiles.hex(StoreFiles.serial("one"));
        ChildJvm.Result result = ChildJvm.run(environment, "threads", "4", "20", "sign", "1", serial,
                StoreFiles.hex(DATA));
        assertEquals("{0=80}", result.value("threads"));
        assertFalse(AnsweringZenity.overlapped(), "two password questions at once");

        result = ChildJvm.run(AnsweringZenity.environment("home"), "threads", "3", "2", "list");
        assertFalse(result.value("threads").contains("null"), result.value("threads"));
        assertFalse(AnsweringZenity.overlapped(), "two dialogs at once");
    }

    @Test
    void firstStoreCallsOnManyThreadsAtOnceDoNotCrashTheJvm() {
        // Each JVM makes its first store calls, and so starts NSS, on eight
        // threads at once; one JVM in five crashed when NSS started unguarded.
        Map<String, String> environment = ChildJvm.environment(StoreFiles.home("home"));
        for (int i = 0; i < 8; i++) {
            assertEquals("{0=8}", ChildJvm.run(environment, "threads", "8", "1", "sign", "1",
                    StoreFiles.hex(StoreFiles.serial("one")), StoreFiles.hex(DATA)).value("threads"), "JVM " + i);
        }
    }

    @Test
    void onlyDataLengthOctetsAreSigned() {
        byte[] serial = StoreFiles.serial("two");
        assertEquals(0, Kavro.SignByCSP(1, serial, serial.length, 0, DATA, 4, signature, signatureLength));
        assertTrue(StoreFiles.javaVerifies("two", Arrays.copyOf(DATA, 4), StoreFiles.reversed(produced())));
        assertEquals(0, Kavro.SignByCSP(1, serial, serial.length, 0, new byte[0], 0, signature, signatureLength));
        assertTrue(StoreFiles.javaVerifies("two", new byte[0], StoreFiles.reversed(produced())));
    }
}
