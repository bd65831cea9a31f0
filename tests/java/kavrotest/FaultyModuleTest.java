package kavrotest;

import static kavrotest.MockToken.derInteger;
import static kavrotest.MockToken.hex;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import Brelmont.Kavro;
import java.util.ArrayList;
import java.util.List;
import java.util.function.IntSupplier;
import java.util.function.ToIntFunction;
import org.junit.jupiter.api.Test;

/**
 * Faulty modules, one scripted fault of the mock at a time: kavro answers
 * with a result code, writes nothing the contract does not give, and leaves
 * no object search open.
 *
 * Faults the area suites already script, and not repeated here:
 * C_Initialize answering CKR_CRYPTOKI_ALREADY_INITIALIZED (ModuleStartTest);
 * a size query reporting no slots, slots added between the two
 * C_GetSlotList calls, a fetch reporting more or fewer ids than it had room
 * for, C_GetTokenInfo failing for one slot (DiscoveryTest); attribute
 * lengths of CK_UNAVAILABLE_INFORMATION under CKR_OK, and values reported
 * longer than their buffers (CertificateListingMockTest,
 * KeyLookupMockTest); a CKA_SERIAL_NUMBER of 1 octet and a CKA_ID of 300
 * octets (the same two); signature, digest and ciphertext lengths beyond the
 * room given (SigningMockTest, DigestCipherMockTest).
 */
class FaultyModuleTest {
    private static final int KIND = 2;
    private static final int CKR_FUNCTION_FAILED = 0x6;
    private static final int CKR_DEVICE_REMOVED = 0x32;
    private static final int CKR_TOKEN_NOT_PRESENT = 0xE0;
    private static final int CKR_SESSION_HANDLE_INVALID = 0xB3;
    private static final int CKR_BUFFER_TOO_SMALL = 0x150;
    private static final byte[] DATA = {9, 8, 7, 6, 5, 4, 3, 2};
    private static final String SERIAL = "0a0b0c";
    private static final String SO_PIN = "87654321";
    /** Stands for the result the pulled token gives: CKR_DEVICE_REMOVED or CKR_SESSION_HANDLE_INVALID. */
    private static final int GONE = Integer.MIN_VALUE;

    @Test
    void sizeQueriesAnsweredWithBufferTooSmall() {
        MockModule mock = MockModule.forKind(KIND).reset();
        // Without a count the discovery ends: nothing written, nothing registered.
        mock.run("slot 9101; fail C_GetSlotList " + CKR_BUFFER_TOO_SMALL);
        int[] ids = {-5, -5};
        int[] count = {-5};
        assertEquals(1012, Kavro.GetSlotList(KIND, ids, count));
        assertArrayEquals(new int[] {-5, -5}, ids);
        assertArrayEquals(new int[] {-5}, count);
        assertEquals(1002, Kavro.DisconnectToken(KIND, 9101));
        // The size query's result is not examined: a count written with the error is used.
        mock.run("set slotlist.queryrv " + CKR_BUFFER_TOO_SMALL);
        assertEquals(0, Kavro.GetSlotList(KIND, ids, count));
        assertArrayEquals(new int[] {9101, -5}, ids);
        assertArrayEquals(new int[] {1}, count);

        // An attribute size query refused: the read fails and every search ends.
        MockToken token = MockToken.connect(KIND);
        token.certificate("01", derInteger(SERIAL));
        token.privateKey("01");
        token.mock.run("fail C_GetAttributeValue " + CKR_BUFFER_TOO_SMALL + " times=3");
        byte[][] serials = {{-1, -1, -1}};
        int[] lengths = {-1};
        assertEquals(CKR_BUFFER_TOO_SMALL, Kavro.ListCertSerial(KIND, token.slot, serials, lengths, count));
        assertArrayEquals(new int[] {0}, count);
        assertArrayEquals(new byte[] {-1, -1, -1}, serials[0]);
        assertArrayEquals(new int[] {-1}, lengths);
        int[] handle = {-7};
        byte[] serial = hex(SERIAL);
        assertEquals(1006, Kavro.EnumPrivateKeyByCertSerial(KIND, token.slot, serial, serial.length, handle));
        assertArrayEquals(new int[] {-7}, handle);
        int[] signatureLength = {-7};
        assertEquals(1006, Kavro.SignByCertSerial(KIND, token.slot, serial, serial.length, 0, DATA, DATA.length,
                new byte[200], signatureLength));
        assertArrayEquals(new int[] {200}, signatureLength);
        assertEquals(List.of(), token.mock.calls("C_SignInit"));
        token.assertSearchesClosed();
    }

