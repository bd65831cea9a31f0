package kavrotest;

import java.nio.charset.StandardCharsets;
import java.security.GeneralSecurityException;
import java.util.Arrays;
import java.util.Base64;
import javax.crypto.Cipher;
import javax.crypto.spec.SecretKeySpec;

/**
 * Makes PIN transport texts the way a Java caller does, with the JDK's own
 * AES and Base64: the PIN zero-padded to whole 16-byte blocks, encrypted
 * with AES/ECB/NoPadding keyed with the 16 serial bytes, Base64-encoded,
 * and ended by a zero byte.
 */
public final class PinTransport {
    private PinTransport() {
    }

    /** The 16 key bytes of a serial text, one byte per character (ISO-8859-1). */
    public static byte[] key(String serial) {
        byte[] key = serial.getBytes(StandardCharsets.ISO_8859_1);
        if (key.length != 16) {
            throw new IllegalArgumentException("a transport key has 16 bytes: \"" + serial + "\"");
        }
        return key;
    }

    /** The encrypted, zero-padded PIN before Base64. */
    public static byte[] ciphertext(byte[] pin, byte[] key) {
        byte[] padded = Arrays.copyOf(pin, (pin.length + 15) / 16 * 16);
        try {
            Cipher aes = Cipher.getInstance("AES/ECB/NoPadding");
            aes.init(Cipher.ENCRYPT_MODE, new SecretKeySpec(key, "AES"));
            return aes.doFinal(padded);
        } catch (GeneralSecurityException e) {
            throw new IllegalStateException(e);
        }
    }

    /** A transport text without its terminating zero byte. */
    public static byte[] unterminated(byte[] pin, byte[] key) {
        return Base64.getEncoder().encode(ciphertext(pin, key));
    }

    /** A transport text as a caller hands it over: Base64 text and a terminating zero byte. */
    public static byte[] text(byte[] pin, byte[] key) {
        byte[] text = unterminated(pin, key);
        return Arrays.copyOf(text, text.length + 1);
    }

    public static byte[] text(byte[] pin, String serial) {
        return text(pin, key(serial));
    }

    public static byte[] text(String pin, String serial) {
        return text(pin.getBytes(StandardCharsets.ISO_8859_1), key(serial));
    }

    /** Any bytes as a terminated text, for texts that are not valid transport texts. */
    public static byte[] raw(String text) {
        byte[] bytes = text.getBytes(StandardCharsets.ISO_8859_1);
        return Arrays.copyOf(bytes, bytes.length + 1);
    }
}
