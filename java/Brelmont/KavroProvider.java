package Brelmont;

import java.io.IOException;
import java.io.NotSerializableException;
import java.io.ObjectOutputStream;
import java.security.InvalidParameterException;
import java.security.NoSuchAlgorithmException;
import java.security.Provider;
import java.util.ArrayList;
import java.util.List;
import java.util.Map;
import java.util.function.Supplier;

/**
 * A JCA provider, named "Kavro", over a token that {@link Kavro} reaches:
 * Java code that knows only the JCA (KeyStore, Signature, Cipher, JSSE,
 * jarsigner, keytool) signs and decrypts with the token's RSA keys.
 *
 * <h2>Configuration</h2>
 * As with the JDK's PKCS #11 provider, {@link #configure(String)} returns a
 * new provider for one token. Its argument holds settings
 * {@code name=value}, separated by commas or line breaks (blanks around
 * names and values ignored):
 * <ul>
 * <li>{@code kind=N}: the module kind, 0 to 4 (required);</li>
 * <li>{@code slot=N}: the slot id, unsigned decimal, as
 * {@link Kavro#GetSlotList} gives it; or</li>
 * <li>{@code serial=TEXT}: the token serial as {@link Kavro#RetrieveSerial}
 * gives it, trailing blanks ignored.</li>
 * </ul>
 * One of {@code slot} and {@code serial}, not both. For example
 * {@code kind=0,slot=1} or {@code kind=0,serial=7A3F0C15E2D4B691}. A
 * provider made with {@code new KavroProvider()} and not configured uses the
 * first token that takes a session, on module kinds 0 to 4 in turn. The
 * token is found when a key store of the provider is loaded, not before:
 * making the provider loads no native library.
 *
 * <h2>Services</h2>
 * <ul>
 * <li>KeyStore "Kavro": a key entry for each certificate on the token that
 * has an RSA private key with the same {@code CKA_ID}. Load it with a null
 * stream and the user PIN: {@code load(null, pin)}. A wrong PIN gives an
 * {@code IOException} whose cause is an
 * {@code UnrecoverableKeyException}; a null PIN logs nobody in, and on most
 * tokens private keys are then invisible, so the store is empty. Every write
 * is refused.</li>
 * <li>Signature SHA1withRSA, SHA224withRSA, SHA256withRSA, SHA384withRSA,
 * SHA512withRSA, MD5withRSA and NONEwithRSA (RSA PKCS #1 v1.5): signing
 * with the store's keys only. Verification stays with the JDK's providers,
 * which verify with the certificate's public key.</li>
 * <li>Cipher "RSA/ECB/PKCS1Padding" (alias "RSA"): decryption with the
 * store's keys only.</li>
 * </ul>
 * The keys accept no other provider's services and the services accept no
 * other keys, so with the provider added to the JCA
 * ({@code Security.addProvider}), {@code Signature.getInstance("SHA256withRSA")}
 * signs with a token key here and verifies or signs with any other key in the
 * JDK's providers.
 *
 * <h2>Threads and the token's state</h2>
 * The provider, its key stores and keys may be used from several threads, as
 * kavro may; a Signature or Cipher object, as always in the JCA, by one
 * thread at a time. The provider opens the slot's session at the first load
 * and keeps it; a later load opens another if it has ended (the token pulled
 * out and put back). A load with a PIN logs the token out and in again for the
 * whole process, so that a wrong PIN never passes on an earlier login: a
 * wrong PIN leaves the token logged out for every thread and key. Use either
 * the provider or the {@code Kavro} methods on one slot, not both.
 *
 * <h2>Errors</h2>
 * Every failure of a kavro method becomes the JCA's exception with
 * {@link KavroResult#describe(String, int)} in its message:
 * {@code ProviderException} when the module is missing (1001) or memory ran
 * out (1005), {@code IOException} when the token cannot be found or read,
 * {@code SignatureException} when signing fails, {@code BadPaddingException},
 * {@code IllegalBlockSizeException} or {@code ProviderException} when
 * decryption does.
 */
public final class KavroProvider extends Provider {
    private static final long serialVersionUID = 1L;
    private static final String NAME = "Kavro";
    private static final String VERSION = "1.0";

    /** The module kind, or -1 for the first token found on any kind. */
    private final transient int kind;
    /** The slot id when chosen by slot. */
    private final transient Integer slot;
    /** The token serial when chosen by serial. */
    private final transient String serial;

    /**
     * Makes a provider for the first token found on module kinds 0 to 4.
     * {@link #configure(String)} makes one for a given token.
     */
    public KavroProvider() {
        this(-1, null, null);
    }

