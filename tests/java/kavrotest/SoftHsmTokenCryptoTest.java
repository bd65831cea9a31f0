package kavrotest;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import Brelmont.Kavro;
import java.security.GeneralSecurityException;
import java.security.MessageDigest;
import java.security.Signature;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import javax.crypto.Cipher;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * Certificates, keys, signing, verification, digest and cipher on the
 * SoftHSM2 token KavroMain (module kind 0), each result checked by code that
 * kavro does not share: pkcs11-tool for what the token holds,
 * CertificateFactory for serials and public keys, java.security for
 * signatures, digests and RSA.
 *
 * KavroMain: key pairs with certificates 01 (serial 05), 02 (00 80 A1 B2 C3),
 * 03 (20 octets); certificate 04 without a key; key pair 05 without a certificate.
 */
class SoftHsmTokenCryptoTest {
    private static final int KIND = TokenStore.KIND;
    private static final int CKR_MECHANISM_INVALID = 0x70;
    private static final int CKR_SIGNATURE_INVALID = 0xC0;
    private static final String[] WITH_KEYS = {"01", "02", "03"};
    private static final byte[] DATA = "Kavro signs this on the token".getBytes();
    /** DER prefix of a DigestInfo for SHA-1 (RFC 8017, section 9.2). */
    private static final byte[] SHA1_DIGEST_INFO = MockToken.hex("3021300906052b0e03021a05000414");

    private static int slot;

    @BeforeAll
    static void connectAndLogIn() {
        slot = TokenStore.slot("main");
        assertEquals(0, Kavro.GetSlotList(KIND, new int[8], new int[1]));
        assertNotEquals(0, Kavro.ConnectToken(KIND, slot));
        assertEquals(0, Kavro.Login(KIND, slot, TokenStore.userPin()));
    }

    private static int privateKeyOf(String id) {
        byte[] serial = SoftHsmObjects.serial(id);
        int[] handle = {0};
        assertEquals(0, Kavro.EnumPrivateKeyByCertSerial(KIND, slot, serial, serial.length, handle), id);
        return handle[0];
    }

    /** Handles for ordinals 1, 2, ... until the token has no more keys of the class. */
    private static List<Integer> keysByOrdinal(boolean privateKeys) {
        List<Integer> handles = new ArrayList<>();
        for (int ordinal = 1;; ordinal++) {
            int[] handle = {-7};
            int result = privateKeys ? Kavro.EnumPrivateKey(KIND, slot, ordinal, handle)
                    : Kavro.EnumPublicKey(KIND, slot, ordinal, handle);
            if (result == 1011) {
                return handles;
            }
            assertEquals(0, result, "ordinal " + ordinal);
            handles.add(handle[0]);
        }
    }

    private static int publicKeyOf(String id) {
        byte[] serial = SoftHsmObjects.serial(id);
        int[] handle = {0};
        assertEquals(0, Kavro.EnumPublicKeyByCertSerial(KIND, slot, serial, serial.length, handle), id);
        return handle[0];
    }

    @Test
    void certificatesAreCountedThenListedTheSameWayEachTime() {
        // SoftHSM2 orders a token's objects by their addresses in the process
        // that loads them, so the order differs between processes: the exact
        // order is shown on the mock; here, the same order on every call.
        Kavro.EnumPublicKey(KIND, slot, 3, new int[1]);
        int[] count = {-1};
        assertEquals(0, Kavro.ListCertSerial(KIND, slot, null, null, count));
        assertEquals(4, count[0]);
        byte[][] serials = new byte[4][24];
        int[] lengths = new int[4];
        count[0] = -1;
        assertEquals(0, Kavro.ListCertSerial(KIND, slot, serials, lengths, count));
        assertEquals(4, count[0]);
        byte[][] again = new byte[4][24];
        int[] againLengths = new int[4];
        assertEquals(0, Kavro.ListCertSerial(KIND, slot, again, againLengths, count));
        List<String> listed = new ArrayList<>();
        for (int i = 0; i < 4; i++) {
            assertArrayEquals(Arrays.copyOf(serials[i], lengths[i]), Arrays.copyOf(again[i], againLengths[i]));
            listed.add(MockToken.hex(serials[i], lengths[i]));
        }
        List<String> expected = new ArrayList<>();
        for (String id : SoftHsmObjects.idsInModuleOrder("cert")) {
            byte[] serial = SoftHsmObjects.serial(id);
            expected.add(MockToken.hex(serial, serial.length));
        }
        assertEquals(new HashSet<>(expected), new HashSet<>(listed));
        // The serial forms named in the token store's description.
        assertEquals(new HashSet<>(List.of("05", "0080a1b2c3", "7f0102030405060708090a0b0c0d0e0f10111213", "0a0b")),
                new HashSet<>(listed));
    }

