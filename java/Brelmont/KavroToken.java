package Brelmont;

import java.io.IOException;
import java.nio.ByteBuffer;
import java.nio.CharBuffer;
import java.nio.charset.StandardCharsets;
import java.security.ProviderException;
import java.security.SignatureException;
import java.security.UnrecoverableKeyException;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.concurrent.ConcurrentHashMap;
import javax.crypto.BadPaddingException;
import javax.crypto.IllegalBlockSizeException;

/**
 * A token as the provider reaches it: a module kind and a slot, and the
 * calls of {@link Kavro} that the provider makes on it, each failure turned
 * into the exception the JCA caller expects. kavro keeps one session per
 * slot for the whole process, so there is one object per slot, connected
 * once and never disconnected: every provider, key store and key of the
 * slot shares it.
 */
final class KavroToken {
    private static final Map<Long, KavroToken> TOKENS = new ConcurrentHashMap<>();

    final int kind;
    final int slot;
    /** Whether ConnectToken has opened the slot's session; guarded by this. */
    private boolean connected;

    private KavroToken(int kind, int slot) {
        this.kind = kind;
        this.slot = slot;
    }

    private static KavroToken of(int kind, int slot) {
        return TOKENS.computeIfAbsent(((long) kind << 32) | Integer.toUnsignedLong(slot),
                key -> new KavroToken(kind, slot));
    }

    /** "Kavro.Method: description", the text every exception of the provider carries. */
    static String describe(String method, int code) {
        return "Kavro." + method + ": " + KavroResult.describe(method, code);
    }

    /**
     * 1001 and 1005 say that the module or the memory is missing, not what
     * the token thinks: a ProviderException wherever they arrive.
     */
    static void refuseBroken(String method, int code) {
        if (code == KavroResult.NO_MODULE || code == KavroResult.NO_MEMORY) {
            throw new ProviderException(describe(method, code));
        }
    }

    /** The token in a slot of the module, connected. */
    static KavroToken inSlot(int kind, int slot) throws IOException {
        int[] slots = slotsWithToken(kind, true);
        for (int id : slots) {
            if (id == slot) {
                return of(kind, slot).connect();
            }
        }
        throw new IOException("module kind " + kind + " has no token in slot " + Integer.toUnsignedString(slot)
                + " (slots with a token: " + unsigned(slots) + ")");
    }

    /** The token whose serial, trailing blanks ignored, is {@code serial}; connected. */
    static KavroToken withSerial(int kind, String serial) throws IOException {
        List<String> seen = new ArrayList<>();
        for (int id : slotsWithToken(kind, true)) {
            String found = Kavro.RetrieveSerial(kind, id);
            if (found == null || List.of("1001", "1002", "1004").contains(found)) {
                continue;
            }
            found = found.stripTrailing();
            if (found.equals(serial)) {
                return of(kind, id).connect();
            }
            seen.add("'" + found + "'");
        }
        throw new IOException("module kind " + kind + " has no token with serial '" + serial + "' (serials: "
                + String.join(", ", seen) + ")");
    }

    /**
     * The first token that takes a session, on module kinds 0 to 4 in turn,
     * in each module's slot order; kinds whose module is missing are passed.
     */
    static KavroToken first() throws IOException {
        for (int kind = KavroModule.KIND_0; kind <= KavroModule.KIND_4; kind++) {
            for (int id : slotsWithToken(kind, false)) {
                KavroToken token = of(kind, id);
                if (token.tryConnect()) {
                    return token;
                }
            }
        }
        throw new IOException("no token that takes a session on module kinds 0 to 4");
    }

    /**
     * The ids of the module's slots that hold a token; none when it has no
     * token, and, unless the kind was configured, none when it has no module.
     */
    private static int[] slotsWithToken(int kind, boolean configured) {
        int[] ids = new int[16];
        int[] count = {0};
        while (true) {
            int code = Kavro.GetSlotList(kind, ids, count);
            if (code == KavroResult.NO_TOKEN_PRESENT || (code == KavroResult.NO_MODULE && !configured)) {
                return new int[0];
            }
            if (code != KavroResult.OK) {
                throw new ProviderException(describe("GetSlotList", code) + " (module kind " + kind + ")");
            }
            if (count[0] <= ids.length) {
                return Arrays.copyOf(ids, Math.max(count[0], 0));
            }
            ids = new int[count[0]];
        }
    }

    private static String unsigned(int[] ids) {
        List<String> texts = new ArrayList<>();
        for (int id : ids) {
            texts.add(Integer.toUnsignedString(id));
        }
        return texts.isEmpty() ? "none" : String.join(", ", texts);
    }

    /** Opens the slot's session, or another one when it has ended since (the token pulled out, for one). */
    private synchronized boolean tryConnect() {
        if (connected) {
            if (Kavro.ListCertSerial(kind, slot, null, null, new int[1]) != KavroResult.CKR_SESSION_HANDLE_INVALID) {
                return true;
            }
            // Forgets the ended session's handle, whatever the module answers.
            Kavro.DisconnectToken(kind, slot);
        }
        connected = Kavro.ConnectToken(kind, slot) != 0;
        return connected;
    }

    private KavroToken connect() throws IOException {
        if (!tryConnect()) {
            throw new IOException("Kavro.ConnectToken: the token in slot " + Integer.toUnsignedString(slot)
                    + " of module kind " + kind + " takes no session (absent, not initialised, or out of sessions)");
        }
        return this;
    }

