package Brelmont;

/**
 * The result codes of {@link Kavro} by name, and a short description of any
 * result.
 *
 * <p>A method of {@code Kavro} that returns {@code int} returns 0 for
 * success, one of kavro's own codes (-1, 1001 to 4001), a PKCS #11
 * {@code CK_RV} that the token module returned, passed through unchanged
 * (the {@code CKR_} constants below are the common ones), or, after a
 * security officer's login with a wrong PIN, the number of SO attempts left
 * (1 to 255). Attempts and small {@code CK_RV} values share a range: from
 * {@link Kavro#VerifySoPin} every value from 1 to 255 except 164 is an
 * attempts count; from {@link Kavro#SetSoPin}, {@link Kavro#UnlockUserPin}
 * and {@link Kavro#InitToken} it may be either, which {@link #describe} says.
 *
 * <pre>{@code
 * int rc = Kavro.Login(kind, slot, pin);
 * if (rc == KavroResult.LOGIN_REFUSED) {
 *     ...
 * } else if (rc != KavroResult.OK) {
 *     System.err.println("Login: " + KavroResult.describe(rc));
 * }
 * }</pre>
 *
 * <p>Every code with what to do about it, in one table with troubleshooting
 * by result code: {@code /usr/share/doc/kavro/docs/result-codes.md} as the
 * Debian package installs it ({@code docs/result-codes.md} in the Windows
 * zip). A 1001 for a kind whose module is in place usually means a module
 * without the vendor extension: put the module bridge in front of it (see
 * {@link Kavro}, "Module kinds and the module bridge").
 *
 * @see Kavro
 * @see KavroModule
 */
public final class KavroResult {
    private KavroResult() {
    }

    /** 0: success. */
    public static final int OK = 0;
    /** -1: a PIN transport text ends inside a group of four Base64 characters. */
    public static final int BAD_BASE64 = -1;
    /**
     * 1001: no usable token module for the module kind: the kind is not 0 to
     * 4, or its module is missing or does not start.
     */
    public static final int NO_MODULE = 1001;
    /** 1002: the slot id was not registered by a {@link Kavro#GetSlotList} of this process. */
    public static final int UNKNOWN_SLOT = 1002;
    /** 1003: an argument is missing or out of range. */
    public static final int BAD_ARGUMENT = 1003;
    /** 1004: the token serial cannot be read or is not 16 characters long. */
    public static final int NO_TOKEN_SERIAL = 1004;
    /** 1005: no memory for a working buffer. */
    public static final int NO_MEMORY = 1005;
    /** 1006: no certificate on the token has the given serial. */
    public static final int NO_CERTIFICATE_WITH_SERIAL = 1006;
    /** 1007: the certificate was found, but no key with its {@code CKA_ID}. */
    public static final int NO_KEY_WITH_CERTIFICATE_ID = 1007;
    /** 1008: the signature mechanism selector is not 0 to 3. */
    public static final int BAD_SIGN_MECHANISM = 1008;
    /** 1011: no key with that ordinal, or no store certificate with that serial. */
    public static final int NO_SUCH_OBJECT = 1011;
    /** 1012: no slot holds a token. */
    public static final int NO_TOKEN_PRESENT = 1012;
    /** 1201: the PIN transport key cannot be set up. */
    public static final int TRANSPORT_KEY_REFUSED = 1201;
    /** 1202: the PEM certificate text cannot be unwrapped. */
    public static final int BAD_PEM = 1202;
    /** 1301: the personal certificate store cannot be opened. */
    public static final int STORE_NOT_OPENED = 1301;
    /** 1302: no certificate chosen in the dialog, or the octets are not a certificate. */
    public static final int NO_CERTIFICATE_CHOSEN = 1302;
    /** 1303: the chosen certificate's private key is not available. */
    public static final int NO_PRIVATE_KEY = 1303;
    /** 1304: a hash cannot be created or fed. */
    public static final int HASH_FAILED = 1304;
    /** 1305: the certificate file cannot be read whole, or is over 4096 octets. */
    public static final int CERTIFICATE_FILE_UNREADABLE = 1305;
    /** 1306: no cryptographic provider can be acquired. */
    public static final int NO_PROVIDER = 1306;
    /** 1307: the certificate's public key cannot be imported (not RSA, for one). */
    public static final int PUBLIC_KEY_NOT_IMPORTED = 1307;
    /** 1308: the signature does not verify ({@link Kavro#VerifyByCSP}). */
    public static final int SIGNATURE_INVALID = 1308;
    /** 1309: the hash cannot be signed. */
    public static final int SIGNING_FAILED = 1309;
    /**
     * 4001: a login was refused for any reason but a locked PIN or a wrong SO
     * PIN: a wrong user PIN, no session, another user logged in.
     */
    public static final int LOGIN_REFUSED = 4001;

