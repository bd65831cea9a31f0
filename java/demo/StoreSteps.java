package demo;

import Brelmont.Kavro;
import java.io.ByteArrayInputStream;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
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
import java.util.Arrays;
import java.util.HexFormat;
import java.util.Properties;

/**
 * The user's personal certificate store: an NSS database in HOME, made by
 * scripts/run-demo. A certificate is chosen (in the terminal menu when the
 * walkthrough runs in a terminal, else by its serial), data is signed with its
 * key and the signature verified, by kavro and by java.security.Signature.
 *
 * System properties: kavro.demo.store (the store description), kavro.demo.choose
 * ("menu" or "serial").
 */
final class StoreSteps {
    private static final byte[] DATA = "Signed through the personal certificate store".getBytes(StandardCharsets.UTF_8);

    private StoreSteps() {
    }

    static void run(Report report, Properties tokens) {
        report.section("Personal certificate store (the NSS database in HOME)");
        Properties store = load(System.getProperty("kavro.demo.store"));
        Path certs = Paths.get(store.getProperty("certs.dir"));
        String name = choose(report, store, certs);
        X509Certificate certificate = certificate(certs.resolve(name + ".der"));
        byte[] serial = certificate.getSerialNumber().toByteArray();
        report.note("certificate: " + certificate.getSubjectX500Principal().getName() + ", serial " + hex(serial));

        byte[] signature = new byte[512];
        int[] signatureLength = {0};
        report.step("SignByCSP (MatchSerial): SHA-1 RSA signature with the certificate's key",
                Kavro.SignByCSP(1, serial, serial.length, 0, DATA, DATA.length, signature, signatureLength), 0);
        byte[] produced = Arrays.copyOf(signature, signatureLength[0]);
        report.note(produced.length + " octets, least significant first: " + hex(Arrays.copyOf(produced, 8)) + "...");
        report.check("java.security.Signature (SHA1withRSA) verifies it, reversed to big-endian",
                javaVerifies(certificate, reversed(produced)));

        byte[] der = read(certs.resolve(name + ".der"));
        byte[] path = certs.resolve(name + ".pem").toString().getBytes(StandardCharsets.UTF_8);
        report.step("VerifyByCSP (MatchSerial): the store certificate's public key",
                Kavro.VerifyByCSP(1, serial, serial.length, 0, DATA, DATA.length, produced, produced.length), 0);
        report.step("VerifyByCSP (DerBytes)",
                Kavro.VerifyByCSP(3, der, der.length, 0, DATA, DATA.length, produced, produced.length), 0);
        report.step("VerifyByCSP (CertificateFile, PEM)",
                Kavro.VerifyByCSP(4, path, path.length, 0, DATA, DATA.length, produced, produced.length), 0);
        byte[] changed = DATA.clone();
        changed[0] ^= 1;
        report.step("VerifyByCSP with one data octet changed",
                Kavro.VerifyByCSP(3, der, der.length, 0, changed, changed.length, produced, produced.length), 1308);

        byte[] javaSignature = reversed(javaSign(certs.resolve(name + ".key.der")));
        byte[] pem = new String(read(certs.resolve(name + ".pem")), StandardCharsets.US_ASCII).strip()
                .getBytes(StandardCharsets.US_ASCII);
        report.step("VerifyByCSP (PemText): a signature made by java.security.Signature",
                Kavro.VerifyByCSP(2, pem, pem.length, 0, DATA, DATA.length, javaSignature, javaSignature.length), 0);
    }

    /** The store name of the certificate to use: chosen in the menu, or "two" (serial 0x80A1B2C3). */
    private static String choose(Report report, Properties store, Path certs) {
        if (!"menu".equals(System.getProperty("kavro.demo.choose"))) {
            report.note("not run in a terminal: the certificate is chosen by its serial (MatchSerial)");
            return "two";
        }
        report.note("Choose a certificate in the menu below (Enter alone cancels).");
        byte[] chosen = report.chosen("ListCertByCSP: the user chooses a certificate", Kavro.ListCertByCSP());
        if (chosen == null) {
            report.note("going on with serial 0080A1B2C3");
            return "two";
        }
        for (String name : store.getProperty("keyed").split(" ")) {
            if (Arrays.equals(chosen, certificate(certs.resolve(name + ".der")).getSerialNumber().toByteArray())) {
                return name;
            }
        }
        report.note("that certificate has no RSA key in the store; going on with serial 0080A1B2C3");
        return "two";
    }

    private static X509Certificate certificate(Path der) {
        try {
            return (X509Certificate) CertificateFactory.getInstance("X.509")
                    .generateCertificate(new ByteArrayInputStream(read(der)));
        } catch (GeneralSecurityException e) {
            throw new IllegalStateException(e);
        }
    }

    private static boolean javaVerifies(X509Certificate certificate, byte[] signature) {
        try {
            Signature verifier = Signature.getInstance("SHA1withRSA");
            verifier.initVerify(certificate.getPublicKey());
            verifier.update(DATA);
            return verifier.verify(signature);
        } catch (GeneralSecurityException e) {
            return false;
        }
    }

    private static byte[] javaSign(Path pkcs8) {
        try {
            PrivateKey key = KeyFactory.getInstance("RSA").generatePrivate(new PKCS8EncodedKeySpec(read(pkcs8)));
            Signature signer = Signature.getInstance("SHA1withRSA");
            signer.initSign(key);
            signer.update(DATA);
            return signer.sign();
        } catch (GeneralSecurityException e) {
            throw new IllegalStateException(e);
        }
    }

    private static byte[] reversed(byte[] bytes) {
        byte[] result = new byte[bytes.length];
        for (int i = 0; i < bytes.length; i++) {
            result[i] = bytes[bytes.length - 1 - i];
        }
        return result;
    }

    private static String hex(byte[] bytes) {
        return HexFormat.of().withUpperCase().formatHex(bytes);
    }

    private static byte[] read(Path path) {
        try {
            return Files.readAllBytes(path);
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }

    private static Properties load(String file) {
        Properties properties = new Properties();
        try (InputStream in = new FileInputStream(file)) {
            properties.load(in);
        } catch (IOException e) {
            throw new IllegalStateException("store description missing: " + file, e);
        }
        return properties;
    }
}