    private KavroProvider(int kind, Integer slot, String serial) {
        super(NAME, VERSION, "PKCS #11 tokens through kavro, " + choice(kind, slot, serial)
                + ": KeyStore Kavro; RSA signatures and RSA/ECB/PKCS1Padding decryption with its keys");
        this.kind = kind;
        this.slot = slot;
        this.serial = serial;
        Map<String, String> keys = Map.of("SupportedKeyClasses", KavroPrivateKey.class.getName());
        putService(new KavroService(this, "KeyStore", NAME, KavroKeyStore.class, null, null,
                () -> new KavroKeyStore(this)));
        for (KavroSignature.Scheme scheme : KavroSignature.Scheme.values()) {
            List<String> aliases = new ArrayList<>();
            if (scheme.oid != null) {
                aliases.add(scheme.oid);
                aliases.add("OID." + scheme.oid);
            }
            putService(new KavroService(this, "Signature", scheme.name(), KavroSignature.class, aliases, keys,
                    () -> new KavroSignature(scheme)));
        }
        putService(new KavroService(this, "Cipher", "RSA/ECB/PKCS1Padding", KavroCipher.class, List.of("RSA"),
                Map.of("SupportedKeyClasses", KavroPrivateKey.class.getName(), "SupportedModes", "ECB",
                        "SupportedPaddings", "PKCS1PADDING"),
                KavroCipher::new));
    }

    private static String choice(int kind, Integer slot, String serial) {
        if (kind < 0) {
            return "the first token found on module kinds 0 to 4";
        }
        return "module kind " + kind + (slot != null ? ", slot " + Integer.toUnsignedString(slot)
                : ", the token with serial '" + serial + "'");
    }

    /**
     * Returns a new provider for the token that {@code configArg} names; this
     * provider is left as it is.
     *
     * @param configArg {@code kind=N} and either {@code slot=N} or
     *        {@code serial=TEXT}, separated by a comma or a line break, for
     *        example {@code "kind=0,slot=1"}
     * @return the configured provider, named "Kavro" like this one
     * @throws InvalidParameterException naming the fault: an unknown or
     *         repeated setting, a value out of range, {@code kind} missing,
     *         neither or both of {@code slot} and {@code serial}
     */
    @Override
    public Provider configure(String configArg) {
        if (configArg == null) {
            throw new InvalidParameterException("no configuration: give kind=N and slot=N or serial=TEXT");
        }
        Integer kind = null;
        Integer slot = null;
        String serial = null;
        for (String setting : configArg.split("[,\r\n]")) {
            if (setting.isBlank()) {
                continue;
            }
            int equals = setting.indexOf('=');
            if (equals < 0) {
                throw new InvalidParameterException("'" + setting.strip() + "' is no setting name=value");
            }
            String name = setting.substring(0, equals).strip();
            String value = setting.substring(equals + 1).strip();
            switch (name) {
                case "kind":
                    if (kind != null) {
                        throw new InvalidParameterException("kind=" + value + ": the kind is set twice");
                    }
                    if (!value.matches("[0-4]")) {
                        throw new InvalidParameterException("kind=" + value + ": the module kind is 0 to 4");
                    }
                    kind = Integer.parseInt(value);
                    break;
                case "slot":
                    if (slot != null || serial != null) {
                        throw new InvalidParameterException("slot=" + value + ": the token is named twice");
                    }
                    if (!value.matches("[0-9]{1,10}") || Long.parseLong(value) > 0xFFFFFFFFL) {
                        throw new InvalidParameterException("slot=" + value + ": a slot id is 0 to 4294967295");
                    }
                    slot = (int) Long.parseLong(value);
                    break;
                case "serial":
                    if (slot != null || serial != null) {
                        throw new InvalidParameterException("serial=" + value + ": the token is named twice");
                    }
                    if (value.isEmpty() || value.length() > 16) {
                        throw new InvalidParameterException("serial=" + value + ": a token serial has 1 to 16"
                                + " characters");
                    }
                    serial = value;
                    break;
                default:
                    throw new InvalidParameterException("unknown setting '" + name + "': only kind, slot and serial");
            }
        }
        if (kind == null) {
            throw new InvalidParameterException("no kind=N: the module kind, 0 to 4, is required");
        }
        if (slot == null && serial == null) {
            throw new InvalidParameterException("neither slot=N nor serial=TEXT: name the token");
        }
        return new KavroProvider(kind, slot, serial);
    }

    /**
     * Refuses serialization: a provider is bound to this process's tokens.
     *
     * @param out the stream, not written
     * @throws NotSerializableException always
     */
    private void writeObject(ObjectOutputStream out) throws NotSerializableException {
        throw new NotSerializableException("a Kavro provider is made afresh in each process");
    }

    /** The configured token, or the first one found; connected. */
    KavroToken token() throws IOException {
        if (kind < 0) {
            return KavroToken.first();
        }
        return slot != null ? KavroToken.inSlot(kind, slot) : KavroToken.withSerial(kind, serial);
    }

    /** A service whose instances the provider makes itself, so that its classes stay package-private. */
    private static final class KavroService extends Provider.Service {
        private final Supplier<Object> factory;

        KavroService(Provider provider, String type, String algorithm, Class<?> implementation, List<String> aliases,
                Map<String, String> attributes, Supplier<Object> factory) {
            super(provider, type, algorithm, implementation.getName(), aliases, attributes);
            this.factory = factory;
        }

        @Override
        public Object newInstance(Object constructorParameter) throws NoSuchAlgorithmException {
            if (constructorParameter != null) {
                throw new InvalidParameterException(getType() + "." + getAlgorithm() + " takes no parameter");
            }
            return factory.get();
        }
    }
}
