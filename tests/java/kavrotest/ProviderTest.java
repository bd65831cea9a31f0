package kavrotest;

import static java.nio.charset.StandardCharsets.UTF_8;
import static java.util.concurrent.TimeUnit.SECONDS;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertInstanceOf;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertNotNull;
import static org.junit.jupiter.api.Assertions.assertNull;
import static org.junit.jupiter.api.Assertions.assertThrows;
import static org.junit.jupiter.api.Assertions.assertTrue;

import Brelmont.Kavro;
import Brelmont.KavroProvider;
import java.io.IOException;
import java.io.InputStream;
import java.net.InetAddress;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.security.InvalidKeyException;
import java.security.InvalidParameterException;
import java.security.Key;
import java.security.KeyPairGenerator;
import java.security.KeyStore;
import java.security.KeyStoreException;
import java.security.MessageDigest;
import java.security.PrivateKey;
import java.security.Provider;
import java.security.ProviderException;
import java.security.Security;
import java.security.Signature;
import java.security.SignatureException;
import java.security.UnrecoverableKeyException;
import java.security.cert.Certificate;
import java.security.cert.X509Certificate;
import java.security.interfaces.RSAKey;
import java.security.interfaces.RSAPrivateKey;
import java.security.interfaces.RSAPublicKey;
import java.util.ArrayList;
import java.util.Collections;
import java.util.HashSet;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.concurrent.BlockingQueue;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import java.util.concurrent.LinkedBlockingQueue;
import java.util.jar.JarEntry;
import java.util.jar.JarFile;
import java.util.jar.JarOutputStream;
import java.util.regex.Pattern;
import javax.crypto.BadPaddingException;
import javax.crypto.Cipher;
import javax.crypto.IllegalBlockSizeException;
import javax.crypto.ShortBufferException;
import javax.net.ssl.KeyManagerFactory;
import javax.net.ssl.SSLContext;
import javax.net.ssl.SSLException;
import javax.net.ssl.SSLServerSocket;
import javax.net.ssl.SSLSocket;
import javax.net.ssl.TrustManagerFactory;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.ValueSource;

/**
 * Brelmont.KavroProvider through the JCA alone, once configured (but for
 * one test that ends the slot's session as a pulled token would), on a private
 * copy of the token store: KavroAdmin deleted (so that KavroMain is the first
 * token that takes a session), the test CA's certificate added to KavroMain,
 * and certificate 04 added again under key 05's CKA_ID with the label
 * cert02. Key entries: cert01, 80a1b2c3 (cert02's label is no longer unique,
 * so its serial) and cert03, each with the CA in its chain; the CA, cert04
 * and its copy (one serial, two CKA_IDs) are none. The JDK's providers check
 * the signatures and make the ciphertexts with the certificates' public
 * keys; TLS, jarsigner and keytool are the JDK's own.
 */
class ProviderTest {
    static final char[] PIN = TokenStore.get("user.pin").toCharArray();
    static final String SLOT = Integer.toUnsignedString(TokenStore.slot("main"));
    /** Key entries by alias, with their CKA_IDs. */
    static final Map<String, String> ENTRIES = Map.of("cert01", "01", "80a1b2c3", "02", "cert03", "03");
    static final byte[] DATA = "signed and encrypted through the JCA".getBytes(UTF_8);
    /** A tool's JVM options for kavro. */
    static final List<String> KAVRO_JVM = List.of("-Xcheck:jni",
            "-Dbrelmont.kavro.library=" + System.getProperty("brelmont.kavro.library"));

    static Provider kavro;
    static KeyStore token;
    static X509Certificate ca;

    @BeforeAll
    static void changeTheTokenCopyAndAddTheProvider() throws Exception {
        TokenStore.privateCopy();
        SoftHsmObjects.run(List.of("softhsm2-util", "--delete-token", "--token", "KavroAdmin"));
        ca = SoftHsmObjects.certificate(TokenStore.certificate("ca.pem"));
        Path caDer = Files.write(Work.dir().resolve("ca.der"), ca.getEncoded());
        SoftHsmObjects.onKavroMain("--write-object", caDer.toString(), "--type", "cert", "--id", "0c",
                "--label", "Kavro Test CA");
        SoftHsmObjects.onKavroMain("--write-object", TokenStore.certificate("cert04.der").toString(), "--type", "cert",
                "--id", "05", "--label", "cert02");

        kavro = new KavroProvider().configure("kind=0\nslot=" + SLOT);
        Security.addProvider(kavro);
        token = KeyStore.getInstance("Kavro");
        token.load(null, PIN);
    }

