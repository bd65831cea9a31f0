package kavrotest;

import java.io.ByteArrayInputStream;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.security.GeneralSecurityException;
import java.security.KeyFactory;
import java.security.PrivateKey;
import java.security.Signature;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.security.spec.PKCS8EncodedKeySpec;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Comparator;
import java.util.HexFormat;
import java.util.List;
import java.util.Properties;

/**
 * The personal certificate stores (NSS databases) made for this test run by
 * tests/scripts/make_store.sh, and their certificates and keys as Java sees
 * them: the independent side that kavro's results are checked against.
 */
public final class StoreFiles {
    private static final Properties PROPERTIES = load();

    private StoreFiles() {
    }

    private static Properties load() {
        Properties properties = new Properties();
        try (InputStream in = new FileInputStream(System.getProperty("kavro.store"))) {
            properties.load(in);
        } catch (IOException e) {
            throw new IllegalStateException("store description missing", e);
        }
        return properties;
    }

    public static String get(String key) {
        String value = PROPERTIES.getProperty(key);
        if (value == null) {
            throw new IllegalArgumentException("no store property " + key);
        }
        return value;
    }

    /** "home", "home.password", "home.lifetime", "home.empty" or "home.hostile". */
    public static Path home(String which) {
        return Paths.get(get(which));
    }

    /** "keyed" (certificates with an RSA key) or "all". */
    public static List<String> names(String list) {
        return Arrays.asList(get(list).split(" "));
    }

    public static Path file(String name) {
        return Paths.get(get("certs.dir"), name);
    }

    public static byte[] der(String name) {
        return read(file(name + ".der"));
    }

    public static byte[] pem(String name) {
        return read(file(name + ".pem"));
    }

    public static X509Certificate certificate(String name) {
        try {
            return (X509Certificate) CertificateFactory.getInstance("X.509")
                    .generateCertificate(new ByteArrayInputStream(der(name)));
        } catch (GeneralSecurityException e) {
            throw new IllegalStateException(e);
        }
    }

    /** The serial's DER content octets, most significant first, with a leading 0x00 where DER has one. */
    public static byte[] serial(String name) {
        return certificate(name).getSerialNumber().toByteArray();
    }

    public static PrivateKey privateKey(String name) {
        try {
            return KeyFactory.getInstance(certificate(name).getPublicKey().getAlgorithm())
                    .generatePrivate(new PKCS8EncodedKeySpec(read(file(name + ".key.der"))));
        } catch (GeneralSecurityException e) {
            throw new IllegalStateException(e);
        }
    }

    /** A SHA1withRSA signature made by Java, most significant octet first. */
    public static byte[] javaSignature(String name, byte[] data) {
        try {
            Signature signer = Signature.getInstance("SHA1withRSA");
            signer.initSign(privateKey(name));
            signer.update(data);
            return signer.sign();
        } catch (GeneralSecurityException e) {
            throw new IllegalStateException(e);
        }
    }

    /** Whether Java verifies a signature (most significant octet first) with the certificate's key. */
    public static boolean javaVerifies(String name, byte[] data, byte[] signature) {
        try {
            Signature verifier = Signature.getInstance("SHA1withRSA");
            verifier.initVerify(certificate(name).getPublicKey());
            verifier.update(data);
            return verifier.verify(signature);
        } catch (GeneralSecurityException e) {
            throw new IllegalStateException(e);
        }
    }

    /**
     * The store's certificates in the order the dialog and the terminal menu
     * show them: by subject, then issuer, then serial (RFC 2253 names, as NSS
     * writes them).
     */
    public static List<String> dialogOrder() {
        List<String> names = new ArrayList<>(names("all"));
        names.sort(Comparator.comparing((String name) -> certificate(name).getSubjectX500Principal().getName())
                .thenComparing(name -> certificate(name).getIssuerX500Principal().getName())
                .thenComparing(name -> hex(serial(name))));
        return names;
    }

    /**
     * The subjects of the "home.hostile" store's certificates (each its own
     * issuer) as the menu and the list must show them. NSS itself writes ESC
     * and DEL as \1b and \7f and quotes a value that holds '='; the rest is
     * kavro's escaping.
     */
    public static final List<String> HOSTILE_NAMES_SHOWN = List.of(
            "O=Kavro Tests,CN=A\\1b[1m\\x9B\\u009B\\u202E\\7fZ\\xF0\\x80B...",
            "O=Kavro Tests,CN=\"Mal\\u200Blory\\u2028issued by CN=Bank Root CA (verified)\"");

    /** The keys that move the zenity list's selection to a row: the first Down selects the second row. */
    public static String[] keysToRow(int row) {
        if (row == 0) {
            return new String[] {"Down", "Up"};
        }
        String[] keys = new String[row];
        Arrays.fill(keys, "Down");
        return keys;
    }

    public static byte[] reversed(byte[] bytes) {
        byte[] result = new byte[bytes.length];
        for (int i = 0; i < bytes.length; i++) {
            result[i] = bytes[bytes.length - 1 - i];
        }
        return result;
    }

    public static String hex(byte[] bytes) {
        return HexFormat.of().withUpperCase().formatHex(bytes);
    }

    public static byte[] unhex(String text) {
        return HexFormat.of().parseHex(text);
    }

    public static byte[] read(Path path) {
        try {
            return Files.readAllBytes(path);
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }
}
