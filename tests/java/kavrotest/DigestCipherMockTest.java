package kavrotest;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import Brelmont.Kavro;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.Test;

/** Hash, Encrypt and Decrypt against the mock: mechanisms, lengths and module results. */
class DigestCipherMockTest {
    private static final int KIND = 1;
    private static final int CKR_BUFFER_TOO_SMALL = 0x150;
    private static final int CKR_MECHANISM_INVALID = 0x70;
    private static final int CKR_FUNCTION_FAILED = 0x6;
    private static final byte[] DATA = "some data to digest".getBytes();

    @Test
    void eachHashTypeDigestsWithItsMechanism() {
        MockToken token = MockToken.connect(KIND);
        int[] mechanisms = {0x220, 0x200, 0x210};
        int[] sizes = {20, 16, 16};
        for (int hashType = 0; hashType < 3; hashType++) {
            token.mock.clearJournal();
            byte[] digest = new byte[32];
            Arrays.fill(digest, (byte) 0x5A);
            int[] length = {-1};
            assertEquals(0, Kavro.Hash(KIND, token.slot, hashType, DATA, 5, digest, length));
            assertEquals(sizes[hashType], length[0]);
            assertEquals(0x5A, digest[sizes[hashType]], "bytes past the digest stay");
            assertEquals(List.of(String.format("C_DigestInit session=%s mechanism=0x%x parameterLength=0",
                    sessionOf(token), mechanisms[hashType])), token.mock.calls("C_DigestInit"));
            assertTrue(token.mock.calls("C_Digest").get(0).contains(" length=5 capacity=32 "));
        }
    }

    private static String sessionOf(MockToken token) {
        return token.mock.calls("C_DigestInit").get(0).split(" ")[1].substring("session=".length());
    }

    @Test
    void aHashTypeOutsideZeroToTwoIsRefusedWithTheRoomAsLength() {
        MockToken token = MockToken.connect(KIND);
        for (int hashType : new int[] {3, -1, Integer.MIN_VALUE}) {
            int[] length = {-1};
            assertEquals(1003, Kavro.Hash(KIND, token.slot, hashType, DATA, DATA.length, new byte[24], length));
            assertArrayEquals(new int[] {24}, length);
        }
        assertEquals(List.of(), token.mock.journal());
    }

    @Test
    void hashLengthsFollowTheModule() {
        MockToken token = MockToken.connect(KIND);
        int[] length = {-1};
        byte[] digest = new byte[10];
        assertEquals(CKR_BUFFER_TOO_SMALL, Kavro.Hash(KIND, token.slot, 0, DATA, DATA.length, digest, length));
        assertArrayEquals(new int[] {20}, length, "the length the module needs");
        token.mock.run("reset");
        token = MockToken.connect(KIND);
        token.mock.run("fail C_DigestInit " + CKR_MECHANISM_INVALID);
        assertEquals(CKR_MECHANISM_INVALID, Kavro.Hash(KIND, token.slot, 1, DATA, DATA.length, digest, length));
        assertArrayEquals(new int[] {10}, length, "the room offered");
        assertEquals(0, Kavro.Hash(KIND, token.slot, 0, new byte[0], 0, new byte[20], length));
        assertTrue(token.mock.calls("C_Digest").get(0).contains(" length=0 "), "empty data is digested");
        token.mock.run("set output.overlength 1");
        assertEquals(CKR_FUNCTION_FAILED, Kavro.Hash(KIND, token.slot, 0, DATA, DATA.length, new byte[20], length));
        assertArrayEquals(new int[] {20}, length);
    }

    /** A token with one key pair, id 01. */
    private static int[] keyPair(MockToken token) {
        return new int[] {token.publicKey("01"), token.privateKey("01")};
    }

    @Test
    void encryptThenDecryptGivesThePlaintextBack() {
        MockToken token = MockToken.connect(KIND);
        int[] keys = keyPair(token);
        byte[] plain = "secret".getBytes();
        byte[] cipher = new byte[200];
        int[] cipherLength = {-1};
        assertEquals(0, Kavro.Encrypt(KIND, token.slot, keys[0], 12345, plain, plain.length, cipher, cipherLength));
        assertEquals(128, cipherLength[0]);
        byte[] output = new byte[128];
        Arrays.fill(output, (byte) 0x5A);
        int[] outputLength = {-1};
        assertEquals(0, Kavro.Decrypt(KIND, token.slot, keys[1], -9, cipher, cipherLength[0], output,
                outputLength));
        assertEquals(plain.length, outputLength[0]);
        assertArrayEquals(plain, Arrays.copyOf(output, plain.length));
        assertEquals(0x5A, output[plain.length]);
        assertEquals(List.of("C_EncryptInit session=" + sessionOf(token, "C_EncryptInit") + " mechanism=0x1 key="
                + keys[0]), token.mock.calls("C_EncryptInit"));
        assertTrue(token.mock.calls("C_DecryptInit").get(0).endsWith("mechanism=0x1 key=" + keys[1]));
    }