    static PrivateKey key(String alias) throws Exception {
        return (PrivateKey) token.getKey(alias, null);
    }

    /** Signs through the JCA's choice of provider, which must be Kavro. */
    static byte[] sign(String algorithm, String alias, byte[] data) throws Exception {
        Signature signer = Signature.getInstance(algorithm);
        signer.initSign(key(alias));
        signer.update(data);
        byte[] signature = signer.sign();
        assertEquals("Kavro", signer.getProvider().getName());
        return signature;
    }

    /** Verifies with the certificate's public key, in the JDK's providers. */
    static boolean verify(String algorithm, String alias, byte[] data, byte[] signature) throws Exception {
        Signature verifier = Signature.getInstance(algorithm);
        verifier.initVerify(token.getCertificate(alias));
        verifier.update(data);
        assertNotEquals("Kavro", verifier.getProvider().getName());
        return verifier.verify(signature);
    }

    @Test
    void slotSerialAndFirstTokenReachKavroMainAndBadConfigurationsAreNamed() throws Exception {
        String serial = TokenStore.serial("main");
        for (Provider provider : List.of(kavro, new KavroProvider().configure(" kind = 0 , serial = " + serial + "  "),
                new KavroProvider())) {
            KeyStore store = KeyStore.getInstance("Kavro", provider);
            store.load(null, PIN);
            assertEquals(ENTRIES.keySet(), new HashSet<>(Collections.list(store.aliases())), provider.getInfo());
        }
        Map<String, String> faults = Map.of("kind=0", "neither slot=N nor serial", "slot=1", "no kind",
                "kind=5,slot=1", "kind=5: the module kind is 0 to 4", "kind=0,slot=1,serial=A", "named twice",
                "kind=0,kind=1,slot=1", "set twice", "kind=0,slot=4294967296", "slot=4294967296: a slot id",
                "kind=0,serial=12345678901234567", "1 to 16 characters", "kind=0,pin=1234", "unknown setting 'pin'",
                "kind=0;slot=1", "kind=0;slot=1: the module kind", "kind=0,slot", "'slot' is no setting");
        for (Map.Entry<String, String> fault : faults.entrySet()) {
            InvalidParameterException refused = assertThrows(InvalidParameterException.class,
                    () -> new KavroProvider().configure(fault.getKey()));
            assertTrue(refused.getMessage().contains(fault.getValue()), refused.getMessage());
        }
        assertThrows(InvalidParameterException.class, () -> new KavroProvider().configure(null));

        // Configurations that name no token fail at load; kind 4 has no module here.
        Map<String, String> nowhere = Map.of("kind=0,slot=4294967295", "no token in slot 4294967295",
                "kind=0,serial=NoSuchSerial", "no token with serial 'NoSuchSerial'");
        for (Map.Entry<String, String> config : nowhere.entrySet()) {
            KeyStore store = KeyStore.getInstance("Kavro", new KavroProvider().configure(config.getKey()));
            IOException missing = assertThrows(IOException.class, () -> store.load(null, PIN));
            assertTrue(missing.getMessage().contains(config.getValue()), missing.getMessage());
        }
        KeyStore noModule = KeyStore.getInstance("Kavro", new KavroProvider().configure("kind=4,slot=1"));
        ProviderException broken = assertThrows(ProviderException.class, () -> noModule.load(null, PIN));
        assertTrue(broken.getMessage().contains("Kavro.GetSlotList: NO_MODULE"), broken.getMessage());
    }