    @Test
    void keysByOrdinalAreEachKeyOnceAndMatchTheCertificateLookups() {
        List<Integer> privateKeys = keysByOrdinal(true);
        List<Integer> publicKeys = keysByOrdinal(false);
        assertEquals(4, new HashSet<>(privateKeys).size(), privateKeys.toString());
        assertEquals(4, new HashSet<>(publicKeys).size(), publicKeys.toString());
        assertEquals(privateKeys, keysByOrdinal(true), "the same order on every search");
        for (String id : WITH_KEYS) {
            assertTrue(privateKeys.contains(privateKeyOf(id)), "private key " + id);
            assertTrue(publicKeys.contains(publicKeyOf(id)), "public key " + id);
        }
        List<Integer> privateOrder = new ArrayList<>(privateKeys);
        List<Integer> publicOrder = new ArrayList<>(publicKeys);
        for (String id : WITH_KEYS) {
            privateOrder.remove(Integer.valueOf(privateKeyOf(id)));
            publicOrder.remove(Integer.valueOf(publicKeyOf(id)));
        }
        // Key pair 05 has no certificate: its halves sign and verify together.
        int[] privateKey = {-7};
        int[] publicKey = {-7};
        privateKey[0] = privateOrder.get(0);
        publicKey[0] = publicOrder.get(0);
        byte[] signature = new byte[256];
        int[] length = {-1};
        assertEquals(0, Kavro.Sign(KIND, slot, privateKey[0], 0, DATA, DATA.length, signature, length));
        assertEquals(0, Kavro.Verify(KIND, slot, publicKey[0], 0, DATA, DATA.length, signature, length[0]));

        int[] handle = {-7};
        assertEquals(1011, Kavro.EnumPrivateKey(KIND, slot, 5, handle));
        assertArrayEquals(new int[] {-7}, handle);
        assertEquals(1011, Kavro.EnumPublicKey(KIND, slot, 5, handle));
        assertArrayEquals(new int[] {0}, handle);
        handle[0] = -7;
        assertEquals(1011, Kavro.EnumPrivateKey(KIND, slot, 0, handle));
        assertEquals(1011, Kavro.EnumPublicKey(KIND, slot, -2, handle), "no key stands before the first");
        assertArrayEquals(new int[] {-7}, handle);
    }

    @Test
    void certificateLookupsFindOnlyExactSerialsWithKeys() {
        int[] handle = {-7};
        byte[] lone = SoftHsmObjects.serial("04");
        assertEquals(1007, Kavro.EnumPrivateKeyByCertSerial(KIND, slot, lone, lone.length, handle));
        assertEquals(1007, Kavro.EnumPublicKeyByCertSerial(KIND, slot, lone, lone.length, handle));
        byte[] withoutZero = MockToken.hex("80a1b2c3");
        assertEquals(1006, Kavro.EnumPrivateKeyByCertSerial(KIND, slot, withoutZero, 4, handle));
        byte[] unknown = MockToken.hex("0102");
        assertEquals(1006, Kavro.EnumPublicKeyByCertSerial(KIND, slot, unknown, 2, handle));
        assertArrayEquals(new int[] {-7}, handle);
        // Each lookup closed its search: the listing still runs.
        int[] count = {-1};
        assertEquals(0, Kavro.ListCertSerial(KIND, slot, null, null, count));
        assertEquals(4, count[0]);
    }

    /** What a Java verifier checks a selector's signature against. */
    private static boolean verifiesInJava(String id, int selector, byte[] signature) throws GeneralSecurityException {
        Signature verifier = Signature.getInstance(selector == 2 ? "MD5withRSA" : "SHA1withRSA");
        verifier.initVerify(SoftHsmObjects.publicKey(id));
        verifier.update(DATA);
        return verifier.verify(signature);
    }

    /** The bytes signed for data: the data, or for raw RSA (3) a SHA-1 DigestInfo of it. */
    static byte[] toSign(int selector, byte[] data) throws GeneralSecurityException {
        if (selector != 3) {
            return data;
        }
        byte[] digest = MessageDigest.getInstance("SHA-1").digest(data);
        byte[] info = Arrays.copyOf(SHA1_DIGEST_INFO, SHA1_DIGEST_INFO.length + digest.length);
        System.arraycopy(digest, 0, info, SHA1_DIGEST_INFO.length, digest.length);
        return info;
    }

    @Test
    void signaturesVerifyInJavaAndOnTheToken() throws GeneralSecurityException {
        for (String id : WITH_KEYS) {
            byte[] serial = SoftHsmObjects.serial(id);
            for (int selector : new int[] {0, 2, 3}) {
                String what = "certificate " + id + ", selector " + selector;
                byte[] input = toSign(selector, DATA);
                byte[] signature = new byte[300];
                int[] length = {-1};
                assertEquals(0, Kavro.Sign(KIND, slot, privateKeyOf(id), selector, input, input.length, signature,
                        length), what);
                assertEquals(256, length[0], what);
                byte[] exact = Arrays.copyOf(signature, 256);
                assertTrue(verifiesInJava(id, selector, exact), what);

                byte[] bySerial = new byte[256];
                length[0] = -1;
                assertEquals(0, Kavro.SignByCertSerial(KIND, slot, serial, serial.length, selector, input,
                        input.length, bySerial, length), what);
                assertEquals(256, length[0]);
                // RSA PKCS #1 v1.5 signatures are deterministic.
                assertArrayEquals(exact, bySerial, what);

                assertEquals(0, Kavro.Verify(KIND, slot, publicKeyOf(id), selector, input, input.length, exact,
                        256), what);
                assertEquals(0, Kavro.VerifyByCertSerial(KIND, slot, serial, serial.length, selector, input,
                        input.length, exact, 256), what);
            }
        }
    }