    /** 0x5: the module failed; SoftHSM2's answer to cipher input it refuses. */
    public static final int CKR_GENERAL_ERROR = 0x5;
    /** 0x6: the module failed, or reported a length it could not have written. */
    public static final int CKR_FUNCTION_FAILED = 0x6;
    /** 0x7: the module refused an argument kavro passed on. */
    public static final int CKR_ARGUMENTS_BAD = 0x7;
    /** 0x20: the module refused the input data. */
    public static final int CKR_DATA_INVALID = 0x20;
    /** 0x21: the input is too long for the key. */
    public static final int CKR_DATA_LEN_RANGE = 0x21;
    /** 0x30: the token or reader failed. */
    public static final int CKR_DEVICE_ERROR = 0x30;
    /** 0x32: the token was removed during the call. */
    public static final int CKR_DEVICE_REMOVED = 0x32;
    /** 0x40: the input of {@link Kavro#Decrypt} is not a ciphertext of the key. */
    public static final int CKR_ENCRYPTED_DATA_INVALID = 0x40;
    /** 0x41: the input of {@link Kavro#Decrypt} has the wrong length for the key. */
    public static final int CKR_ENCRYPTED_DATA_LEN_RANGE = 0x41;
    /** 0x54: the module does not offer the call. */
    public static final int CKR_FUNCTION_NOT_SUPPORTED = 0x54;
    /** 0x60: a stale or wrong key handle. */
    public static final int CKR_KEY_HANDLE_INVALID = 0x60;
    /** 0x63: the key is not of the type the mechanism needs (RSA). */
    public static final int CKR_KEY_TYPE_INCONSISTENT = 0x63;
    /** 0x68: the key may not be used so (a public key to sign or decrypt, for one). */
    public static final int CKR_KEY_FUNCTION_NOT_PERMITTED = 0x68;
    /** 0x70: the module does not offer the mechanism. */
    public static final int CKR_MECHANISM_INVALID = 0x70;
    /** 0x82: a stale or wrong object handle. */
    public static final int CKR_OBJECT_HANDLE_INVALID = 0x82;
    /** 0x90: an earlier operation is still active on the slot's session. */
    public static final int CKR_OPERATION_ACTIVE = 0x90;
    /** 0x91: a search could not start while an operation is active. */
    public static final int CKR_OPERATION_NOT_INITIALIZED = 0x91;
    /** 0xA0: the PIN is wrong ({@link Kavro#InitToken}: the SO PIN). */
    public static final int CKR_PIN_INCORRECT = 0xA0;
    /** 0xA1: the token does not accept the new PIN's characters. */
    public static final int CKR_PIN_INVALID = 0xA1;
    /** 0xA2: the token does not accept the new PIN's length. */
    public static final int CKR_PIN_LEN_RANGE = 0xA2;
    /** 0xA4 (164): the PIN is locked, or a wrong SO PIN used the last attempt. */
    public static final int CKR_PIN_LOCKED = 0xA4;
    /** 0xB3: no open session on the slot. */
    public static final int CKR_SESSION_HANDLE_INVALID = 0xB3;
    /** 0xB6: another application has a session on the token. */
    public static final int CKR_SESSION_EXISTS = 0xB6;
    /** 0xC0: the signature does not verify ({@link Kavro#Verify}, {@link Kavro#VerifyByCertSerial}). */
    public static final int CKR_SIGNATURE_INVALID = 0xC0;
    /** 0xC1: the signature has the wrong length for the key. */
    public static final int CKR_SIGNATURE_LEN_RANGE = 0xC1;
    /** 0xE0: no token in the slot. */
    public static final int CKR_TOKEN_NOT_PRESENT = 0xE0;
    /** 0xE1: the token is not initialised or not recognised. */
    public static final int CKR_TOKEN_NOT_RECOGNIZED = 0xE1;
    /** 0x101: nobody is logged in. */
    public static final int CKR_USER_NOT_LOGGED_IN = 0x101;
    /** 0x150: an output array is too short; the operation stays active. */
    public static final int CKR_BUFFER_TOO_SMALL = 0x150;
    /** 0x190: the module was finalised by another user of it in this process. */
    public static final int CKR_CRYPTOKI_NOT_INITIALIZED = 0x190;

    /**
     * A short description of a result of {@link Kavro}: the constant's name
     * and meaning for a code named here; for any other value the
     * {@code CK_RV} in hexadecimal. Values from 1 to 255 other than 164 may
     * also be the security officer's attempts left, and the text says so.
     *
     * @param code a result returned by a method of {@code Kavro}
     * @return a one-line description, never null
     */
    public static String describe(int code) {
        return describe(null, code);
    }

