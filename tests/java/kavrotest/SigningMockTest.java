package kavrotest;

import static kavrotest.MockToken.derInteger;
import static kavrotest.MockToken.hex;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import Brelmont.Kavro;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.Test;

/** Sign, SignByCertSerial, Verify and VerifyByCertSerial against the mock. */
class SigningMockTest {
    private static final int KIND = 3;
    private static final int CKR_MECHANISM_INVALID = 0x70;
    private static final int CKR_KEY_HANDLE_INVALID = 0x60;
    private static final int CKR_BUFFER_TOO_SMALL = 0x150;
    private static final int CKR_SIGNATURE_INVALID = 0xC0;
    private static final int CKR_FUNCTION_FAILED = 0x6;
    private static final int[] MECHANISMS = {0x6, 0x4, 0x5, 0x1};
    private static final byte[] DATA = "the data to be signed".getBytes();
    private static final String SERIAL = "0080a1b2c3";

    /** A token with certificate 0b (serial 00 80 A1 B2 C3) and its key pair, and a second key pair 0c. */
    private static final class Keys {
        final MockToken token = MockToken.connect(KIND);
        final int privateKey;
        final int publicKey;
        final int otherPublicKey;

        Keys() {
            token.certificate("0b", derInteger(SERIAL));
            privateKey = token.privateKey("0b");
            publicKey = token.publicKey("0b");
            token.privateKey("0c");
            otherPublicKey = token.publicKey("0c");
        }

        int sign(int mechanism, byte[] signature, int[] length) {
            return Kavro.Sign(KIND, token.slot, privateKey, mechanism, DATA, DATA.length, signature, length);
        }

        int signBySerial(String serialHex, int mechanism, byte[] data, int dataLength, byte[] signature,
                int[] length) {
            byte[] serial = hex(serialHex);
            return Kavro.SignByCertSerial(KIND, token.slot, serial, serial.length, mechanism, data, dataLength,
                    signature, length);
        }

        int verifyBySerial(String serialHex, int mechanism, byte[] signature, int signatureLength) {
            byte[] serial = hex(serialHex);
            return Kavro.VerifyByCertSerial(KIND, token.slot, serial, serial.length, mechanism, DATA, DATA.length,
                    signature, signatureLength);
        }
    }

    @Test
    void eachSelectorSignsWithItsMechanismAndTheSignatureVerifies() {
        Keys keys = new Keys();
        for (int selector = 0; selector < 4; selector++) {
            keys.token.mock.clearJournal();
            byte[] signature = new byte[128];
            int[] length = {-1};
            assertEquals(0, keys.sign(selector, signature, length));
            assertEquals(128, length[0]);
            assertEquals(List.of(String.format("C_SignInit session=%s mechanism=0x%x parameterLength=0 key=%d",
                    session(keys.token), MECHANISMS[selector], keys.privateKey)),
                    keys.token.mock.calls("C_SignInit"));
            String sign = keys.token.mock.calls("C_Sign").get(0);
            assertTrue(sign.contains("length=" + DATA.length + " data=" + hex(DATA, DATA.length) + " capacity=128"),
                    sign);
            assertEquals(0, Kavro.Verify(KIND, keys.token.slot, keys.publicKey, selector, DATA, DATA.length,
                    signature, 128));
            assertEquals(0, keys.verifyBySerial(SERIAL, selector, signature, 128));
            // The same signature under another selector or key does not verify.
            assertEquals(CKR_SIGNATURE_INVALID, Kavro.Verify(KIND, keys.token.slot, keys.publicKey,
                    (selector + 1) % 4, DATA, DATA.length, signature, 128));
            assertEquals(CKR_SIGNATURE_INVALID, Kavro.Verify(KIND, keys.token.slot, keys.otherPublicKey, selector,
                    DATA, DATA.length, signature, 128));
            byte[] bySerial = new byte[128];
            assertEquals(0, keys.signBySerial(SERIAL, selector, DATA, DATA.length, bySerial, length));
            assertArrayEquals(signature, bySerial);
        }
    }

