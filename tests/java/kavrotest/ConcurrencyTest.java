package kavrotest;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import Brelmont.Kavro;
import java.nio.charset.StandardCharsets;
import java.security.MessageDigest;
import java.security.PublicKey;
import java.security.Signature;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Queue;
import java.util.concurrent.ConcurrentLinkedQueue;
import java.util.concurrent.atomic.AtomicBoolean;
import org.junit.jupiter.api.Test;

/**
 * Java threads calling at once: on one slot of the mock, which counts calls
 * that arrive on a session while another runs there, and on SoftHSM2 slots,
 * every result checked against code kavro does not share. A thread
 * re-running GetSlotList runs beside them throughout. Calls that meet on a
 * slot get sessions of their own, up to KAVRO_SESSIONS_PER_SLOT (this class
 * also runs with it set to 1).
 */
class ConcurrencyTest {
    private static final int SESSIONS_PER_SLOT = sessionsPerSlot();

    private static int sessionsPerSlot() {
        String text = System.getenv("KAVRO_SESSIONS_PER_SLOT");
        return text == null ? 4 : Integer.parseInt(text);
    }

    private static final int MOCK = 1;
    private static final int SOFTHSM = TokenStore.KIND;
    private static final String MOCK_SERIAL = "KAVROSERIAL00001";
    private static final byte[] DATA = "kavro, from many threads at once".getBytes(StandardCharsets.US_ASCII);

    /** One thread's work: its failures go to the queue. */
    interface Work {
        void run(int thread, int round, Queue<String> failures) throws Exception;
    }

    /** Runs the workers and a discovery thread until the workers are done; returns what failed. */
    private static List<String> runAtOnce(int threads, int rounds, Work work, Work discovery) throws Exception {
        Queue<String> failures = new ConcurrentLinkedQueue<>();
        AtomicBoolean done = new AtomicBoolean();
        Thread discoverer = new Thread(() -> {
            try {
                for (int round = 0; !done.get(); round++) {
                    discovery.run(-1, round, failures);
                }
            } catch (Exception | AssertionError e) {
                failures.add("discovery: " + e);
            }
        });
        List<Thread> workers = new ArrayList<>();
        for (int t = 0; t < threads; t++) {
            int thread = t;
            workers.add(new Thread(() -> {
                try {
                    for (int round = 0; round < rounds; round++) {
                        work.run(thread, round, failures);
                    }
                } catch (Exception | AssertionError e) {
                    failures.add("thread " + thread + ": " + e);
                }
            }));
        }
        discoverer.start();
        workers.forEach(Thread::start);
        for (Thread worker : workers) {
            worker.join();
        }
        done.set(true);
        discoverer.join();
        return new ArrayList<>(failures);
    }

    private static void expect(Queue<String> failures, String what, Object expected, Object actual) {
        if (!expected.equals(actual)) {
            failures.add(what + ": expected " + expected + ", got " + actual);
        }
    }

    private static byte[] hash(int kind, int slot, Queue<String> failures) {
        byte[] digest = new byte[64];
        int[] length = {0};
        expect(failures, "Hash", 0, Kavro.Hash(kind, slot, 0, DATA, DATA.length, digest, length));
        return Arrays.copyOf(digest, length[0]);
    }

    private static byte[] sign(int kind, int slot, int key, Queue<String> failures) {
        byte[] signature = new byte[512];
        int[] length = {0};
        expect(failures, "Sign", 0, Kavro.Sign(kind, slot, key, 0, DATA, DATA.length, signature, length));
        return Arrays.copyOf(signature, length[0]);
    }

    /** The mock reset, its slot (and others) scripted and found, the slot's session open. */
    private static MockModule connectedMock(int slot, String slots) {
        MockModule mock = MockModule.forKind(MOCK).reset();
        mock.run("slot " + slot + " serial=" + MOCK_SERIAL + " " + slots + "; set journal.off 1");
        assertEquals(0, Kavro.GetSlotList(MOCK, null, null));
        assertNotEquals(0, Kavro.ConnectToken(MOCK, slot));
        return mock;
    }