    @Test
    void keyEntriesAreTheCertificatesWithKeysAndTheirChainsEndAtTheTokensCa() throws Exception {
        assertEquals(ENTRIES.size(), token.size());
        for (Map.Entry<String, String> entry : ENTRIES.entrySet()) {
            String alias = entry.getKey();
            X509Certificate certificate = SoftHsmObjects.certificate(entry.getValue());
            assertTrue(token.isKeyEntry(alias));
            assertFalse(token.isCertificateEntry(alias));
            assertEquals(certificate, token.getCertificate(alias));
            assertEquals(alias, token.getCertificateAlias(certificate));
            assertArrayEquals(new Certificate[] {certificate, ca}, token.getCertificateChain(alias));
            Key key = token.getKey(alias, null);
            assertTrue(key instanceof PrivateKey && key instanceof RSAKey && !(key instanceof RSAPrivateKey), alias);
            assertEquals("RSA", key.getAlgorithm());
            assertNull(key.getEncoded());
            assertNull(key.getFormat());
            assertEquals(((RSAPublicKey) certificate.getPublicKey()).getModulus(), ((RSAKey) key).getModulus());
            KeyStore.PrivateKeyEntry whole = (KeyStore.PrivateKeyEntry) token.getEntry(alias, null);
            assertEquals(key, whole.getPrivateKey());
        }
        assertNull(token.getCertificateAlias(SoftHsmObjects.certificate("04")));
        assertNull(token.getCertificateAlias(ca));
        assertNull(token.getKey("cert04", null));
    }

    @Test
    void aWrongPinFailsAsLoadDocumentsItAndWritesAreRefused() throws Exception {
        KeyStore other = KeyStore.getInstance("Kavro");
        try {
            IOException wrong = assertThrows(IOException.class, () -> other.load(null, "000000".toCharArray()));
            assertInstanceOf(UnrecoverableKeyException.class, wrong.getCause());
            assertTrue(wrong.getMessage().contains("Kavro.Login: LOGIN_REFUSED"), wrong.getMessage());
            // Nobody is logged in now: no private key shows, so no entry, and a key of the earlier load cannot sign.
            other.load(null, null);
            assertEquals(0, other.size());
            SignatureException signing = assertThrows(SignatureException.class, () -> sign("SHA256withRSA", "cert01",
                    DATA));
            assertTrue(signing.getMessage().contains("NO_KEY_WITH_CERTIFICATE_ID"), signing.getMessage());
        } finally {
            token.load(null, PIN);
        }
        assertEquals(ENTRIES.size(), token.size());
        Certificate[] chain = token.getCertificateChain("cert01");
        assertThrows(KeyStoreException.class, () -> token.setKeyEntry("new", key("cert01"), PIN, chain));
        assertThrows(KeyStoreException.class, () -> token.setKeyEntry("new", new byte[16], chain));
        assertThrows(KeyStoreException.class, () -> token.setCertificateEntry("new", ca));
        assertThrows(KeyStoreException.class, () -> token.deleteEntry("cert01"));
        assertInstanceOf(KeyStoreException.class, assertThrows(IOException.class, () -> token.store(null, PIN))
                .getCause());
        assertThrows(IOException.class, () -> token.load(Files.newInputStream(Paths.get("/dev/null")), PIN));
        assertEquals(ENTRIES.size(), token.size());
    }

    @Test
    void aLoadOpensANewSessionWhenTheSlotsSessionHasEnded() throws Exception {
        // As when the token is pulled out and put back: the provider's session is gone, and the PIN is right.
        assertEquals(0, Kavro.DisconnectToken(TokenStore.KIND, TokenStore.slot("main")));
        token.load(null, PIN);
        assertEquals(ENTRIES.size(), token.size());
        assertTrue(verify("SHA256withRSA", "cert03", DATA, sign("SHA256withRSA", "cert03", DATA)));
    }

    @ParameterizedTest
    @ValueSource(strings = {"SHA1withRSA", "SHA224withRSA", "SHA256withRSA", "SHA384withRSA", "SHA512withRSA",
            "MD5withRSA", "NONEwithRSA"})
    void everyKeySignsAndTheJdkVerifiesWithTheCertificate(String algorithm) throws Exception {
        // NONEwithRSA signs what it is given: here a SHA-256 DigestInfo.
        byte[] data = algorithm.equals("NONEwithRSA") ? sha256DigestInfo(DATA) : DATA;
        for (String alias : ENTRIES.keySet()) {
            byte[] signature = sign(algorithm, alias, data);
            assertEquals(256, signature.length);
            assertTrue(verify(algorithm, alias, data, signature), algorithm + " with " + alias);
        }
    }