    @Test
    void anAttributeLengthNoBufferCanHoldIsAFailedRead() {
        // The largest length short of CK_UNAVAILABLE_INFORMATION, under CKR_OK.
        for (String attribute : new String[] {"CKA_SERIAL_NUMBER", "CKA_ID"}) {
            MockToken token = MockToken.connect(KIND);
            token.certificate("01", derInteger(SERIAL), "hugelength=" + attribute);
            token.privateKey("01");
            int[] count = {-1};
            int listed = Kavro.ListCertSerial(KIND, token.slot, new byte[1][8], new int[1], count);
            if (attribute.equals("CKA_SERIAL_NUMBER")) {
                assertEquals(CKR_FUNCTION_FAILED, listed, attribute);
                assertArrayEquals(new int[] {0}, count);
            }
            int[] handle = {-7};
            byte[] serial = hex(SERIAL);
            assertEquals(1006, Kavro.EnumPrivateKeyByCertSerial(KIND, token.slot, serial, serial.length, handle),
                    attribute);
            assertArrayEquals(new int[] {-7}, handle);
            token.assertSearchesClosed();
        }
    }

    @Test
    void aSlotCountNoArrayCanHoldIsAnsweredAsNoMemory() {
        MockModule mock = MockModule.forKind(KIND).reset();
        // A quarter of CK_ULONG's range: as many slot ids fill more than the address space.
        mock.run("slot 9111; set slotlist.querycount " + (1L << (8 * MockModule.ULONG_BYTES - 2)));
        int[] ids = {-5};
        int[] count = {-5};
        assertEquals(1005, Kavro.GetSlotList(KIND, ids, count));
        assertArrayEquals(new int[] {-5}, ids);
        assertArrayEquals(new int[] {-5}, count);
        assertEquals(1002, Kavro.DisconnectToken(KIND, 9111));
        assertEquals(1, mock.calls("C_GetSlotList").size());
    }

    @Test
    void aSerialNumberOfNoOctetsHasAnEmptyContentAndAnEmptyIdMatchesItsKey() {
        MockToken token = MockToken.connect(KIND);
        token.mock.addObject(token.slot + " class=cert id=hex: serial=hex:");
        int key = token.mock.addObject(token.slot + " class=private id=hex:");
        byte[][] serials = {{-1}};
        int[] lengths = {-1};
        int[] count = {-1};
        assertEquals(0, Kavro.ListCertSerial(KIND, token.slot, serials, lengths, count));
        assertArrayEquals(new int[] {1}, count);
        assertArrayEquals(new int[] {0}, lengths);
        assertArrayEquals(new byte[] {-1}, serials[0]);
        int[] handle = {-7};
        assertEquals(0, Kavro.EnumPrivateKeyByCertSerial(KIND, token.slot, new byte[0], 0, handle));
        assertArrayEquals(new int[] {key}, handle);
        token.assertSearchesClosed();
    }

    @Test
    void aSearchReportingMoreObjectsThanItHadRoomForEndsAsEmpty() {
        MockToken token = MockToken.connect(KIND);
        token.certificate("01", derInteger(SERIAL));
        token.privateKey("01");
        token.publicKey("01");
        token.mock.run("set findobjects.reported 2");
        byte[][] serials = {{-1, -1, -1}};
        int[] count = {-1};
        assertEquals(0, Kavro.ListCertSerial(KIND, token.slot, serials, new int[] {-1}, count));
        assertArrayEquals(new int[] {0}, count);
        assertArrayEquals(new byte[] {-1, -1, -1}, serials[0]);
        int[] handle = {-7};
        assertEquals(1011, Kavro.EnumPrivateKey(KIND, token.slot, 1, handle));
        assertArrayEquals(new int[] {-7}, handle);
        assertEquals(1011, Kavro.EnumPublicKey(KIND, token.slot, 1, handle));
        assertArrayEquals(new int[] {0}, handle);
        byte[] serial = hex(SERIAL);
        handle[0] = -7;
        assertEquals(1006, Kavro.EnumPublicKeyByCertSerial(KIND, token.slot, serial, serial.length, handle));
        assertArrayEquals(new int[] {-7}, handle);
        token.assertSearchesClosed();
    }