    private static String session(MockToken token) {
        String line = token.mock.calls("C_SignInit").get(0);
        return line.split(" ")[1].substring("session=".length());
    }

    @Test
    void onlyTheFirstDataLengthOctetsAreSigned() {
        Keys keys = new Keys();
        byte[] signature = new byte[128];
        int[] length = {-1};
        assertEquals(0, Kavro.Sign(KIND, keys.token.slot, keys.privateKey, 0, DATA, 3, signature, length));
        assertTrue(keys.token.mock.calls("C_Sign").get(0).contains("length=3 data=" + hex(DATA, 3) + " "));
        assertEquals(0, Kavro.Verify(KIND, keys.token.slot, keys.publicKey, 0, Arrays.copyOf(DATA, 3), 3,
                signature, 128));
    }

    @Test
    void aSelectorOutsideZeroToThreeIsRefusedBeforeAnyModuleCall() {
        Keys keys = new Keys();
        for (int selector : new int[] {4, -1, Integer.MAX_VALUE}) {
            keys.token.mock.clearJournal();
            int[] length = {-1};
            assertEquals(1008, keys.sign(selector, new byte[128], length));
            assertArrayEquals(new int[] {-1}, length);
            assertEquals(1008, Kavro.Verify(KIND, keys.token.slot, keys.publicKey, selector, DATA, DATA.length,
                    new byte[128], 128));
            assertEquals(List.of(), keys.token.mock.journal());
        }
    }

    @Test
    void theCertificateLookupComesBeforeTheSelector() {
        Keys keys = new Keys();
        keys.token.certificate("0d", derInteger("0d"));
        byte[] signature = new byte[100];
        int[] length = {-1};
        assertEquals(1006, keys.signBySerial("77", 4, DATA, DATA.length, signature, length));
        assertArrayEquals(new int[] {100}, length, "the room offered");
        length[0] = -1;
        assertEquals(1007, keys.signBySerial("0d", 4, DATA, DATA.length, signature, length));
        assertArrayEquals(new int[] {100}, length);
        length[0] = -1;
        assertEquals(1008, keys.signBySerial(SERIAL, 4, DATA, DATA.length, signature, length));
        assertArrayEquals(new int[] {100}, length);
        assertEquals(1006, keys.verifyBySerial("77", 4, signature, 100));
        assertEquals(1007, keys.verifyBySerial("0d", 4, signature, 100));
        assertEquals(1008, keys.verifyBySerial(SERIAL, 4, signature, 100));
        assertEquals(List.of(), keys.token.mock.calls("C_SignInit"));
        assertEquals(List.of(), keys.token.mock.calls("C_VerifyInit"));
        keys.token.assertSearchesClosed();
    }

    @Test
    void aSignatureArrayTooShortGetsTheModulesResult() {
        Keys keys = new Keys();
        byte[] signature = new byte[64];
        Arrays.fill(signature, (byte) 0x5A);
        int[] length = {-1};
        assertEquals(CKR_BUFFER_TOO_SMALL, keys.sign(0, signature, length));
        assertArrayEquals(new int[] {-1}, length, "Sign leaves the length");
        // The signing operation stays active after CKR_BUFFER_TOO_SMALL, as PKCS #11 has it.
        assertEquals(0x90, keys.sign(0, signature, length), "CKR_OPERATION_ACTIVE");
        keys.token.mock.run("reset");
        keys = new Keys();
        assertEquals(CKR_BUFFER_TOO_SMALL, keys.signBySerial(SERIAL, 0, DATA, DATA.length, signature, length));
        assertArrayEquals(new int[] {128}, length, "SignByCertSerial stores the length the module needs");
        for (byte b : signature) {
            assertEquals(0x5A, b);
        }
    }