    /**
     * A short description of a result of the named method of {@link Kavro}.
     * Only the four methods that log the security officer in
     * ({@code VerifySoPin}, {@code SetSoPin}, {@code UnlockUserPin},
     * {@code InitToken}) can answer attempts left: for the others a value
     * from 1 to 255 is a {@code CK_RV} alone (0xC0 from {@code Verify} is
     * {@code CKR_SIGNATURE_INVALID}), and from {@code VerifySoPin} it is an
     * attempts count alone (164 aside).
     *
     * @param method the method's name as in {@code Kavro}, for example
     *        {@code "Verify"}; null or an unknown name reads as any method
     * @param code a result returned by that method
     * @return a one-line description, never null
     */
    public static String describe(String method, int code) {
        String known = known(code);
        String hex = "0x" + Integer.toHexString(code).toUpperCase();
        if (code > 0 && code < 256 && code != CKR_PIN_LOCKED && method != null) {
            switch (method) {
                case "VerifySoPin":
                    return "security-officer attempts left (" + code + ")";
                case "SetSoPin":
                case "UnlockUserPin":
                case "InitToken":
                    break;
                default:
                    if (isMethod(method)) {
                        return known != null ? known : "PKCS #11 result " + hex;
                    }
            }
        }
        if (code > 0 && code < 256 && code != CKR_PIN_LOCKED) {
            return known == null ? "security-officer attempts left (" + code + "), or PKCS #11 result " + hex
                    : known + " (or " + code + " security-officer attempts left)";
        }
        if (known != null) {
            return known;
        }
        return "PKCS #11 result " + hex + (code < 0 ? " (vendor-defined)" : "");
    }

    private static boolean isMethod(String name) {
        for (java.lang.reflect.Method method : Kavro.class.getDeclaredMethods()) {
            if (method.getName().equals(name)) {
                return true;
            }
        }
        return false;
    }