    @Test
    void aDecryptionReportedLongerThanTheRoomIsNotBelieved() {
        MockToken token = MockToken.connect(KIND);
        int publicKey = token.publicKey("01");
        int privateKey = token.privateKey("01");
        byte[] cipher = new byte[128];
        int[] length = {0};
        assertEquals(0, Kavro.Encrypt(KIND, token.slot, publicKey, 0, DATA, DATA.length, cipher, length));
        token.mock.run("set output.overlength 9");
        byte[] plain = new byte[8];
        assertEquals(CKR_FUNCTION_FAILED, Kavro.Decrypt(KIND, token.slot, privateKey, 0, cipher, 128, plain, length));
        assertArrayEquals(new int[] {8}, length, "the room offered, not the length claimed");
    }

    // --- a function list with entries left null ---

    private static final int CKR_FUNCTION_NOT_SUPPORTED = 0x54;

    /** A token for one dropped entry: a 16-character serial, a certificate and its key pair, connected. */
    private static final class Dropped {
        final MockToken token = pinToken(MockToken.connect(KIND));
        final int privateKey;
        final int publicKey;
        final byte[] serial = hex(SERIAL);

        Dropped(String function) {
            token.certificate("01", derInteger(SERIAL));
            privateKey = token.privateKey("01");
            publicKey = token.publicKey("01");
            token.mock.run("drop " + function);
            token.mock.clearJournal();
        }
    }

    /** What a method gives when the one module function it needs is missing from the table. */
    private static void missing(String function, int expected, ToIntFunction<Dropped> call) {
        Dropped dropped = new Dropped(function);
        assertEquals(expected, call.applyAsInt(dropped), function + " missing");
        List<String> calls = dropped.token.mock.callNames();
        assertFalse(calls.contains(function), function + " was called: " + calls);
    }