    @Test
    void oneSlotsCallsNeverMeetAndEachGetsItsOwnAnswer() throws Exception {
        int slot = 0x5101;
        MockModule mock = connectedMock(slot, "; slot 0x5102");
        int key = mock.addObject(slot + " class=private private=0 id=hex:01");
        mock.addObject(slot + " class=cert id=hex:01 serial=hex:" + MockToken.derInteger("05"));
        Queue<String> none = new ConcurrentLinkedQueue<>();
        String digest = MockToken.hex(hash(MOCK, slot, none), 20);
        byte[] signature = sign(MOCK, slot, key, none);
        assertEquals(List.of(), new ArrayList<>(none));
        // Every call on a session is held open a while, so that a second call
        // there, if one were let in, would be seen.
        mock.run("set overlap.window.us 200");

        List<String> failures = runAtOnce(6, 150, (thread, round, failed) -> {
            switch ((thread + round) % 4) {
                case 0:
                    expect(failed, "digest", digest, MockToken.hex(hash(MOCK, slot, failed), 20));
                    break;
                case 1:
                    expect(failed, "signature", Arrays.toString(signature),
                            Arrays.toString(sign(MOCK, slot, key, failed)));
                    break;
                case 2:
                    int[] count = {-1};
                    expect(failed, "ListCertSerial", 0, Kavro.ListCertSerial(MOCK, slot, null, null, count));
                    expect(failed, "certificates", 1, count[0]);
                    break;
                default:
                    expect(failed, "RetrieveSerial", MOCK_SERIAL, Kavro.RetrieveSerial(MOCK, slot));
            }
        }, (thread, round, failed) -> expect(failed, "GetSlotList", 0, Kavro.GetSlotList(MOCK, null, null)));
        assertEquals(List.of(), failures);
        assertEquals("0", mock.run("overlaps").trim(), "calls that met on the slot's session");
    }

    @Test
    void aPinChangeKeepsItsTransportKeyWhileTheSerialIsReadBesideIt() throws Exception {
        int slot = 0x5201;
        MockModule mock = connectedMock(slot, "sopin=87654321");
        byte[] text = PinTransport.text("87654321", MOCK_SERIAL);
        mock.run("set overlap.window.us 200");
        List<String> failures = runAtOnce(4, 200, (thread, round, failed) -> {
            if (thread % 2 == 0) {
                expect(failed, "SetSoPin", 0, Kavro.SetSoPin(MOCK, slot, text.clone(), text.clone()));
            } else {
                expect(failed, "RetrieveSerial", MOCK_SERIAL, Kavro.RetrieveSerial(MOCK, slot));
            }
        }, (thread, round, failed) -> expect(failed, "GetSlotList", 0, Kavro.GetSlotList(MOCK, null, null)));
        assertEquals(List.of(), failures);
        assertEquals("87654321", new String(MockToken.hex(mock.state(slot, "sopin")), StandardCharsets.US_ASCII),
                "the SO PIN is still the one every change set");
    }

    @Test
    void anSoLoginIsNeverSeenByTheCallsBesideItAndNoSessionOutlivesDisconnect() throws Exception {
        int slot = 0x5301;
        MockModule mock = connectedMock(slot, "userpin=1234 sopin=87654321");
        int key = mock.addObject(slot + " class=private private=1 id=hex:01");
        int publicKey = mock.addObject(slot + " class=public id=hex:01");
        byte[] userPin = "1234".getBytes(StandardCharsets.US_ASCII);
        byte[] soPin = "87654321".getBytes(StandardCharsets.US_ASCII);
        assertEquals(0, Kavro.Login(MOCK, slot, userPin.clone()));
        Queue<String> none = new ConcurrentLinkedQueue<>();
        byte[] expected = sign(MOCK, slot, key, none);
        assertEquals(List.of(), new ArrayList<>(none));
        mock.run("set overlap.window.us 200");

        List<String> failures = runAtOnce(5, 40, (thread, round, failed) -> {
            if (thread == 0) {
                checkSoPinThenLogIn(MOCK, slot, soPin, userPin, failed);
                return;
            }
            byte[] signature = new byte[512];
            int[] length = {0};
            int rc = Kavro.Sign(MOCK, slot, key, 0, DATA, DATA.length, signature, length);
            if (rc == 0) {
                expect(failed, "signature", Arrays.toString(expected),
                        Arrays.toString(Arrays.copyOf(signature, length[0])));
            } else {
                expect(failed, "Sign while nobody is logged in", 0x101, rc);
            }
            expect(failed, "Verify", 0, Kavro.Verify(MOCK, slot, publicKey, 0, DATA, DATA.length, expected,
                    expected.length));
        }, (thread, round, failed) -> expect(failed, "GetSlotList", 0, Kavro.GetSlotList(MOCK, null, null)));
        assertEquals(List.of(), failures);
        assertEquals("0", mock.state(slot, "soseen"), "operations begun while the SO was logged in");
        assertEquals("0", mock.run("overlaps").trim(), "calls that met on a session");
        int sessions = Integer.parseInt(mock.state(slot, "sessions"));
        assertTrue(sessions <= SESSIONS_PER_SLOT, sessions + " sessions");
        assertTrue(SESSIONS_PER_SLOT == 1 || sessions > 1, "calls that met got sessions of their own");
        assertEquals(0, Kavro.DisconnectToken(MOCK, slot));
        assertEquals("0", mock.state(slot, "sessions"), "every session closed");
    }

