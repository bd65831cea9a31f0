package kavrotest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import Brelmont.Kavro;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.Arrays;
import org.junit.jupiter.api.Test;

/**
 * VerifyByCSP against the NSS store of this run, with certificates from the
 * store, as PEM text, as DER octets and from files. Signatures are made by
 * java.security.Signature and reversed to the library's order.
 */
class StoreVerifyTest {
    private static final byte[] DATA = "data verified through the personal store".getBytes();
    private static final int STORE_SERIAL = 1;
    private static final int PEM_TEXT = 2;
    private static final int DER_BYTES = 3;
    private static final int CERTIFICATE_FILE = 4;

    private static int verify(int source, byte[] certificate, byte[] data, byte[] signature) {
        return Kavro.VerifyByCSP(source, certificate, certificate == null ? 0 : certificate.length, 0, data,
                data == null ? 0 : data.length, signature, signature == null ? 0 : signature.length);
    }

    /** A Java signature in the library's order: least significant octet first. */
    private static byte[] signature(String name) {
        return StoreFiles.reversed(StoreFiles.javaSignature(name, DATA));
    }

    private static byte[] pemWithoutLineEnd(String name) {
        String text = new String(StoreFiles.pem(name), StandardCharsets.US_ASCII).strip();
        return text.getBytes(StandardCharsets.US_ASCII);
    }

    private static byte[] path(Path file) {
        return file.toString().getBytes(StandardCharsets.UTF_8);
    }