    @Test
    void aSignatureByAnotherKeyIsInvalid() {
        byte[] signature = new byte[256];
        int[] length = {-1};
        assertEquals(0, Kavro.Sign(KIND, slot, privateKeyOf("02"), 0, DATA, DATA.length, signature, length));
        byte[] serial = SoftHsmObjects.serial("01");
        assertEquals(CKR_SIGNATURE_INVALID, Kavro.VerifyByCertSerial(KIND, slot, serial, serial.length, 0, DATA,
                DATA.length, signature, 256));
        assertEquals(CKR_SIGNATURE_INVALID, Kavro.Verify(KIND, slot, publicKeyOf("01"), 0, DATA, DATA.length,
                signature, 256));
        byte[] other = DATA.clone();
        other[0] ^= 1;
        assertEquals(CKR_SIGNATURE_INVALID, Kavro.Verify(KIND, slot, publicKeyOf("02"), 0, other, other.length,
                signature, 256));
    }

    @Test
    void md2IsPassedToTheModuleWhichRefusesIt() {
        // SoftHSM2 offers neither CKM_MD2_RSA_PKCS nor CKM_MD2: the module's refusal comes through.
        byte[] serial = SoftHsmObjects.serial("01");
        byte[] signature = new byte[256];
        int[] length = {-1};
        assertEquals(CKR_MECHANISM_INVALID, Kavro.Sign(KIND, slot, privateKeyOf("01"), 1, DATA, DATA.length,
                signature, length));
        assertArrayEquals(new int[] {-1}, length);
        assertEquals(CKR_MECHANISM_INVALID, Kavro.SignByCertSerial(KIND, slot, serial, serial.length, 1, DATA,
                DATA.length, signature, length));
        assertArrayEquals(new int[] {256}, length);
        assertEquals(CKR_MECHANISM_INVALID, Kavro.VerifyByCertSerial(KIND, slot, serial, serial.length, 1, DATA,
                DATA.length, signature, 256));
        int[] digestLength = {-1};
        assertEquals(CKR_MECHANISM_INVALID, Kavro.Hash(KIND, slot, 1, DATA, DATA.length, new byte[16],
                digestLength));
        assertArrayEquals(new int[] {16}, digestLength);
        // The session is still usable.
        assertEquals(0, Kavro.Sign(KIND, slot, privateKeyOf("01"), 0, DATA, DATA.length, signature, length));
    }

    @Test
    void digestsEqualJavasMessageDigest() throws GeneralSecurityException {
        String[] algorithms = {"SHA-1", null, "MD5"};
        for (int hashType : new int[] {0, 2}) {
            MessageDigest expected = MessageDigest.getInstance(algorithms[hashType]);
            expected.update(DATA, 0, 10);
            byte[] digest = new byte[32];
            int[] length = {-1};
            assertEquals(0, Kavro.Hash(KIND, slot, hashType, DATA, 10, digest, length));
            assertEquals(expected.getDigestLength(), length[0]);
            assertArrayEquals(expected.digest(), Arrays.copyOf(digest, length[0]));
        }
        byte[] digest = new byte[20];
        int[] length = {-1};
        assertEquals(0, Kavro.Hash(KIND, slot, 0, new byte[0], 0, digest, length));
        assertArrayEquals(MessageDigest.getInstance("SHA-1").digest(new byte[0]), digest);
    }

    @Test
    void encryptionRoundTripsAndMatchesJavasRsa() throws GeneralSecurityException {
        byte[] plain = "a short secret".getBytes();
        for (String id : WITH_KEYS) {
            byte[] cipher = new byte[256];
            int[] cipherLength = {-1};
            assertEquals(0, Kavro.Encrypt(KIND, slot, publicKeyOf(id), 0, plain, plain.length, cipher,
                    cipherLength));
            assertEquals(256, cipherLength[0]);
            byte[] output = new byte[256];
            int[] outputLength = {-1};
            assertEquals(0, Kavro.Decrypt(KIND, slot, privateKeyOf(id), 0, cipher, 256, output, outputLength));
            assertEquals(plain.length, outputLength[0]);
            assertArrayEquals(plain, Arrays.copyOf(output, plain.length));

            // A ciphertext made by Java with the certificate's key decrypts on the token.
            Cipher rsa = Cipher.getInstance("RSA/ECB/PKCS1Padding");
            rsa.init(Cipher.ENCRYPT_MODE, SoftHsmObjects.publicKey(id));
            byte[] fromJava = rsa.doFinal(plain);
            Arrays.fill(output, (byte) 0);
            assertEquals(0, Kavro.Decrypt(KIND, slot, privateKeyOf(id), 0, fromJava, fromJava.length, output,
                    outputLength));
            assertArrayEquals(plain, Arrays.copyOf(output, outputLength[0]));
        }
    }
}
