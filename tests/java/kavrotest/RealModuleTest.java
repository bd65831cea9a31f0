package kavrotest;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeFalse;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import Brelmont.Kavro;
import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.security.GeneralSecurityException;
import java.security.MessageDigest;
import java.security.PublicKey;
import java.security.Signature;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.stream.Collectors;
import java.util.stream.IntStream;
import javax.crypto.Cipher;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.MethodOrderer;
import org.junit.jupiter.api.Order;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestMethodOrder;

/**
 * One table of cases for every real module (RealModule), run in the order a
 * caller works: slots, session, login, certificates, key, signing, digest,
 * cipher, logout, disconnect. Results are checked against what kavro does
 * not share: the set-up's certificate files read by CertificateFactory,
 * java.security signatures and digests, javax.crypto RSA. bridge.conf is
 * written here, before the first call loads the bridge.
 */
@TestMethodOrder(MethodOrderer.OrderAnnotation.class)
class RealModuleTest {
    private static final int CKR_MECHANISM_INVALID = 0x70;
    private static final int CKR_USER_NOT_LOGGED_IN = 0x101;
    private static final int CKR_SESSION_HANDLE_INVALID = 0xB3;
    /** Every set-up key is RSA-2048. */
    private static final int KEY_BYTES = 256;
    private static final String[] SIGNATURES = {"SHA1withRSA", "MD2withRSA", "MD5withRSA", "SHA1withRSA"};
    private static final String[] DIGESTS = {"SHA-1", "MD2", "MD5"};
    private static final byte[] DATA = "Kavro signs this on a real token".getBytes();

    private static RealModule module;
    private static int kind;
    private static int slot;
    private static Set<String> serials;
    private static byte[] keySerial;
    private static PublicKey publicKey;

    @BeforeAll
    static void configure() throws IOException, GeneralSecurityException {
        module = RealModule.selected();
        assertNotNull(module, "no module " + System.getProperty("kavro.module"));
        kind = module.kind();
        slot = module.slot();
        Path config = Paths.get(System.getenv("XDG_CONFIG_HOME"), "kavro", "bridge.conf");
        Files.createDirectories(config.getParent());
        Files.writeString(config, "# " + module.name() + " behind the bridge.\n" + module.bridgeConf(true));

        serials = new HashSet<>();
        try (DirectoryStream<Path> files = Files.newDirectoryStream(RealModule.certificate("."), "*.der")) {
            for (Path file : files) {
                X509Certificate certificate = read(file);
                serials.add(hex(certificate.getSerialNumber().toByteArray()));
                if (file.getFileName().toString().equals("key.der")) {
                    keySerial = certificate.getSerialNumber().toByteArray();
                    publicKey = certificate.getPublicKey();
                }
            }
        }
    }

    private static X509Certificate read(Path file) throws IOException, GeneralSecurityException {
        return (X509Certificate) CertificateFactory.getInstance("X.509")
                .generateCertificate(new ByteArrayInputStream(Files.readAllBytes(file)));
    }

    private static String hex(byte[] bytes) {
        return MockToken.hex(bytes, bytes.length);
    }

    private static void assumeKeys() {
        assumeFalse(module.readOnly(), module.name() + ": a read-only token without keys");
    }

    private static int privateKey() {
        int[] handle = {0};
        assertEquals(0, Kavro.EnumPrivateKeyByCertSerial(kind, slot, keySerial, keySerial.length, handle));
        return handle[0];
    }

    private static int publicKey() {
        int[] handle = {0};
        assertEquals(0, Kavro.EnumPublicKeyByCertSerial(kind, slot, keySerial, keySerial.length, handle));
        return handle[0];
    }

    private static boolean offered(int[] offered, int value) {
        return IntStream.of(offered).anyMatch(v -> v == value);
    }

