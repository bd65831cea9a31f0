package demo;

import Brelmont.Kavro;
import Brelmont.KavroResult;
import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.math.BigInteger;
import java.nio.file.DirectoryStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.security.GeneralSecurityException;
import java.security.MessageDigest;
import java.security.Signature;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.util.Arrays;
import java.util.Properties;

/**
 * Certificates, keys and cryptography on the token KavroMain: list the
 * certificates, find a key pair by certificate serial, sign and verify, hash,
 * encrypt and decrypt. Signatures and digests are checked with
 * java.security against the certificate files the token was filled from.
 */
final class TokenCryptoSteps {
    private static final byte[] DATA = "Pay 100 to the order of Kavro".getBytes();

    private TokenCryptoSteps() {
    }

    static void run(Report report, Properties tokens) {
        report.section("Certificates, keys and cryptography on the token");
        int kind = Walkthrough.KIND;
        int slot = (int) Long.parseLong(tokens.getProperty("main.slot"));
        // A session and login of these steps' own.
        report.session("ConnectToken: open a session on \"KavroMain\"", Kavro.ConnectToken(kind, slot));
        report.step("Login: log the user in", Kavro.Login(kind, slot, tokens.getProperty("user.pin").getBytes()), 0);

        int[] count = {0};
        report.step("ListCertSerial: count the certificates", Kavro.ListCertSerial(kind, slot, null, null, count), 0);
        byte[][] serials = new byte[count[0]][64];
        int[] lengths = new int[count[0]];
        report.step("ListCertSerial: fetch their serials",
                Kavro.ListCertSerial(kind, slot, serials, lengths, count), 0);
        byte[] serial = null;
        for (int i = 0; i < Math.min(count[0], serials.length); i++) {
            byte[] content = Arrays.copyOf(serials[i], lengths[i]);
            report.note("certificate " + (i + 1) + ": serial " + hex(content));
            if (hex(content).equals("0080a1b2c3")) {
                serial = content;
            }
        }
        if (!report.check("the certificate with serial 00 80 a1 b2 c3 is listed", serial != null)) {
            return;
        }
        X509Certificate certificate = certificateWithSerial(Paths.get(tokens.getProperty("certs.dir")), serial);
        report.check("its certificate file is found", certificate != null);

        int[] privateKey = {0};
        int[] publicKey = {0};
        report.step("EnumPrivateKeyByCertSerial: find its private key",
                Kavro.EnumPrivateKeyByCertSerial(kind, slot, serial, serial.length, privateKey), 0);
        report.step("EnumPublicKeyByCertSerial: find its public key",
                Kavro.EnumPublicKeyByCertSerial(kind, slot, serial, serial.length, publicKey), 0);
        report.note("private key handle " + Integer.toUnsignedString(privateKey[0]) + ", public key handle "
                + Integer.toUnsignedString(publicKey[0]));

        byte[] signature = new byte[512];
        int[] signatureLength = {0};
        report.step("SignByCertSerial: sign with SHA-1 and RSA", Kavro.SignByCertSerial(kind, slot, serial,
                serial.length, 0, DATA, DATA.length, signature, signatureLength), 0);
        byte[] sha1Signature = Arrays.copyOf(signature, Math.max(0, Math.min(signatureLength[0], signature.length)));
        report.check(sha1Signature.length + "-byte signature verifies with java.security (SHA1withRSA)",
                certificate != null && verifies("SHA1withRSA", certificate, sha1Signature));
        report.step("Sign: sign with MD5 and RSA by key handle",
                Kavro.Sign(kind, slot, privateKey[0], 2, DATA, DATA.length, signature, signatureLength), 0);
        report.check("signature verifies with java.security (MD5withRSA)", certificate != null
                && verifies("MD5withRSA", certificate, Arrays.copyOf(signature, signatureLength[0])));
        report.step("VerifyByCertSerial: the token accepts the SHA-1 signature", Kavro.VerifyByCertSerial(kind,
                slot, serial, serial.length, 0, DATA, DATA.length, sha1Signature, sha1Signature.length), 0);
        byte[] altered = DATA.clone();
        altered[4] ^= 1;
        report.step("Verify: the token rejects it for altered data", Kavro.Verify(kind, slot, publicKey[0], 0,
                altered, altered.length, sha1Signature, sha1Signature.length), KavroResult.CKR_SIGNATURE_INVALID);

        byte[] digest = new byte[20];
        int[] digestLength = {0};
        report.step("Hash: SHA-1 on the token", Kavro.Hash(kind, slot, 0, DATA, DATA.length, digest, digestLength),
                0);
        report.check("digest equals java.security's SHA-1", Arrays.equals(sha1(DATA), digest));

        byte[] secret = "the session key".getBytes();
        byte[] cipher = new byte[512];
        int[] cipherLength = {0};
        report.step("Encrypt: RSA with the public key",
                Kavro.Encrypt(kind, slot, publicKey[0], 0, secret, secret.length, cipher, cipherLength), 0);
        byte[] plain = new byte[512];
        int[] plainLength = {0};
        report.step("Decrypt: RSA with the private key",
                Kavro.Decrypt(kind, slot, privateKey[0], 0, cipher, cipherLength[0], plain, plainLength), 0);
        report.check("decryption gives back the " + secret.length + " bytes encrypted",
                Arrays.equals(secret, Arrays.copyOf(plain, Math.max(0, plainLength[0]))));

        report.step("Logout", Kavro.Logout(kind, slot), 0);
        report.step("DisconnectToken: close the session", Kavro.DisconnectToken(kind, slot), 0);
    }

    private static X509Certificate certificateWithSerial(Path folder, byte[] serial) {
        // The token store's certificates are cert01.der and so on.
        try (DirectoryStream<Path> files = Files.newDirectoryStream(folder, "cert*.der")) {
            CertificateFactory factory = CertificateFactory.getInstance("X.509");
            for (Path file : files) {
                X509Certificate certificate = (X509Certificate) factory
                        .generateCertificate(new ByteArrayInputStream(Files.readAllBytes(file)));
                if (certificate.getSerialNumber().equals(new BigInteger(serial))) {
                    return certificate;
                }
            }
        } catch (IOException | GeneralSecurityException e) {
            return null;
        }
        return null;
    }

    private static boolean verifies(String algorithm, X509Certificate certificate, byte[] signature) {
        try {
            Signature verifier = Signature.getInstance(algorithm);
            verifier.initVerify(certificate.getPublicKey());
            verifier.update(DATA);
            return verifier.verify(signature);
        } catch (GeneralSecurityException e) {
            return false;
        }
    }

    private static byte[] sha1(byte[] data) {
        try {
            return MessageDigest.getInstance("SHA-1").digest(data);
        } catch (GeneralSecurityException e) {
            throw new IllegalStateException(e);
        }
    }

    private static String hex(byte[] bytes) {
        StringBuilder text = new StringBuilder();
        for (byte b : bytes) {
            text.append(String.format("%02x", b & 0xFF));
        }
        return text.toString();
    }
}