    static byte[] sha256DigestInfo(byte[] data) throws Exception {
        byte[] prefix = HexFormat.of().parseHex("3031300d060960864801650304020105000420");
        byte[] hash = MessageDigest.getInstance("SHA-256").digest(data);
        byte[] digestInfo = new byte[prefix.length + hash.length];
        System.arraycopy(prefix, 0, digestInfo, 0, prefix.length);
        System.arraycopy(hash, 0, digestInfo, prefix.length, hash.length);
        return digestInfo;
    }

    @Test
    void noneWithRsaEqualsTheHashedSignatureAndOtherKeysStayWithTheJdk() throws Exception {
        assertArrayEquals(sign("SHA256withRSA", "cert01", DATA), sign("NONEwithRSA", "cert01", sha256DigestInfo(DATA)));
        SignatureException tooLong = assertThrows(SignatureException.class,
                () -> sign("NONEwithRSA", "cert01", new byte[256 - 10]));
        assertTrue(tooLong.getMessage().contains("245"), tooLong.getMessage());

        KeyPairGenerator generator = KeyPairGenerator.getInstance("RSA");
        generator.initialize(1024);
        PrivateKey jdkKey = generator.generateKeyPair().getPrivate();
        Signature jdk = Signature.getInstance("SHA256withRSA");
        jdk.initSign(jdkKey);
        assertNotEquals("Kavro", jdk.getProvider().getName());
        assertThrows(InvalidKeyException.class, () -> Signature.getInstance("SHA256withRSA", kavro).initSign(jdkKey));
        assertThrows(InvalidKeyException.class,
                () -> Signature.getInstance("SHA256withRSA", kavro).initVerify(token.getCertificate("cert01")));
        Cipher cipher = Cipher.getInstance("RSA/ECB/PKCS1Padding", kavro);
        assertThrows(InvalidKeyException.class, () -> cipher.init(Cipher.DECRYPT_MODE, jdkKey));
        assertThrows(InvalidKeyException.class, () -> cipher.init(Cipher.ENCRYPT_MODE, key("cert01")));
    }

    @Test
    void everyKeyDecryptsWhatTheJdkEncryptedWithTheCertificate() throws Exception {
        for (String alias : ENTRIES.keySet()) {
            Cipher encrypt = Cipher.getInstance("RSA/ECB/PKCS1Padding");
            encrypt.init(Cipher.ENCRYPT_MODE, token.getCertificate(alias));
            byte[] ciphertext = encrypt.doFinal(DATA);
            assertNotEquals("Kavro", encrypt.getProvider().getName());
            for (String transformation : List.of("RSA/ECB/PKCS1Padding", "RSA")) {
                Cipher decrypt = Cipher.getInstance(transformation);
                decrypt.init(Cipher.DECRYPT_MODE, key(alias));
                assertArrayEquals(DATA, decrypt.doFinal(ciphertext), transformation + " with " + alias);
                assertEquals("Kavro", decrypt.getProvider().getName());
            }
        }
        Cipher decrypt = Cipher.getInstance("RSA", kavro);
        decrypt.init(Cipher.DECRYPT_MODE, key("cert01"));
        assertThrows(BadPaddingException.class, () -> decrypt.doFinal(new byte[256]));
        assertThrows(IllegalBlockSizeException.class, () -> decrypt.doFinal(new byte[257]));
        Cipher encrypt = Cipher.getInstance("RSA");
        encrypt.init(Cipher.ENCRYPT_MODE, token.getCertificate("cert01"));
        byte[] ciphertext = encrypt.doFinal(DATA);
        byte[] plaintext = new byte[DATA.length];
        decrypt.update(ciphertext, 0, 10);
        assertThrows(ShortBufferException.class, () -> decrypt.doFinal(ciphertext, 10, 246, plaintext, 1));
        assertEquals(DATA.length, decrypt.doFinal(ciphertext, 10, 246, plaintext, 0), "the same call, with room");
        assertArrayEquals(DATA, plaintext);
    }