    @Test
    @Order(1)
    void startsOnlyWithTheInitArgsItNeeds() throws IOException {
        assumeTrue(module.withoutArgs() != null, module.name() + " takes no init-args");
        Path home = Work.dir().resolve("without-init-args");
        Path config = home.resolve("kavro").resolve("bridge.conf");
        Files.createDirectories(config.getParent());
        Files.writeString(config, module.bridgeConf(false));
        ChildJvm.Result result = ChildJvm.run(ChildJvm.environment(home, "XDG_CONFIG_HOME=" + home),
                "initialize", "" + kind);
        int code = module.withoutArgs();
        assertEquals(code, result.code("initialize"), result.errors());
        List<String> lines = result.errors().lines().collect(Collectors.toList());
        if (code == 0) {
            assertEquals(List.of(), lines);
        } else {
            // The bridge says which call of the module refused, once.
            assertEquals(1, lines.size(), result.errors());
            assertTrue(lines.get(0).startsWith("kavro-bridge: " + module.file() + ": "), lines.get(0));
            assertTrue(lines.get(0).contains("C_Initialize"), lines.get(0));
        }
    }

    @Test
    @Order(2)
    void listsItsSlots() {
        int[] ids = new int[8];
        int[] count = {-1};
        assertEquals(0, Kavro.GetSlotList(kind, ids, count));
        assertArrayEquals(module.slots(), Arrays.copyOf(ids, count[0]));
    }

    @Test
    @Order(3)
    void connects() {
        assertNotEquals(0, Kavro.ConnectToken(kind, slot));
    }

    @Test
    @Order(4)
    void logsIn() {
        assumeKeys();
        assertEquals(0, Kavro.Login(kind, slot, module.userPin()));
    }

    @Test
    @Order(5)
    void listsTheCertificatesItHolds() {
        int[] count = {-1};
        assertEquals(0, Kavro.ListCertSerial(kind, slot, null, null, count));
        assertEquals(serials.size(), count[0]);
        byte[][] listed = new byte[count[0]][64];
        int[] lengths = new int[count[0]];
        assertEquals(0, Kavro.ListCertSerial(kind, slot, listed, lengths, count));
        Set<String> found = new HashSet<>();
        for (int i = 0; i < count[0]; i++) {
            found.add(MockToken.hex(listed[i], lengths[i]));
        }
        assertEquals(serials, found);
    }

    @Test
    @Order(6)
    void findsTheKeyByOrdinalAndByItsCertificate() {
        assumeKeys();
        int[] handle = {-7};
        assertEquals(0, Kavro.EnumPrivateKey(kind, slot, 1, handle));
        assertEquals(privateKey(), handle[0], "the token's one private key");
        assertEquals(1011, Kavro.EnumPrivateKey(kind, slot, 2, handle));
        assertEquals(0, Kavro.EnumPublicKey(kind, slot, 1, handle));
        assertEquals(publicKey(), handle[0], "the token's one public key");
        // The CA's certificate is on the token without a key.
        byte[] ca = serials.stream().filter(s -> !s.equals(hex(keySerial))).findFirst().map(MockToken::hex)
                .orElseThrow();
        assertEquals(1007, Kavro.EnumPrivateKeyByCertSerial(kind, slot, ca, ca.length, handle));
    }

    @Test
    @Order(7)
    void signaturesVerifyInJava() throws GeneralSecurityException {
        assumeKeys();
        for (int selector = 0; selector < 4; selector++) {
            String what = module.name() + ", signMechanism " + selector;
            byte[] input = SoftHsmTokenCryptoTest.toSign(selector, DATA);
            byte[] signature = new byte[KEY_BYTES];
            int[] length = {-1};
            int result = Kavro.Sign(kind, slot, privateKey(), selector, input, input.length, signature, length);
            if (!offered(module.signMechanisms(), selector)) {
                assertEquals(CKR_MECHANISM_INVALID, result, what);
                continue;
            }
            assertEquals(0, result, what);
            assertEquals(KEY_BYTES, length[0], what);
            Signature verifier = Signature.getInstance(SIGNATURES[selector]);
            verifier.initVerify(publicKey);
            verifier.update(DATA);
            assertTrue(verifier.verify(signature), what);

            byte[] bySerial = new byte[KEY_BYTES];
            assertEquals(0, Kavro.SignByCertSerial(kind, slot, keySerial, keySerial.length, selector, input,
                    input.length, bySerial, length), what);
            assertArrayEquals(signature, bySerial, "PKCS #1 v1.5 signatures are deterministic: " + what);
            assertEquals(0, Kavro.VerifyByCertSerial(kind, slot, keySerial, keySerial.length, selector, input,
                    input.length, signature, KEY_BYTES), what);
        }
    }