    @Test
    void aFunctionListWithEntriesLeftNullAnswersAsIfTheyWereNotSupported() {
        // Discovery and the serial.
        Dropped noSlotList = new Dropped("C_GetSlotList");
        noSlotList.token.mock.run("slot 9201");
        int[] count = {-5};
        assertEquals(1012, Kavro.GetSlotList(KIND, null, count));
        assertArrayEquals(new int[] {-5}, count);
        assertEquals(1002, Kavro.DisconnectToken(KIND, 9201));
        missing("C_GetTokenInfo", 1012, d -> Kavro.GetSlotList(KIND, null, null));
        missing("C_GetTokenInfo", 1004, d -> Kavro.SetSoPin(KIND, d.token.slot, transport(d.token, SO_PIN),
                transport(d.token, SO_PIN)));
        Dropped noTokenInfo = new Dropped("C_GetTokenInfo");
        assertEquals("1004", Kavro.RetrieveSerial(KIND, noTokenInfo.token.slot));
        // Sessions and PINs: a refused login is 4001, other calls pass CKR_FUNCTION_NOT_SUPPORTED on.
        missing("C_OpenSession", 0, d -> Kavro.ConnectToken(KIND, d.token.slot));
        missing("C_CloseSession", CKR_FUNCTION_NOT_SUPPORTED, d -> Kavro.DisconnectToken(KIND, d.token.slot));
        missing("C_Login", 4001, d -> Kavro.Login(KIND, d.token.slot, "1234".getBytes()));
        missing("C_Logout", CKR_FUNCTION_NOT_SUPPORTED, d -> Kavro.Logout(KIND, d.token.slot));
        missing("C_SetPIN", CKR_FUNCTION_NOT_SUPPORTED, d -> Kavro.SetUserPin(KIND, d.token.slot, "1234".getBytes(),
                "2468".getBytes()));
        missing("C_InitPIN", CKR_FUNCTION_NOT_SUPPORTED, d -> Kavro.UnlockUserPin(KIND, d.token.slot,
                transport(d.token, SO_PIN), "2468".getBytes()));
        missing("C_InitToken", CKR_FUNCTION_NOT_SUPPORTED, d -> Kavro.InitToken(KIND, d.token.slot,
                transport(d.token, SO_PIN), "2468".getBytes(), "label"));
        // Without C_CloseAllSessions the connected session stays, and the module refuses to initialise.
        missing("C_CloseAllSessions", 0xB6, d -> Kavro.InitToken(KIND, d.token.slot, transport(d.token, SO_PIN),
                "2468".getBytes(), "label"));
        // Searches: a search that cannot start fails at its first step; one that cannot end still counts.
        missing("C_FindObjectsInit", 0x91, d -> Kavro.ListCertSerial(KIND, d.token.slot, null, null, count));
        missing("C_FindObjects", CKR_FUNCTION_NOT_SUPPORTED,
                d -> Kavro.ListCertSerial(KIND, d.token.slot, null, null, count));
        missing("C_FindObjects", CKR_FUNCTION_NOT_SUPPORTED, d -> Kavro.EnumPrivateKey(KIND, d.token.slot, 1,
                new int[1]));
        missing("C_FindObjectsFinal", 0, d -> Kavro.ListCertSerial(KIND, d.token.slot, null, null, count));
        missing("C_GetAttributeValue", CKR_FUNCTION_NOT_SUPPORTED,
                d -> Kavro.ListCertSerial(KIND, d.token.slot, new byte[1][8], new int[1], count));
        missing("C_GetAttributeValue", 1006, d -> Kavro.EnumPublicKeyByCertSerial(KIND, d.token.slot, d.serial,
                d.serial.length, new int[1]));
        // Signing, digest and cipher.
        int[] length = {-7};
        for (String function : new String[] {"C_SignInit", "C_Sign"}) {
            missing(function, CKR_FUNCTION_NOT_SUPPORTED, d -> Kavro.Sign(KIND, d.token.slot, d.privateKey, 0, DATA,
                    DATA.length, new byte[128], length));
            assertArrayEquals(new int[] {-7}, length);
        }
        for (String function : new String[] {"C_VerifyInit", "C_Verify"}) {
            missing(function, CKR_FUNCTION_NOT_SUPPORTED, d -> Kavro.VerifyByCertSerial(KIND, d.token.slot,
                    d.serial, d.serial.length, 0, DATA, DATA.length, new byte[128], 128));
        }
        for (String function : new String[] {"C_DigestInit", "C_Digest"}) {
            missing(function, CKR_FUNCTION_NOT_SUPPORTED, d -> Kavro.Hash(KIND, d.token.slot, 0, DATA, DATA.length,
                    new byte[30], length));
            assertArrayEquals(new int[] {30}, length);
        }
        for (String function : new String[] {"C_EncryptInit", "C_Encrypt"}) {
            missing(function, CKR_FUNCTION_NOT_SUPPORTED, d -> Kavro.Encrypt(KIND, d.token.slot, d.publicKey, 0,
                    DATA, DATA.length, new byte[128], length));
        }
        for (String function : new String[] {"C_DecryptInit", "C_Decrypt"}) {
            missing(function, CKR_FUNCTION_NOT_SUPPORTED, d -> Kavro.Decrypt(KIND, d.token.slot, d.privateKey, 0,
                    new byte[128], 128, new byte[128], length));
        }
    }

    // --- a token pulled in the middle of a sequence ---

    /** One method call on a fresh token, and what it left in its output arrays. */
    private interface Sequence {
        /** Sets up the token (the journal is cleared afterwards) and returns the call to make. */
        IntSupplier prepare(MockToken token, List<int[]> outputs);
    }

    /**
     * Pulls the token after each number of module calls in turn, with the sessions kept (later calls answer
     * CKR_DEVICE_REMOVED) and dropped (CKR_SESSION_HANDLE_INVALID). expected[n] is the result when the token
     * goes before call n of the undisturbed sequence; its last entry is the result when it never goes. The
     * checks for each run: the result, every search ended, and outputs[k] as lengths[n] gives them.
     */
    private static void pullEverywhere(String what, Sequence sequence, int[] expected, int[][] lengths) {
        for (boolean drop : new boolean[] {false, true}) {
            int gone = drop ? CKR_SESSION_HANDLE_INVALID : CKR_DEVICE_REMOVED;
            List<String> undisturbed = null;
            for (int n = 0; n < expected.length; n++) {
                MockToken token = MockToken.connect(KIND);
                List<int[]> outputs = new ArrayList<>();
                IntSupplier call = sequence.prepare(token, outputs);
                token.mock.clearJournal();
                if (n < expected.length - 1) {
                    token.mock.run("pull " + token.slot + " after=" + n + " sessions=" + (drop ? "drop" : "keep"));
                }
                String where = what + ", token gone before call " + n + (drop ? ", sessions dropped" : "");
                int want = expected[n] == GONE ? gone : expected[n];
                assertEquals(want, call.getAsInt(), where);
                List<String> calls = token.mock.callNames();
                HostileCases.assertSearchesEnded(calls, where);
                if (n == expected.length - 1) {
                    undisturbed = calls;
                }
                for (int k = 0; lengths != null && k < outputs.size(); k++) {
                    assertEquals(lengths[n][k], outputs.get(k)[0], where + ": output " + k);
                }
            }
            assertEquals(expected.length - 1, undisturbed.size(),
                    what + ": one entry per call of the undisturbed sequence " + undisturbed);
        }
    }