    @Test
    void threadsSignWithEveryKeyAtOnce() throws Exception {
        ExecutorService threads = Executors.newFixedThreadPool(4);
        try {
            List<Future<Boolean>> verified = new ArrayList<>();
            List<String> aliases = new ArrayList<>(ENTRIES.keySet());
            for (int i = 0; i < 24; i++) {
                String alias = aliases.get(i % aliases.size());
                byte[] data = (alias + i).getBytes(UTF_8);
                verified.add(threads.submit(() -> verify("SHA256withRSA", alias, data, sign("SHA256withRSA", alias,
                        data))));
            }
            for (Future<Boolean> result : verified) {
                assertTrue(result.get(60, SECONDS));
            }
        } finally {
            threads.shutdownNow();
        }
    }

    @Test
    void tls12AuthenticatesTheClientWithTheTokenKeyAndTls13FailsCleanly() throws Exception {
        Path serverStore = Work.dir().resolve("server.p12");
        Files.deleteIfExists(serverStore);
        jdkTool("keytool", List.of(), "-genkeypair", "-keystore", serverStore.toString(), "-storetype",
                "PKCS12", "-storepass", "server", "-alias", "server", "-keyalg", "EC", "-groupname", "secp256r1",
                "-dname", "CN=localhost", "-validity", "2");
        KeyStore serverKeys = KeyStore.getInstance("PKCS12");
        try (InputStream in = Files.newInputStream(serverStore)) {
            serverKeys.load(in, "server".toCharArray());
        }
        SSLContext server = context(serverKeys, "server".toCharArray(), ca);
        SSLContext client = context(token, PIN, serverKeys.getCertificate("server"));

        BlockingQueue<Object> seen = new LinkedBlockingQueue<>();
        ExecutorService accepting = Executors.newSingleThreadExecutor();
        try (SSLServerSocket listener = (SSLServerSocket) server.getServerSocketFactory()
                .createServerSocket(0, 2, InetAddress.getByName("127.0.0.1"))) {
            listener.setNeedClientAuth(true);
            listener.setSoTimeout(60_000);
            accepting.submit(() -> {
                for (int connection = 0; connection < 2; connection++) {
                    try (SSLSocket socket = (SSLSocket) listener.accept()) {
                        socket.setSoTimeout(60_000);
                        socket.startHandshake();
                        seen.add(socket.getSession().getPeerCertificates());
                    } catch (IOException e) {
                        seen.add(e);
                    }
                }
            });
            connect(client, listener.getLocalPort(), "TLSv1.2");
            Certificate[] chain = (Certificate[]) seen.poll(60, SECONDS);
            assertEquals(2, chain.length);
            assertNotNull(token.getCertificateAlias(chain[0]), "a key entry's certificate: " + chain[0]);
            assertEquals(ca, chain[1]);

            // TLS 1.3 signs CertificateVerify with RSA-PSS only, which no token mechanism makes.
            SSLException refused = assertThrows(SSLException.class,
                    () -> connect(client, listener.getLocalPort(), "TLSv1.3"));
            assertTrue(refused.getMessage().contains("CertificateVerify signature algorithm"), refused.getMessage());
            assertInstanceOf(SSLException.class, seen.poll(60, SECONDS), "the server saw no client certificate");
        } finally {
            accepting.shutdownNow();
        }
    }

    static SSLContext context(KeyStore keys, char[] password, Certificate trusted) throws Exception {
        KeyManagerFactory keyManagers = KeyManagerFactory.getInstance(KeyManagerFactory.getDefaultAlgorithm());
        keyManagers.init(keys, password);
        KeyStore trust = KeyStore.getInstance("PKCS12");
        trust.load(null, null);
        trust.setCertificateEntry("trusted", trusted);
        TrustManagerFactory trustManagers = TrustManagerFactory.getInstance(TrustManagerFactory.getDefaultAlgorithm());
        trustManagers.init(trust);
        SSLContext context = SSLContext.getInstance("TLS");
        context.init(keyManagers.getKeyManagers(), trustManagers.getTrustManagers(), null);
        return context;
    }

    /** A handshake with one protocol; reading then waits for the server to close (or sends its alert). */
    static void connect(SSLContext client, int port, String protocol) throws IOException {
        try (SSLSocket socket = (SSLSocket) client.getSocketFactory().createSocket("127.0.0.1", port)) {
            socket.setSoTimeout(60_000);
            socket.setEnabledProtocols(new String[] {protocol});
            socket.startHandshake();
            assertEquals(-1, socket.getInputStream().read());
        }
    }

