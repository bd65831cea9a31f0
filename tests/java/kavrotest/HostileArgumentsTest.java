package kavrotest;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;

import Brelmont.Kavro;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.function.IntUnaryOperator;
import org.junit.jupiter.api.Test;

/**
 * Every length argument of the certificate, key, signing, digest and cipher
 * methods, out of its array's range: refused with 1003 before any module
 * call, nothing written, the JVM alive. Then the preamble's order for all
 * twelve methods.
 */
class HostileArgumentsTest {
    private static final int KIND = 2;
    private static final int[] HOSTILE = {-1, 9, Integer.MAX_VALUE, Integer.MIN_VALUE};

    private final byte[] serial = {1, 2, 3, 4, 5, 6, 7, 8};
    private final byte[] data = {1, 2, 3, 4, 5, 6, 7, 8};
    private final byte[] signature = new byte[8];
    private final byte[] output = new byte[8];
    private final int[] outLength = {-7};
    private final int[] handle = {-7};

    /** Each call takes the hostile value in one length argument; arrays are 8 long. */
    private Map<String, IntUnaryOperator> calls(int slot) {
        Map<String, IntUnaryOperator> calls = new LinkedHashMap<>();
        calls.put("EnumPrivateKeyByCertSerial serialLength",
            n -> Kavro.EnumPrivateKeyByCertSerial(KIND, slot, serial, n, handle));
        calls.put("EnumPublicKeyByCertSerial serialLength",
            n -> Kavro.EnumPublicKeyByCertSerial(KIND, slot, serial, n, handle));
        calls.put("Sign dataLength", n -> Kavro.Sign(KIND, slot, 1, 0, data, n, signature, outLength));
        calls.put("SignByCertSerial serialLength",
            n -> Kavro.SignByCertSerial(KIND, slot, serial, n, 0, data, 8, signature, outLength));
        calls.put("SignByCertSerial dataLength",
            n -> Kavro.SignByCertSerial(KIND, slot, serial, 8, 0, data, n, signature, outLength));
        calls.put("Verify dataLength", n -> Kavro.Verify(KIND, slot, 1, 0, data, n, signature, 8));
        calls.put("Verify signatureLength", n -> Kavro.Verify(KIND, slot, 1, 0, data, 8, signature, n));
        calls.put("VerifyByCertSerial serialLength",
            n -> Kavro.VerifyByCertSerial(KIND, slot, serial, n, 0, data, 8, signature, 8));
        calls.put("VerifyByCertSerial dataLength",
            n -> Kavro.VerifyByCertSerial(KIND, slot, serial, 8, 0, data, n, signature, 8));
        calls.put("VerifyByCertSerial signatureLength",
            n -> Kavro.VerifyByCertSerial(KIND, slot, serial, 8, 0, data, 8, signature, n));
        calls.put("Hash dataLength", n -> Kavro.Hash(KIND, slot, 0, data, n, output, outLength));
        calls.put("Encrypt inputLength", n -> Kavro.Encrypt(KIND, slot, 1, 0, data, n, output, outLength));
        calls.put("Decrypt inputLength", n -> Kavro.Decrypt(KIND, slot, 1, 0, data, n, output, outLength));
        return calls;
    }

    @Test
    void lengthsOutsideTheirArraysAreRefusedWithoutAModuleCall() {
        MockToken token = MockToken.connect(KIND);
        token.certificate("01", "020801020304050607");
        token.privateKey("01");
        token.publicKey("01");
        for (Map.Entry<String, IntUnaryOperator> call : calls(token.slot).entrySet()) {
            for (int length : HOSTILE) {
                assertEquals(1003, call.getValue().applyAsInt(length), call.getKey() + " = " + length);
            }
        }
        assertEquals(List.of(), token.mock.journal());
        assertArrayEquals(new int[] {-7}, outLength);
        assertArrayEquals(new int[] {-7}, handle);
        assertArrayEquals(new byte[8], signature);
        assertArrayEquals(new byte[8], output);
        // The array's own length is in range: each call reaches the module.
        int reached = 0;
        for (Map.Entry<String, IntUnaryOperator> call : calls(token.slot).entrySet()) {
            token.mock.clearJournal();
            assertNotEquals(1003, call.getValue().applyAsInt(8), call.getKey() + " refused an in-range length");
            reached += token.mock.journal().isEmpty() ? 0 : 1;
        }
        assertEquals(13, reached);
    }