    @Test
    void anOperationLeftActiveStaysWithTheThreadThatLeftIt() throws Exception {
        int slot = 0x5401;
        MockModule mock = connectedMock(slot, "");
        mock.run("set journal.off 0; journal-clear");
        // This thread leaves a digest active in the slot's own session.
        assertEquals(0x150, hashInto(slot, 1));
        int[] results = new int[3];
        Thread other = new Thread(() -> {
            results[0] = hashInto(slot, 1);
            results[1] = hashInto(slot, 20);
        });
        other.start();
        other.join();
        results[2] = hashInto(slot, 20);
        List<String> opened = mock.calls("C_OpenSession");
        if (SESSIONS_PER_SLOT == 1) {
            // One session: the other thread meets the operation, as one thread always would.
            assertArrayEquals(new int[] {0x90, 0x90, 0x90}, results);
            assertEquals(List.of(), opened);
        } else {
            // The other thread works in sessions of its own; the one it left an
            // operation in is closed, never handed on.
            assertArrayEquals(new int[] {0x150, 0, 0x90}, results);
            assertEquals(2, opened.size(), opened.toString());
            assertEquals(1, mock.calls("C_CloseSession").size());
            assertEquals("2", mock.state(slot, "sessions"));
        }
        assertEquals(0, Kavro.DisconnectToken(MOCK, slot));
        assertEquals("0", mock.state(slot, "sessions"));
    }

    /** The SO thread's round: an SO login, which ends with a logout, then the user's login again. */
    private static void checkSoPinThenLogIn(int kind, int slot, byte[] soPin, byte[] userPin, Queue<String> failed) {
        expect(failed, "VerifySoPin", 0, Kavro.VerifySoPin(kind, slot, soPin.clone()));
        expect(failed, "Login", 0, Kavro.Login(kind, slot, userPin.clone()));
    }

    /** Hash into an array of the given size; the result. */
    private static int hashInto(int slot, int room) {
        byte[] digest = new byte[room];
        int[] length = {0};
        return Kavro.Hash(MOCK, slot, 0, DATA, DATA.length, digest, length);
    }

    @Test
    void signersOnOneSoftHsmSlotGetRightSignaturesBesideAnSoLogin() throws Exception {
        int main = TokenStore.slot("main");
        assertEquals(0, Kavro.GetSlotList(SOFTHSM, null, null));
        assertNotEquals(0, Kavro.ConnectToken(SOFTHSM, main));
        assertEquals(0, Kavro.Login(SOFTHSM, main, TokenStore.userPin()));
        byte[] serial = SoftHsmObjects.serial("01");
        PublicKey certificateKey = SoftHsmObjects.publicKey("01");
        // The key is found afresh for each signature: SoftHSM2's handles of
        // private objects end with the logout.
        List<String> failures = runAtOnce(4, 12, (thread, round, failed) -> {
            if (thread == 0) {
                checkSoPinThenLogIn(SOFTHSM, main, TokenStore.soPin(), TokenStore.userPin(), failed);
                return;
            }
            byte[] signature = new byte[512];
            int[] length = {0};
            int rc = Kavro.SignByCertSerial(SOFTHSM, main, serial, serial.length, 0, DATA, DATA.length, signature,
                    length);
            if (rc != 0) {
                expect(failed, "no private key while nobody is logged in", 1007, rc);
                return;
            }
            Signature verifier = Signature.getInstance("SHA1withRSA");
            verifier.initVerify(certificateKey);
            verifier.update(DATA);
            expect(failed, "java.security verifies", true, verifier.verify(Arrays.copyOf(signature, length[0])));
        }, (thread, round, failed) -> expect(failed, "GetSlotList", 0, Kavro.GetSlotList(SOFTHSM, null, null)));
        assertEquals(List.of(), failures);
        assertEquals(0, Kavro.Logout(SOFTHSM, main));
        assertEquals(0, Kavro.DisconnectToken(SOFTHSM, main));
    }