    @Test
    @Order(8)
    void digestsEqualMessageDigest() throws GeneralSecurityException {
        assumeKeys();
        for (int hashType = 0; hashType < 3; hashType++) {
            String what = module.name() + ", hashType " + hashType;
            byte[] digest = new byte[20];
            int[] length = {-1};
            int result = Kavro.Hash(kind, slot, hashType, DATA, DATA.length, digest, length);
            if (!offered(module.hashTypes(), hashType)) {
                assertEquals(CKR_MECHANISM_INVALID, result, what);
                continue;
            }
            assertEquals(0, result, what);
            byte[] expected = MessageDigest.getInstance(DIGESTS[hashType]).digest(DATA);
            assertArrayEquals(expected, Arrays.copyOf(digest, length[0]), what);
        }
    }

    @Test
    @Order(9)
    void encryptionRoundTrips() throws GeneralSecurityException {
        assumeKeys();
        byte[] plain = "a short secret".getBytes();
        byte[] cipher = new byte[KEY_BYTES];
        int[] cipherLength = {-1};
        assertEquals(0, Kavro.Encrypt(kind, slot, publicKey(), 0, plain, plain.length, cipher, cipherLength));
        assertEquals(KEY_BYTES, cipherLength[0]);
        byte[] output = new byte[KEY_BYTES];
        int[] outputLength = {-1};
        assertEquals(0, Kavro.Decrypt(kind, slot, privateKey(), 0, cipher, KEY_BYTES, output, outputLength));
        assertArrayEquals(plain, Arrays.copyOf(output, outputLength[0]));

        Cipher rsa = Cipher.getInstance("RSA/ECB/PKCS1Padding");
        rsa.init(Cipher.ENCRYPT_MODE, publicKey);
        byte[] fromJava = rsa.doFinal(plain);
        Arrays.fill(output, (byte) 0);
        assertEquals(0, Kavro.Decrypt(kind, slot, privateKey(), 0, fromJava, fromJava.length, output, outputLength));
        assertArrayEquals(plain, Arrays.copyOf(output, outputLength[0]), "a ciphertext made by Java");
    }

    @Test
    @Order(10)
    void aShortDigestArrayLeavesTheModulesAnswer() {
        assumeKeys();
        RealModule.ShortDigest expected = module.shortDigest();
        int[] length = {-1};
        assertEquals(expected.result(), Kavro.Hash(kind, slot, 0, DATA, DATA.length, new byte[16], length));
        assertEquals(expected.length(), length[0]);
        assertEquals(expected.nextHash(), Kavro.Hash(kind, slot, 0, DATA, DATA.length, new byte[20], length));
        // A new session ends any operation left active.
        assertEquals(0, Kavro.DisconnectToken(kind, slot));
        assertNotEquals(0, Kavro.ConnectToken(kind, slot));
        assertEquals(0, Kavro.Login(kind, slot, module.userPin()));
        assertEquals(0, Kavro.Hash(kind, slot, 0, DATA, DATA.length, new byte[20], length));
    }

    @Test
    @Order(11)
    void logsOut() {
        assumeKeys();
        assertEquals(0, Kavro.Logout(kind, slot));
        int[] handle = {-7};
        assertEquals(1011, Kavro.EnumPrivateKey(kind, slot, 1, handle), "private keys are hidden again");
        assertEquals(CKR_USER_NOT_LOGGED_IN, Kavro.Logout(kind, slot));
    }

    @Test
    @Order(12)
    void disconnects() {
        assertEquals(0, Kavro.DisconnectToken(kind, slot));
        assertEquals(CKR_SESSION_HANDLE_INVALID, Kavro.ListCertSerial(kind, slot, null, null, new int[1]));
        assertEquals(0, Kavro.DisconnectToken(kind, slot), "no session: no module call");
    }
}