    @Test
    void aTokenPulledDuringSigningByCertificate() {
        // Lookup of the certificate (0-4), of the key (5-7), then C_SignInit and C_Sign (8, 9). A failed
        // certificate read is "no such certificate"; the length goes back as the room offered until signed.
        pullEverywhere("SignByCertSerial", (token, outputs) -> {
            token.certificate("01", derInteger(SERIAL));
            token.privateKey("01");
            int[] length = {-7};
            outputs.add(length);
            byte[] serial = hex(SERIAL);
            return () -> Kavro.SignByCertSerial(KIND, token.slot, serial, serial.length, 0, DATA, DATA.length,
                    new byte[200], length);
        }, new int[] {1006, 1006, 1006, 1006, GONE, GONE, GONE, GONE, GONE, GONE, 0},
                new int[][] {{200}, {200}, {200}, {200}, {200}, {200}, {200}, {200}, {200}, {200}, {128}});
    }

    @Test
    void aTokenPulledDuringVerificationByCertificate() {
        pullEverywhere("VerifyByCertSerial", (token, outputs) -> {
            token.certificate("01", derInteger(SERIAL));
            int privateKey = token.privateKey("01");
            token.publicKey("01");
            byte[] signature = new byte[128];
            int[] length = {0};
            assertEquals(0, Kavro.Sign(KIND, token.slot, privateKey, 0, DATA, DATA.length, signature, length));
            byte[] serial = hex(SERIAL);
            return () -> Kavro.VerifyByCertSerial(KIND, token.slot, serial, serial.length, 0, DATA, DATA.length,
                    signature, 128);
        }, new int[] {1006, 1006, 1006, 1006, GONE, GONE, GONE, GONE, GONE, GONE, 0}, null);
    }

    @Test
    void aTokenPulledDuringTheCertificateListing() {
        // Two certificates: each is counted once its serial is read whole.
        pullEverywhere("ListCertSerial", (token, outputs) -> {
            token.certificate("01", derInteger("05"));
            token.certificate("02", derInteger("0607"));
            int[] count = {-7};
            outputs.add(count);
            return () -> Kavro.ListCertSerial(KIND, token.slot, new byte[2][2], new int[2], count);
        }, new int[] {GONE, GONE, GONE, GONE, GONE, GONE, GONE, GONE, 0, 0},
                new int[][] {{0}, {0}, {0}, {0}, {1}, {1}, {1}, {2}, {2}, {2}});
    }

    @Test
    void aTokenPulledDuringAKeySearchByOrdinal() {
        // The public-key search clears the handle before each step: a failure leaves 0.
        pullEverywhere("EnumPublicKey", (token, outputs) -> {
            token.publicKey("01", "handle=501");
            token.publicKey("02", "handle=502");
            int[] handle = {-7};
            outputs.add(handle);
            return () -> Kavro.EnumPublicKey(KIND, token.slot, 2, handle);
        }, new int[] {GONE, GONE, GONE, 0, 0}, new int[][] {{0}, {0}, {0}, {502}, {502}});
    }