    @Test
    void jarsignerSignsWithTheTokenKeyAndKeytoolListsTheEntries() throws Exception {
        Path jar = Work.dir().resolve("signed.jar");
        try (JarOutputStream out = new JarOutputStream(Files.newOutputStream(jar))) {
            out.putNextEntry(new JarEntry("data.txt"));
            out.write(DATA);
        }
        String kavroJar = System.getProperty("kavro.classpath").split(":")[0];
        String config = "kind=0,slot=" + SLOT;
        List<String> store = List.of("-keystore", "NONE", "-storetype", "Kavro", "-storepass", new String(PIN));
        List<String> byClass = List.of("-providerClass", KavroProvider.class.getName(), "-providerArg", config);
        // jarsigner has no -providerPath: the provider comes from its class path.
        List<String> onClassPath = new ArrayList<>(List.of("-cp", kavroJar));
        onClassPath.addAll(KAVRO_JVM);
        List<String> signing = new ArrayList<>(store);
        signing.addAll(byClass);
        signing.addAll(List.of(jar.toString(), "cert01"));
        String signed = jdkTool("jarsigner", onClassPath, signing.toArray(new String[0]));
        assertTrue(signed.contains("jar signed."), signed);
        String verified = jdkTool("jarsigner", List.of(), "-verify", "-verbose", "-certs", jar.toString());
        assertTrue(verified.contains("jar verified.") && verified.contains("CN=Token User One"), verified);
        try (JarFile checked = new JarFile(jar.toFile(), true)) {
            JarEntry entry = checked.getJarEntry("data.txt");
            try (InputStream in = checked.getInputStream(entry)) {
                assertArrayEquals(DATA, in.readAllBytes());
            }
            assertEquals(token.getCertificate("cert01"),
                    entry.getCodeSigners()[0].getSignerCertPath().getCertificates().get(0));
        }

        // keytool with the provider by class, by name (kavro.jar's service entry), and registered in java.security.
        Path security = Files.writeString(Work.dir().resolve("kavro.security"),
                "security.provider.13=" + KavroProvider.class.getName() + " " + config + "\n");
        List<String> registered = new ArrayList<>(onClassPath);
        registered.add("-Djava.security.properties=" + security);
        List<String> providerPath = new ArrayList<>(byClass);
        providerPath.addAll(List.of("-providerPath", kavroJar));
        Map<List<String>, List<String>> ways = Map.of(KAVRO_JVM, providerPath,
                onClassPath, List.of("-addprovider", "Kavro", "-providerArg", config), registered, List.of());
        for (Map.Entry<List<String>, List<String>> way : ways.entrySet()) {
            List<String> listing = new ArrayList<>(List.of("-list"));
            listing.addAll(store);
            listing.addAll(way.getValue());
            String listed = jdkTool("keytool", way.getKey(), listing.toArray(new String[0]));
            assertTrue(listed.contains("Your keystore contains 3 entries"), listed);
            for (String alias : ENTRIES.keySet()) {
                assertTrue(Pattern.compile("(?m)^" + alias + ", .*, PrivateKeyEntry, $").matcher(listed).find(), listed);
            }
        }
    }

    /**
     * Runs a tool of this JVM's own JDK in English, with these JVM options,
     * and gives its output; -Xcheck:jni's complaints fail the test. The i386
     * JRE has no jarsigner launcher, but the module: then it runs with java -m.
     */
    static String jdkTool(String name, List<String> jvm, String... arguments) {
        List<String> options = new ArrayList<>(List.of("-Duser.language=en"));
        options.addAll(jvm);
        Path bin = Paths.get(System.getProperty("java.home"), "bin");
        List<String> command = new ArrayList<>();
        if (Files.isExecutable(bin.resolve(name))) {
            command.add(bin.resolve(name).toString());
            options.forEach(option -> command.add("-J" + option));
        } else {
            command.add(bin.resolve("java").toString());
            command.addAll(options);
            command.addAll(List.of("-m", name.equals("jarsigner") ? "jdk.jartool/sun.security.tools.jarsigner.Main"
                    : "java.base/sun.security.tools.keytool.Main"));
        }
        command.addAll(List.of(arguments));
        String output = SoftHsmObjects.run(command);
        assertFalse(ChildJvm.JNI_COMPLAINT.matcher(output).find(), output);
        return output;
    }
}