    private static Path write(String name, byte[] contents) {
        try {
            return Files.write(Work.dir().resolve(name), contents);
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }

    private static byte[] concat(byte[] a, byte[] b) {
        byte[] result = Arrays.copyOf(a, a.length + b.length);
        System.arraycopy(b, 0, result, a.length, b.length);
        return result;
    }

    @Test
    void javaSignaturesVerifyFromEverySourceButTheDialog() {
        for (String name : StoreFiles.names("keyed")) {
            byte[] signature = signature(name);
            assertEquals(0, verify(STORE_SERIAL, StoreFiles.serial(name), DATA, signature), name + " by serial");
            assertEquals(0, verify(PEM_TEXT, pemWithoutLineEnd(name), DATA, signature), name + " as PEM text");
            assertEquals(0, verify(DER_BYTES, StoreFiles.der(name), DATA, signature), name + " as DER");
            assertEquals(0, verify(CERTIFICATE_FILE, path(StoreFiles.file(name + ".pem")), DATA, signature),
                    name + " from a PEM file");
            assertEquals(0, verify(CERTIFICATE_FILE, path(StoreFiles.file(name + ".der")), DATA, signature),
                    name + " from a DER file");
        }
    }

    @Test
    void bigEndianOrAlteredSignaturesAndChangedDataDoNotVerify() {
        byte[] der = StoreFiles.der("two");
        byte[] bigEndian = StoreFiles.javaSignature("two", DATA);
        byte[] changed = DATA.clone();
        changed[5] ^= 1;
        byte[] otherKey = signature("one");
        byte[][] certificates = {StoreFiles.serial("two"), pemWithoutLineEnd("two"), der,
            path(StoreFiles.file("two.pem"))};
        for (int source = STORE_SERIAL; source <= CERTIFICATE_FILE; source++) {
            byte[] certificate = certificates[source - STORE_SERIAL];
            assertEquals(1308, verify(source, certificate, DATA, bigEndian), "unreversed, source " + source);
            assertEquals(1308, verify(source, certificate, changed, signature("two")), "data, source " + source);
            assertEquals(1308, verify(source, certificate, DATA, otherKey), "other key, source " + source);
            assertEquals(1308, verify(source, certificate, DATA, Arrays.copyOf(signature("two"), 255)));
            assertEquals(1308, verify(source, certificate, DATA, new byte[0]));
        }
    }

    @Test
    void signaturesFromSignByCspVerifyAndReversedDoNot() {
        byte[] serial = StoreFiles.serial("twenty");
        byte[] signature = new byte[256];
        int[] signatureLength = {0};
        assertEquals(0, Kavro.SignByCSP(1, serial, serial.length, 0, DATA, DATA.length, signature, signatureLength));
        assertEquals(0, verify(STORE_SERIAL, serial, DATA, signature));
        assertEquals(0, verify(DER_BYTES, StoreFiles.der("twenty"), DATA, signature));
        assertEquals(1308, verify(STORE_SERIAL, serial, DATA, StoreFiles.reversed(signature)));
    }

    @Test
    void onlyTheGivenLengthsAreUsed() {
        byte[] der = StoreFiles.der("one");
        byte[] signature = signature("one");
        byte[] longerData = concat(DATA, new byte[] {1, 2, 3});
        byte[] longerSignature = concat(signature, new byte[] {9, 9});
        byte[] longerDer = concat(der, new byte[] {0x30, 0x00});
        assertEquals(0, Kavro.VerifyByCSP(DER_BYTES, longerDer, der.length, 0, longerData, DATA.length,
                longerSignature, signature.length));
    }

    @Test
    void pemFilesMayEndWithALineEndOrNothingButPemTextMustEndWithTheMarker() {
        byte[] pem = pemWithoutLineEnd("two");
        byte[] signature = signature("two");
        for (String ending : new String[] {"", "\n", "\r\n"}) {
            Path file = write("two" + ending.length() + ".pem", concat(pem, ending.getBytes()));
            assertEquals(0, verify(CERTIFICATE_FILE, path(file), DATA, signature), "file ending " + ending.length());
        }
        String crlf = new String(pem, StandardCharsets.US_ASCII).replace("\n", "\r\n") + "\r\n";
        assertEquals(0, verify(CERTIFICATE_FILE, path(write("crlf.pem", crlf.getBytes())), DATA, signature));
        assertEquals(1202, verify(PEM_TEXT, concat(pem, "\n".getBytes()), DATA, signature));
        assertEquals(1202, verify(PEM_TEXT, StoreFiles.pem("two"), DATA, signature), "as openssl wrote it");
    }

    @Test
    void certificateFilesThatAreNeitherGiveTheirOwnCodes() {
        byte[] signature = signature("two");
        byte[] bom = concat(new byte[] {(byte) 0xEF, (byte) 0xBB, (byte) 0xBF}, StoreFiles.pem("two"));
        assertEquals(1302, verify(CERTIFICATE_FILE, path(write("bom.pem", bom)), DATA, signature));
        assertEquals(1302, verify(CERTIFICATE_FILE, path(write("empty.pem", new byte[0])), DATA, signature));
        assertEquals(1305, verify(CERTIFICATE_FILE, path(Work.dir().resolve("missing.pem")), DATA, signature));
        assertEquals(1305, verify(CERTIFICATE_FILE, path(Work.dir()), DATA, signature), "a folder");
        byte[] large = concat(StoreFiles.der("two"), new byte[4097 - StoreFiles.der("two").length]);
        assertEquals(1305, verify(CERTIFICATE_FILE, path(write("large.der", large)), DATA, signature));
        byte[] noEnd = "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE----\n".getBytes();
        assertEquals(1202, verify(CERTIFICATE_FILE, path(write("noend.pem", noEnd)), DATA, signature));
        byte[] shortBody = "-----BEGIN CERTIFICATE-----\nMIIB\n-----END CERTIFICATE-----\n".getBytes();
        assertEquals(1302, verify(CERTIFICATE_FILE, path(write("short.pem", shortBody)), DATA, signature));
    }

    @Test
    void octetsThatAreNoCertificateGive1302() {
        byte[] signature = signature("two");
        byte[] der = StoreFiles.der("two");
        assertEquals(1302, verify(DER_BYTES, Arrays.copyOf(der, der.length - 1), DATA, signature));
        assertEquals(1302, verify(DER_BYTES, new byte[] {0x30, 0x00}, DATA, signature));
        assertEquals(1302, verify(DER_BYTES, new byte[0], DATA, signature));
        assertEquals(1302, verify(PEM_TEXT, "-----BEGIN CERTIFICATE-----\n-----END CERTIFICATE-----".getBytes(),
                DATA, signature));
    }

    @Test
    void onlyThePublicKeyCounts() {
        // Expired, and without a key in the store: both still verify.
        assertTrue(StoreFiles.certificate("expired").getNotAfter().getTime() < System.currentTimeMillis());
        assertEquals(0, verify(STORE_SERIAL, StoreFiles.serial("expired"), DATA, signature("expired")));
        assertEquals(0, verify(DER_BYTES, StoreFiles.der("expired"), DATA, signature("expired")));
        assertEquals(1308, verify(STORE_SERIAL, StoreFiles.serial("lone"), DATA, signature("two")));
    }

    @Test
    void aGivenCertificateKeepsItsOwnKeyBesideAStoredOneWithItsIssuerAndSerial() {
        // twin: issuer, subject and serial of "one", another key, not in the store.
        byte[] der = StoreFiles.der("twin");
        byte[] twinSignature = StoreFiles.reversed(StoreFiles.javaSignature("twin", DATA));
        assertEquals(0, verify(DER_BYTES, der, DATA, twinSignature));
        // The database open in the process, as another user of NSS here may keep it.
        assertTrue(NssProbe.openDatabase(StoreFiles.home("home").resolve(".pki/nssdb").toString()));
        try {
            assertEquals(0, verify(DER_BYTES, der, DATA, twinSignature));
            assertEquals(0, verify(PEM_TEXT, pemWithoutLineEnd("twin"), DATA, twinSignature));
            assertEquals(1308, verify(DER_BYTES, der, DATA, signature("one")), "the stored certificate's key");
        } finally {
            NssProbe.closeDatabase();
        }
    }

    @Test
    void anEcKeyCannotBeImported() {
        assertEquals(1307, verify(DER_BYTES, StoreFiles.der("ec"), DATA, signature("two")));
        assertEquals(1307, verify(STORE_SERIAL, StoreFiles.serial("ec"), DATA, signature("two")));
    }

    @Test
    void storeChoicesFailLikeSigning() {
        byte[] signature = signature("two");
        assertEquals(1011, verify(STORE_SERIAL, new byte[] {(byte) 0x80, (byte) 0xA1, (byte) 0xB2, (byte) 0xC3},
                DATA, signature), "without the leading 0x00");
        assertEquals(1302, verify(0, null, DATA, signature), "no dialog without display or terminal");
        assertEquals(1302, verify(0, new byte[] {1}, DATA, signature), "the dialog ignores certificate");
    }

    @Test
    void argumentsOutOfRangeGive1003() {
        byte[] der = StoreFiles.der("two");
        byte[] signature = signature("two");
        for (int source : new int[] {5, -1, 100}) {
            assertEquals(1003, verify(source, der, DATA, signature), "source " + source);
        }
        for (int source : new int[] {STORE_SERIAL, PEM_TEXT, DER_BYTES, CERTIFICATE_FILE}) {
            assertEquals(1003, verify(source, null, DATA, signature), "null certificate, source " + source);
            assertEquals(1003, Kavro.VerifyByCSP(source, der, der.length + 1, 0, DATA, DATA.length, signature,
                    signature.length), "certificateLength beyond the array, source " + source);
            assertEquals(1003, Kavro.VerifyByCSP(source, der, -1, 0, DATA, DATA.length, signature,
                    signature.length), "negative certificateLength, source " + source);
        }
        assertEquals(1003, Kavro.VerifyByCSP(DER_BYTES, der, der.length, 0, DATA, DATA.length + 1, signature,
                signature.length));
        assertEquals(1003, Kavro.VerifyByCSP(DER_BYTES, der, der.length, 0, DATA, -1, signature,
                signature.length));
        assertEquals(1003, Kavro.VerifyByCSP(DER_BYTES, der, der.length, 0, DATA, DATA.length, signature,
                signature.length + 1));
        assertEquals(1003, Kavro.VerifyByCSP(DER_BYTES, der, der.length, 0, DATA, DATA.length, signature, -1));
        assertEquals(1003, verify(DER_BYTES, der, null, signature));
        assertEquals(1003, verify(DER_BYTES, der, DATA, null));
    }

    @Test
    void givenCertificatesLongerThanTheBuffersAreRefused() {
        byte[] signature = signature("two");
        byte[] big = concat(StoreFiles.der("two"), new byte[4097 - StoreFiles.der("two").length]);
        assertEquals(1003, verify(DER_BYTES, big, DATA, signature));
        assertEquals(1003, verify(PEM_TEXT, big, DATA, signature));
        assertEquals(0, Kavro.VerifyByCSP(DER_BYTES, big, StoreFiles.der("two").length, 0, DATA, DATA.length,
                signature, signature.length));
        byte[] longPath = new byte[260];
        Arrays.fill(longPath, (byte) 'a');
        longPath[0] = '/';
        assertEquals(1003, verify(CERTIFICATE_FILE, longPath, DATA, signature));
        assertEquals(1305, verify(CERTIFICATE_FILE, Arrays.copyOf(longPath, 259), DATA, signature));
    }
}