    private static String sessionOf(MockToken token, String function) {
        return token.mock.calls(function).get(0).split(" ")[1].substring("session=".length());
    }

    @Test
    void theReservedArgumentChangesNothing() {
        MockToken token = MockToken.connect(KIND);
        int[] keys = keyPair(token);
        byte[] plain = {1, 2, 3};
        byte[] first = new byte[128];
        byte[] second = new byte[128];
        int[] length = {-1};
        assertEquals(0, Kavro.Encrypt(KIND, token.slot, keys[0], 0, plain, 3, first, length));
        List<String> journal = token.mock.journal();
        token.mock.clearJournal();
        assertEquals(0, Kavro.Encrypt(KIND, token.slot, keys[0], Integer.MIN_VALUE, plain, 3, second, length));
        assertEquals(journal, token.mock.journal());
        assertArrayEquals(first, second);
    }

    @Test
    void cipherLengthsFollowTheModule() {
        MockToken token = MockToken.connect(KIND);
        int[] keys = keyPair(token);
        byte[] plain = {1, 2, 3};
        int[] length = {-1};
        assertEquals(CKR_BUFFER_TOO_SMALL, Kavro.Encrypt(KIND, token.slot, keys[0], 0, plain, 3, new byte[64],
                length));
        assertArrayEquals(new int[] {128}, length);
        token.mock.run("reset");
        token = MockToken.connect(KIND);
        keys = keyPair(token);
        byte[] cipher = new byte[128];
        assertEquals(0, Kavro.Encrypt(KIND, token.slot, keys[0], 0, plain, 3, cipher, length));
        length[0] = -1;
        assertEquals(CKR_BUFFER_TOO_SMALL, Kavro.Decrypt(KIND, token.slot, keys[1], 0, cipher, 128, new byte[2],
                length));
        assertArrayEquals(new int[] {3}, length);
        token.mock.run("reset");
        token = MockToken.connect(KIND);
        keys = keyPair(token);
        token.mock.run("fail C_EncryptInit 0x60");
        assertEquals(0x60, Kavro.Encrypt(KIND, token.slot, keys[0], 0, plain, 3, cipher, length));
        assertArrayEquals(new int[] {128}, length, "the room offered");
        assertEquals(List.of(), token.mock.calls("C_Encrypt"));
        token.mock.run("set output.overlength 5");
        assertEquals(CKR_FUNCTION_FAILED, Kavro.Encrypt(KIND, token.slot, keys[0], 0, plain, 3, new byte[130],
                length));
        assertArrayEquals(new int[] {130}, length);
    }

    @Test
    void missingArraysAreRefusedBeforeAnyModuleCall() {
        MockToken token = MockToken.connect(KIND);
        byte[] data = {1};
        int[] length = {-1};
        assertEquals(1003, Kavro.Hash(KIND, token.slot, 0, null, 0, new byte[20], length));
        assertEquals(1003, Kavro.Hash(KIND, token.slot, 0, data, 1, null, length));
        assertEquals(1003, Kavro.Hash(KIND, token.slot, 0, data, 1, new byte[20], null));
        assertEquals(1003, Kavro.Hash(KIND, token.slot, 0, data, 1, new byte[20], new int[0]));
        assertEquals(1003, Kavro.Encrypt(KIND, token.slot, 1, 0, null, 0, new byte[8], length));
        assertEquals(1003, Kavro.Encrypt(KIND, token.slot, 1, 0, data, 1, null, length));
        assertEquals(1003, Kavro.Decrypt(KIND, token.slot, 1, 0, data, 1, new byte[8], null));
        assertEquals(1003, Kavro.Decrypt(KIND, token.slot, 1, 0, data, 1, new byte[8], new int[0]));
        assertArrayEquals(new int[] {-1}, length);
        assertEquals(List.of(), token.mock.journal());
    }
}