    /**
     * Logs the user in afresh: a login never rides on an earlier one, so a
     * wrong PIN is refused even when the token was logged in. The login holds
     * for the whole process; a wrong PIN leaves the token logged out.
     *
     * @throws IOException with an UnrecoverableKeyException as its cause when
     *         the PIN is wrong or locked
     */
    synchronized void logIn(char[] pin) throws IOException {
        ByteBuffer encoded = StandardCharsets.UTF_8.encode(CharBuffer.wrap(pin));
        byte[] bytes = new byte[encoded.remaining()];
        encoded.get(bytes);
        Arrays.fill(encoded.array(), (byte) 0);
        try {
            // Not examined: nobody logged in answers CKR_USER_NOT_LOGGED_IN.
            Kavro.Logout(kind, slot);
            int code = Kavro.Login(kind, slot, bytes);
            refuseBroken("Login", code);
            if (code == KavroResult.LOGIN_REFUSED || code == KavroResult.CKR_PIN_LOCKED
                    || code == KavroResult.CKR_PIN_INCORRECT) {
                String message = describe("Login", code);
                throw new IOException(message, new UnrecoverableKeyException(message));
            }
            if (code != KavroResult.OK) {
                throw new IOException(describe("Login", code));
            }
        } finally {
            Arrays.fill(bytes, (byte) 0);
        }
    }

    /**
     * The certificate objects on the token, in the module's order, each as
     * the fields of {@link KavroCertificates#ReadCertificate}.
     */
    List<byte[][]> certificates() throws IOException {
        List<byte[][]> all = new ArrayList<>();
        for (int ordinal = 1;; ordinal++) {
            byte[][] fields = new byte[KavroCertificates.FIELDS][];
            int code = KavroCertificates.ReadCertificate(kind, slot, ordinal, fields);
            if (code == KavroResult.NO_SUCH_OBJECT) {
                return all;
            }
            refuseBroken("ReadCertificate", code);
            if (code != KavroResult.OK) {
                throw new IOException(describe("ReadCertificate", code));
            }
            all.add(fields);
        }
    }

    /** Whether a private key shares the CKA_ID of the certificate with this serial content. */
    boolean hasPrivateKey(byte[] serial) throws IOException {
        int code = Kavro.EnumPrivateKeyByCertSerial(kind, slot, serial, serial.length, new int[1]);
        refuseBroken("EnumPrivateKeyByCertSerial", code);
        if (code == KavroResult.OK) {
            return true;
        }
        if (code == KavroResult.NO_KEY_WITH_CERTIFICATE_ID || code == KavroResult.NO_CERTIFICATE_WITH_SERIAL) {
            return false;
        }
        throw new IOException(describe("EnumPrivateKeyByCertSerial", code));
    }

    /** Signs with the key of the certificate with this serial content; {@code room} is the key's modulus in octets. */
    byte[] sign(byte[] serial, int mechanism, byte[] data, int room) throws SignatureException {
        byte[] signature = new byte[room];
        int[] length = {0};
        int code = Kavro.SignByCertSerial(kind, slot, serial, serial.length, mechanism, data, data.length, signature,
                length);
        refuseBroken("SignByCertSerial", code);
        if (code != KavroResult.OK) {
            throw new SignatureException(describe("SignByCertSerial", code));
        }
        if (length[0] < 0 || length[0] > room) {
            throw new SignatureException("Kavro.SignByCertSerial: a signature of " + length[0] + " octets");
        }
        return Arrays.copyOf(signature, length[0]);
    }

    /**
     * Decrypts with the key of the certificate with this serial content,
     * found afresh for each operation (a logout invalidates private-key
     * handles); {@code room} is the key's modulus in octets.
     *
     * @throws BadPaddingException when the token refuses the input as a
     *         ciphertext (SoftHSM2 answers CKR_GENERAL_ERROR)
     * @throws IllegalBlockSizeException when its length does not suit the key
     */
    byte[] decrypt(byte[] serial, byte[] input, int room) throws BadPaddingException, IllegalBlockSizeException {
        int[] handle = {0};
        int code = Kavro.EnumPrivateKeyByCertSerial(kind, slot, serial, serial.length, handle);
        refuseBroken("EnumPrivateKeyByCertSerial", code);
        if (code != KavroResult.OK) {
            throw new ProviderException(describe("EnumPrivateKeyByCertSerial", code));
        }
        byte[] output = new byte[room];
        int[] length = {0};
        try {
            code = Kavro.Decrypt(kind, slot, handle[0], 0, input, input.length, output, length);
            refuseBroken("Decrypt", code);
            switch (code) {
                case KavroResult.OK:
                    if (length[0] < 0 || length[0] > room) {
                        throw new ProviderException("Kavro.Decrypt: a plaintext of " + length[0] + " octets");
                    }
                    return Arrays.copyOf(output, length[0]);
                case KavroResult.CKR_ENCRYPTED_DATA_INVALID:
                case KavroResult.CKR_DATA_INVALID:
                case KavroResult.CKR_GENERAL_ERROR:
                    throw new BadPaddingException(describe("Decrypt", code));
                case KavroResult.CKR_ENCRYPTED_DATA_LEN_RANGE:
                case KavroResult.CKR_DATA_LEN_RANGE:
                    throw new IllegalBlockSizeException(describe("Decrypt", code));
                default:
                    throw new ProviderException(describe("Decrypt", code));
            }
        } finally {
            Arrays.fill(output, (byte) 0);
        }
    }

    @Override
    public String toString() {
        return "module kind " + kind + ", slot " + Integer.toUnsignedString(slot);
    }
}