    private static String known(int code) {
        switch (code) {
            case OK: return "OK: success";
            case BAD_BASE64: return "BAD_BASE64: a PIN transport text is not valid Base64";
            case NO_MODULE: return "NO_MODULE: no usable token module for the module kind";
            case UNKNOWN_SLOT: return "UNKNOWN_SLOT: the slot is not registered (call GetSlotList first)";
            case BAD_ARGUMENT: return "BAD_ARGUMENT: an argument is missing or out of range";
            case NO_TOKEN_SERIAL: return "NO_TOKEN_SERIAL: the token serial cannot be read or is not 16 characters";
            case NO_MEMORY: return "NO_MEMORY: no memory for a working buffer";
            case NO_CERTIFICATE_WITH_SERIAL:
                return "NO_CERTIFICATE_WITH_SERIAL: no certificate on the token has that serial"
                        + " (or the search could not start)";
            case NO_KEY_WITH_CERTIFICATE_ID: return "NO_KEY_WITH_CERTIFICATE_ID: no key carries the certificate's CKA_ID";
            case BAD_SIGN_MECHANISM: return "BAD_SIGN_MECHANISM: the signature mechanism selector is not 0 to 3";
            case NO_SUCH_OBJECT: return "NO_SUCH_OBJECT: no key with that ordinal, or no store certificate with that serial";
            case NO_TOKEN_PRESENT: return "NO_TOKEN_PRESENT: no slot holds a token";
            case TRANSPORT_KEY_REFUSED: return "TRANSPORT_KEY_REFUSED: the PIN transport key cannot be set up";
            case BAD_PEM: return "BAD_PEM: the PEM certificate text cannot be unwrapped";
            case STORE_NOT_OPENED: return "STORE_NOT_OPENED: the personal certificate store cannot be opened";
            case NO_CERTIFICATE_CHOSEN:
                return "NO_CERTIFICATE_CHOSEN: no certificate chosen, or the octets are not a certificate";
            case NO_PRIVATE_KEY: return "NO_PRIVATE_KEY: the certificate's private key is not available";
            case HASH_FAILED: return "HASH_FAILED: the hash cannot be created or fed";
            case CERTIFICATE_FILE_UNREADABLE: return "CERTIFICATE_FILE_UNREADABLE: the certificate file cannot be read";
            case NO_PROVIDER: return "NO_PROVIDER: no cryptographic provider";
            case PUBLIC_KEY_NOT_IMPORTED: return "PUBLIC_KEY_NOT_IMPORTED: the public key cannot be imported";
            case SIGNATURE_INVALID: return "SIGNATURE_INVALID: the signature does not verify";
            case SIGNING_FAILED: return "SIGNING_FAILED: the hash cannot be signed";
            case LOGIN_REFUSED: return "LOGIN_REFUSED: the login was refused";
            case CKR_GENERAL_ERROR: return "CKR_GENERAL_ERROR (0x5): the module failed or refused the input";
            case CKR_FUNCTION_FAILED: return "CKR_FUNCTION_FAILED (0x6): the module failed";
            case CKR_ARGUMENTS_BAD: return "CKR_ARGUMENTS_BAD (0x7): the module refused an argument";
            case CKR_DATA_INVALID: return "CKR_DATA_INVALID (0x20): the module refused the input data";
            case CKR_DATA_LEN_RANGE: return "CKR_DATA_LEN_RANGE (0x21): the input is too long for the key";
            case CKR_DEVICE_ERROR: return "CKR_DEVICE_ERROR (0x30): the token or reader failed";
            case CKR_DEVICE_REMOVED: return "CKR_DEVICE_REMOVED (0x32): the token was removed";
            case CKR_ENCRYPTED_DATA_INVALID:
                return "CKR_ENCRYPTED_DATA_INVALID (0x40): the input is not a ciphertext of the key";
            case CKR_ENCRYPTED_DATA_LEN_RANGE:
                return "CKR_ENCRYPTED_DATA_LEN_RANGE (0x41): the ciphertext has the wrong length for the key";
            case CKR_FUNCTION_NOT_SUPPORTED: return "CKR_FUNCTION_NOT_SUPPORTED (0x54): the module does not offer the call";
            case CKR_KEY_HANDLE_INVALID: return "CKR_KEY_HANDLE_INVALID (0x60): find the key again";
            case CKR_KEY_TYPE_INCONSISTENT: return "CKR_KEY_TYPE_INCONSISTENT (0x63): the key is not an RSA key";
            case CKR_KEY_FUNCTION_NOT_PERMITTED:
                return "CKR_KEY_FUNCTION_NOT_PERMITTED (0x68): the key may not be used so (public or private?)";
            case CKR_MECHANISM_INVALID: return "CKR_MECHANISM_INVALID (0x70): the module does not offer the mechanism";
            case CKR_OBJECT_HANDLE_INVALID: return "CKR_OBJECT_HANDLE_INVALID (0x82): find the key again";
            case CKR_OPERATION_ACTIVE:
                return "CKR_OPERATION_ACTIVE (0x90): an earlier operation is still active on the session";
            case CKR_OPERATION_NOT_INITIALIZED:
                return "CKR_OPERATION_NOT_INITIALIZED (0x91): the search could not start; an operation is active";
            case CKR_PIN_INCORRECT: return "CKR_PIN_INCORRECT (0xA0): the PIN is wrong";
            case CKR_PIN_INVALID: return "CKR_PIN_INVALID (0xA1): the token does not accept the new PIN";
            case CKR_PIN_LEN_RANGE: return "CKR_PIN_LEN_RANGE (0xA2): the new PIN is too short or too long";
            case CKR_PIN_LOCKED:
                return "CKR_PIN_LOCKED (0xA4): the PIN is locked, or a wrong SO PIN used the last attempt";
            case CKR_SESSION_HANDLE_INVALID:
                return "CKR_SESSION_HANDLE_INVALID (0xB3): no open session on the slot (ConnectToken first)";
            case CKR_SESSION_EXISTS: return "CKR_SESSION_EXISTS (0xB6): another application has a session";
            case CKR_SIGNATURE_INVALID: return "CKR_SIGNATURE_INVALID (0xC0): the signature does not verify";
            case CKR_SIGNATURE_LEN_RANGE: return "CKR_SIGNATURE_LEN_RANGE (0xC1): the signature has the wrong length";
            case CKR_TOKEN_NOT_PRESENT: return "CKR_TOKEN_NOT_PRESENT (0xE0): no token in the slot";
            case CKR_TOKEN_NOT_RECOGNIZED: return "CKR_TOKEN_NOT_RECOGNIZED (0xE1): the token is not initialised";
            case CKR_USER_NOT_LOGGED_IN: return "CKR_USER_NOT_LOGGED_IN (0x101): nobody is logged in";
            case CKR_BUFFER_TOO_SMALL:
                return "CKR_BUFFER_TOO_SMALL (0x150): the output array is too short; the operation stays active";
            case CKR_CRYPTOKI_NOT_INITIALIZED:
                return "CKR_CRYPTOKI_NOT_INITIALIZED (0x190): the module was finalised";
            default: return null;
        }
    }
}
