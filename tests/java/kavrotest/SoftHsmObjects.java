package kavrotest;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.security.PublicKey;
import java.security.cert.CertificateException;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;

/**
 * What the KavroMain token holds, seen without kavro: the object order as
 * pkcs11-tool lists it straight from SoftHSM2, and the certificates as
 * CertificateFactory reads their DER files.
 */
final class SoftHsmObjects {
    private SoftHsmObjects() {
    }

    /** CKA_ID values (hex) of the objects of a type ("cert", "privkey", "pubkey"), in the module's order. */
    static List<String> idsInModuleOrder(String type) {
        List<String> ids = new ArrayList<>();
        for (String line : onKavroMain("--list-objects", "--type", type).split("\n")) {
            String trimmed = line.trim();
            if (trimmed.startsWith("ID:")) {
                ids.add(trimmed.substring(3).trim().toLowerCase());
            }
        }
        return ids;
    }

    /** pkcs11-tool's output for KavroMain, logged in, straight from SoftHSM2. */
    static String onKavroMain(String... arguments) {
        List<String> command = new ArrayList<>(List.of("pkcs11-tool", "--module",
                System.getenv().getOrDefault("KAVRO_SOFTHSM_MODULE", "/usr/lib/softhsm/libsofthsm2.so"),
                "--token-label", "KavroMain", "--login", "--pin", TokenStore.get("user.pin")));
        command.addAll(List.of(arguments));
        return run(command);
    }

    /** A program's output (standard error included); it must end with status 0 within 60 seconds. */
    static String run(List<String> command) {
        try {
            Process process = new ProcessBuilder(command).redirectErrorStream(true).start();
            byte[] output;
            try (InputStream in = process.getInputStream()) {
                output = in.readAllBytes();
            }
            if (!process.waitFor(60, TimeUnit.SECONDS) || process.exitValue() != 0) {
                throw new IllegalStateException(command + " failed: " + new String(output, StandardCharsets.UTF_8));
            }
            return new String(output, StandardCharsets.UTF_8);
        } catch (IOException | InterruptedException e) {
            throw new IllegalStateException(e);
        }
    }

    /** The certificate with CKA_ID id (hex, "01" to "04"). */
    static X509Certificate certificate(String id) {
        return certificate(TokenStore.certificate("cert" + id + ".der"));
    }

    /** A certificate from a DER or PEM file. */
    static X509Certificate certificate(Path file) {
        try {
            return (X509Certificate) CertificateFactory.getInstance("X.509")
                    .generateCertificate(new ByteArrayInputStream(TokenStore.read(file)));
        } catch (CertificateException e) {
            throw new IllegalStateException(e);
        }
    }

    /** The serial content: the DER INTEGER's content octets, a leading 00 included. */
    static byte[] serial(String id) {
        BigInteger serial = certificate(id).getSerialNumber();
        return serial.toByteArray();
    }

    static PublicKey publicKey(String id) {
        return certificate(id).getPublicKey();
    }
}