    @Test
    void aTokenPulledDuringDigestAndDecryption() {
        pullEverywhere("Hash", (token, outputs) -> {
            int[] length = {-7};
            outputs.add(length);
            return () -> Kavro.Hash(KIND, token.slot, 0, DATA, DATA.length, new byte[30], length);
        }, new int[] {GONE, GONE, 0}, new int[][] {{30}, {30}, {20}});
        pullEverywhere("Decrypt", (token, outputs) -> {
            int publicKey = token.publicKey("01");
            int privateKey = token.privateKey("01");
            byte[] cipher = new byte[128];
            int[] length = {0};
            assertEquals(0, Kavro.Encrypt(KIND, token.slot, publicKey, 0, DATA, DATA.length, cipher, length));
            int[] plainLength = {-7};
            outputs.add(plainLength);
            return () -> Kavro.Decrypt(KIND, token.slot, privateKey, 0, cipher, 128, new byte[50], plainLength);
        }, new int[] {GONE, GONE, 0}, new int[][] {{50}, {50}, {8}});
    }

    /** A PIN transport text for the token's serial. */
    private static byte[] transport(MockToken token, String pin) {
        return PinTransport.text(pin, serialOf(token));
    }

    private static String serialOf(MockToken token) {
        return String.format("FAULTY-%09d", token.slot);
    }

    /** A connected token whose serial has 16 characters, as the PIN transport needs. */
    private static MockToken pinToken(MockToken token) {
        token.mock.run("reset; slot " + token.slot + " serial=" + serialOf(token));
        assertEquals(0, Kavro.GetSlotList(KIND, null, null));
        assertTrue(Kavro.ConnectToken(KIND, token.slot) != 0);
        return token;
    }

    @Test
    void aTokenPulledDuringPinAdministration() {
        // C_GetTokenInfo (0) gives 1004; a refused login any other value than a wrong PIN: 4001; the call
        // that changes the token: its result; the closing logout's result is not examined.
        pullEverywhere("SetSoPin", (token, outputs) -> {
            pinToken(token);
            return () -> Kavro.SetSoPin(KIND, token.slot, transport(token, SO_PIN), transport(token, "11223344"));
        }, new int[] {1004, 4001, 4001, GONE, 0, 0}, null);
        pullEverywhere("UnlockUserPin", (token, outputs) -> {
            pinToken(token);
            return () -> Kavro.UnlockUserPin(KIND, token.slot, transport(token, SO_PIN), "2468".getBytes());
        }, new int[] {1004, 4001, 4001, GONE, 0, 0}, null);
        pullEverywhere("SetUserPin", (token, outputs) -> {
            pinToken(token);
            return () -> Kavro.SetUserPin(KIND, token.slot, "1234".getBytes(), "2468".getBytes());
        }, new int[] {4001, 4001, GONE, 0}, null);
        pullEverywhere("VerifySoPin", (token, outputs) -> {
            pinToken(token);
            return () -> Kavro.VerifySoPin(KIND, token.slot, SO_PIN.getBytes());
        }, new int[] {4001, 4001, 0, 0}, null);
    }

    @Test
    void aTokenPulledDuringInitialisation() {
        // C_GetTokenInfo, C_CloseAllSessions, C_InitToken, C_OpenSession, C_Logout, C_Login, C_InitPIN,
        // C_Logout, C_CloseSession. C_InitToken's result is returned as it is; without a new session the
        // login runs on the closed handle and is refused.
        pullEverywhere("InitToken", (token, outputs) -> {
            pinToken(token);
            return () -> Kavro.InitToken(KIND, token.slot, transport(token, SO_PIN), "2468".getBytes(), "label");
        }, new int[] {1004, CKR_TOKEN_NOT_PRESENT, CKR_TOKEN_NOT_PRESENT, 4001, 4001, 4001, GONE, 0, 0, 0}, null);
    }

    @Test
    void aPulledTokenLeavesTheSlotRegisteredAndItsCallsAnswerWithCodes() {
        MockToken token = MockToken.connect(KIND);
        token.mock.run("pull " + token.slot + " after=0 sessions=drop");
        assertEquals("1004", Kavro.RetrieveSerial(KIND, token.slot));
        assertEquals(CKR_SESSION_HANDLE_INVALID, Kavro.Logout(KIND, token.slot));
        assertEquals(CKR_SESSION_HANDLE_INVALID, Kavro.DisconnectToken(KIND, token.slot));
        assertEquals(0, Kavro.ConnectToken(KIND, token.slot));
        assertEquals(1012, Kavro.GetSlotList(KIND, null, null));
        assertFalse(token.mock.journal().isEmpty());
        token.mock.run("token " + token.slot + " present=1");
        assertEquals(0, Kavro.GetSlotList(KIND, null, null));
        assertTrue(Kavro.ConnectToken(KIND, token.slot) != 0);
    }
}