    @Test
    void aLongerSignatureArrayKeepsItsBytesPastTheSignature() {
        Keys keys = new Keys();
        keys.token.mock.run("set sign.length 100");
        byte[] signature = new byte[140];
        Arrays.fill(signature, (byte) 0x5A);
        int[] length = {-1};
        assertEquals(0, keys.sign(2, signature, length));
        assertEquals(100, length[0]);
        for (int i = 100; i < 140; i++) {
            assertEquals(0x5A, signature[i]);
        }
        assertEquals(0, Kavro.Verify(KIND, keys.token.slot, keys.publicKey, 2, DATA, DATA.length, signature, 100));
        assertEquals(0, keys.verifyBySerial(SERIAL, 2, signature, 100));
    }

    @Test
    void moduleRefusalsPassThroughUnchanged() {
        Keys keys = new Keys();
        int[] length = {-1};
        byte[] signature = new byte[128];
        keys.token.mock.run("fail C_SignInit " + CKR_MECHANISM_INVALID);
        assertEquals(CKR_MECHANISM_INVALID, keys.sign(1, signature, length));
        assertArrayEquals(new int[] {-1}, length);
        assertEquals(List.of(), keys.token.mock.calls("C_Sign"));
        keys.token.mock.run("fail C_SignInit " + CKR_MECHANISM_INVALID);
        assertEquals(CKR_MECHANISM_INVALID, keys.signBySerial(SERIAL, 1, DATA, DATA.length, signature, length));
        assertArrayEquals(new int[] {128}, length);
        keys.token.mock.run("fail C_VerifyInit " + CKR_MECHANISM_INVALID);
        assertEquals(CKR_MECHANISM_INVALID, keys.verifyBySerial(SERIAL, 1, signature, 128));
        assertEquals(CKR_KEY_HANDLE_INVALID, Kavro.Sign(KIND, keys.token.slot, 0x7777, 0, DATA, DATA.length,
                signature, length));
        assertEquals(0xC1, Kavro.Verify(KIND, keys.token.slot, keys.publicKey, 0, DATA, DATA.length, signature, 127),
                "CKR_SIGNATURE_LEN_RANGE");
    }

    @Test
    void keyHandlesFromJavaAreUnsigned() {
        Keys keys = new Keys();
        keys.token.mock.run("object " + keys.token.slot + " class=private id=hex:0e handle=0xFFFFFFF0");
        int[] length = {-1};
        assertEquals(0, Kavro.Sign(KIND, keys.token.slot, 0xFFFFFFF0, 0, DATA, DATA.length, new byte[128], length));
        assertTrue(keys.token.mock.calls("C_SignInit").get(0).endsWith(" key=4294967280"));
    }

    @Test
    void emptyDataIsRefusedByTheHandleMethodsOnly() {
        Keys keys = new Keys();
        int[] length = {-1};
        assertEquals(1003, Kavro.Sign(KIND, keys.token.slot, keys.privateKey, 0, DATA, 0, new byte[128], length));
        assertEquals(1003, Kavro.Verify(KIND, keys.token.slot, keys.publicKey, 0, DATA, 0, new byte[128], 128));
        assertEquals(List.of(), keys.token.mock.journal());
        byte[] signature = new byte[128];
        assertEquals(0, keys.signBySerial(SERIAL, 0, new byte[0], 0, signature, length));
        assertTrue(keys.token.mock.calls("C_Sign").get(0).contains(" length=0 "));
        byte[] serial = hex(SERIAL);
        assertEquals(0, Kavro.VerifyByCertSerial(KIND, keys.token.slot, serial, serial.length, 0, DATA, 0,
                signature, 128));
    }

    @Test
    void aModuleReportingMoreThanTheRoomGivenIsNotBelieved() {
        Keys keys = new Keys();
        keys.token.mock.run("set output.overlength 1000");
        byte[] signature = new byte[128];
        int[] length = {-1};
        assertEquals(CKR_FUNCTION_FAILED, keys.sign(0, signature, length));
        assertArrayEquals(new int[] {-1}, length);
        assertEquals(CKR_FUNCTION_FAILED, keys.signBySerial(SERIAL, 0, DATA, DATA.length, signature, length));
        assertArrayEquals(new int[] {128}, length, "the room offered, not the length claimed");
    }
}