    /** One call per method of this area, every array argument null. */
    private static Map<String, IntUnaryOperator> allNull(int kind) {
        Map<String, IntUnaryOperator> calls = new LinkedHashMap<>();
        calls.put("ListCertSerial", slot -> Kavro.ListCertSerial(kind, slot, null, null, null));
        calls.put("EnumPrivateKey", slot -> Kavro.EnumPrivateKey(kind, slot, 1, null));
        calls.put("EnumPublicKey", slot -> Kavro.EnumPublicKey(kind, slot, 1, null));
        calls.put("EnumPrivateKeyByCertSerial", slot -> Kavro.EnumPrivateKeyByCertSerial(kind, slot, null, 0, null));
        calls.put("EnumPublicKeyByCertSerial", slot -> Kavro.EnumPublicKeyByCertSerial(kind, slot, null, 0, null));
        calls.put("Sign", slot -> Kavro.Sign(kind, slot, 1, 0, null, 1, null, null));
        calls.put("SignByCertSerial", slot -> Kavro.SignByCertSerial(kind, slot, null, 0, 0, null, 0, null, null));
        calls.put("Verify", slot -> Kavro.Verify(kind, slot, 1, 0, null, 1, null, 0));
        calls.put("VerifyByCertSerial", slot -> Kavro.VerifyByCertSerial(kind, slot, null, 0, 0, null, 0, null, 0));
        calls.put("Hash", slot -> Kavro.Hash(kind, slot, 0, null, 0, null, null));
        calls.put("Encrypt", slot -> Kavro.Encrypt(kind, slot, 1, 0, null, 0, null, null));
        calls.put("Decrypt", slot -> Kavro.Decrypt(kind, slot, 1, 0, null, 0, null, null));
        return calls;
    }

    @Test
    void thePreambleComesFirstThenTheArrays() {
        MockToken token = MockToken.connect(KIND);
        for (Map.Entry<String, IntUnaryOperator> call : allNull(KIND).entrySet()) {
            assertEquals(1003, call.getValue().applyAsInt(token.slot), call.getKey());
            assertEquals(1002, call.getValue().applyAsInt(6990), call.getKey());
        }
        for (Map.Entry<String, IntUnaryOperator> call : allNull(5).entrySet()) {
            assertEquals(1001, call.getValue().applyAsInt(6990), call.getKey());
        }
        assertEquals(List.of(), token.mock.journal());
    }

    @Test
    void eachRequiredArrayAloneMissingIsRefused() {
        MockToken token = MockToken.connect(KIND);
        int slot = token.slot;
        int[] results = {
            Kavro.Sign(KIND, slot, 1, 0, null, 0, signature, outLength),
            Kavro.Sign(KIND, slot, 1, 0, data, 8, null, outLength),
            Kavro.Sign(KIND, slot, 1, 0, data, 8, signature, null),
            Kavro.Sign(KIND, slot, 1, 0, data, 8, signature, new int[0]),
            Kavro.SignByCertSerial(KIND, slot, null, 0, 0, data, 8, signature, outLength),
            Kavro.SignByCertSerial(KIND, slot, serial, 8, 0, null, 0, signature, outLength),
            Kavro.SignByCertSerial(KIND, slot, serial, 8, 0, data, 8, null, outLength),
            Kavro.SignByCertSerial(KIND, slot, serial, 8, 0, data, 8, signature, null),
            Kavro.SignByCertSerial(KIND, slot, serial, 8, 0, data, 8, signature, new int[0]),
            Kavro.Verify(KIND, slot, 1, 0, null, 0, signature, 8),
            Kavro.Verify(KIND, slot, 1, 0, data, 8, null, 0),
            Kavro.VerifyByCertSerial(KIND, slot, null, 0, 0, data, 8, signature, 8),
            Kavro.VerifyByCertSerial(KIND, slot, serial, 8, 0, null, 0, signature, 8),
            Kavro.VerifyByCertSerial(KIND, slot, serial, 8, 0, data, 8, null, 0),
        };
        for (int i = 0; i < results.length; i++) {
            assertEquals(1003, results[i], "case " + i);
        }
        assertEquals(List.of(), token.mock.journal());
        assertArrayEquals(new int[] {-7}, outLength);
    }
}
