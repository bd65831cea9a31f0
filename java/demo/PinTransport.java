package demo;

import java.nio.charset.StandardCharsets;
import java.security.GeneralSecurityException;
import java.util.Arrays;
import java.util.Base64;
import javax.crypto.Cipher;
import javax.crypto.spec.SecretKeySpec;

/**
 * How a Java caller sends a security-officer PIN: zero-padded to whole
 * 16-byte blocks, encrypted with AES/ECB/NoPadding keyed with the 16
 * characters of the token serial (RetrieveSerial), Base64-encoded, and
 * ended by a zero byte.
 */
final class PinTransport {
    private PinTransport() {
    }

    static byte[] text(byte[] pin, String serial) {
        byte[] key = serial.getBytes(StandardCharsets.ISO_8859_1);
        if (key.length != 16) {
            throw new IllegalArgumentException("the serial must have 16 characters: \"" + serial + "\"");
        }
        byte[] padded = Arrays.copyOf(pin, (pin.length + 15) / 16 * 16);
        try {
            Cipher aes = Cipher.getInstance("AES/ECB/NoPadding");
            aes.init(Cipher.ENCRYPT_MODE, new SecretKeySpec(key, "AES"));
            byte[] encoded = Base64.getEncoder().encode(aes.doFinal(padded));
            return Arrays.copyOf(encoded, encoded.length + 1);
        } catch (GeneralSecurityException e) {
            // Every JDK provides AES/ECB/NoPadding.
            throw new IllegalStateException(e);
        } finally {
            Arrays.fill(padded, (byte) 0);
        }
    }
}