    @Test
    void eightThreadsOnTwoSoftHsmSlotsAllGetRightAnswers() throws Exception {
        int main = TokenStore.slot("main");
        int admin = TokenStore.slot("admin");
        int[] slotCount = {0};
        assertEquals(0, Kavro.GetSlotList(SOFTHSM, null, slotCount));
        assertNotEquals(0, Kavro.ConnectToken(SOFTHSM, main));
        assertNotEquals(0, Kavro.ConnectToken(SOFTHSM, admin));
        assertEquals(0, Kavro.Login(SOFTHSM, main, TokenStore.userPin()));
        byte[] serial = SoftHsmObjects.serial("01");
        int[] privateKey = {0};
        int[] publicKey = {0};
        assertEquals(0, Kavro.EnumPrivateKeyByCertSerial(SOFTHSM, main, serial, serial.length, privateKey));
        assertEquals(0, Kavro.EnumPublicKeyByCertSerial(SOFTHSM, main, serial, serial.length, publicKey));
        PublicKey certificateKey = SoftHsmObjects.publicKey("01");
        String sha1 = MockToken.hex(MessageDigest.getInstance("SHA-1").digest(DATA), 20);
        int[] certificates = new int[2];
        int[] slots = {main, admin};
        for (int i = 0; i < 2; i++) {
            int[] count = {-1};
            assertEquals(0, Kavro.ListCertSerial(SOFTHSM, slots[i], null, null, count));
            certificates[i] = count[0];
        }

        List<String> failures = runAtOnce(8, 60, (thread, round, failed) -> {
            int which = (thread + round) % 2;
            int slot = slots[which];
            switch ((thread + round) % 5) {
                case 0:
                    expect(failed, "digest", sha1, MockToken.hex(hash(SOFTHSM, slot, failed), 20));
                    break;
                case 1: {
                    byte[] signature = sign(SOFTHSM, main, privateKey[0], failed);
                    Signature verifier = Signature.getInstance("SHA1withRSA");
                    verifier.initVerify(certificateKey);
                    verifier.update(DATA);
                    expect(failed, "java.security verifies", true, verifier.verify(signature));
                    expect(failed, "Verify", 0, Kavro.Verify(SOFTHSM, main, publicKey[0], 0, DATA, DATA.length,
                            signature, signature.length));
                    break;
                }
                case 2: {
                    byte[] cipher = new byte[256];
                    int[] cipherLength = {0};
                    expect(failed, "Encrypt", 0, Kavro.Encrypt(SOFTHSM, main, publicKey[0], 0, DATA, DATA.length,
                            cipher, cipherLength));
                    byte[] plain = new byte[256];
                    int[] plainLength = {0};
                    expect(failed, "Decrypt", 0, Kavro.Decrypt(SOFTHSM, main, privateKey[0], 0, cipher,
                            cipherLength[0], plain, plainLength));
                    expect(failed, "plaintext", Arrays.toString(DATA),
                            Arrays.toString(Arrays.copyOf(plain, plainLength[0])));
                    break;
                }
                case 3: {
                    int[] count = {-1};
                    expect(failed, "ListCertSerial", 0, Kavro.ListCertSerial(SOFTHSM, slot, null, null, count));
                    expect(failed, "certificates", certificates[which], count[0]);
                    break;
                }
                default:
                    expect(failed, "RetrieveSerial", TokenStore.serial(which == 0 ? "main" : "admin"),
                            Kavro.RetrieveSerial(SOFTHSM, slot));
            }
        }, (thread, round, failed) -> {
            int[] count = {0};
            expect(failed, "GetSlotList", 0, Kavro.GetSlotList(SOFTHSM, new int[8], count));
            expect(failed, "slots with a token", slotCount[0], count[0]);
        });
        assertEquals(List.of(), failures);
        assertEquals(0, Kavro.Logout(SOFTHSM, main));
        assertEquals(0, Kavro.DisconnectToken(SOFTHSM, main));
        assertEquals(0, Kavro.DisconnectToken(SOFTHSM, admin));
    }
}
