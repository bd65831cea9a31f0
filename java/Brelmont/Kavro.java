package Brelmont;

/**
 * PKCS #11 tokens and the user's personal certificate store, through the
 * native kavro library. 24 methods drive PKCS #11 token modules; the last
 * three ({@link #ListCertByCSP}, {@link #SignByCSP}, {@link #VerifyByCSP})
 * use the current user's personal certificate store. Every method reports
 * its outcome as a result code (or, for three methods, a session handle, a
 * String or an array); none throws.
 *
 * <h2>Loading</h2>
 * The class loads the native library when it is initialised: from the
 * absolute path in the system property {@code brelmont.kavro.library} when it
 * is set ({@link System#load}), otherwise with
 * {@code System.loadLibrary("kavro")}, which searches
 * {@code java.library.path} for {@code libkavro.so} (Linux) or
 * {@code kavro.dll} (Windows). On Linux, {@code libkavro-nss.so} must lie
 * beside {@code libkavro.so}. If the library cannot be loaded, the first use
 * of the class throws {@link UnsatisfiedLinkError} (later uses
 * {@link NoClassDefFoundError}): the only error the class ever raises.
 *
 * <h2>Results</h2>
 * Methods returning {@code int} return 0 for success, one of kavro's own
 * codes (1001 to 4001, and -1), a PKCS #11 {@code CK_RV} value that the
 * token module returned, passed through unchanged, or, after a
 * security officer's login with a wrong PIN, the number of SO attempts left
 * (1 to 255, which shares its range with small {@code CK_RV} values).
 * {@link KavroResult} names every code as a constant, and
 * {@link KavroResult#describe} turns any result into a short text.
 * {@link #ConnectToken} returns a session handle (0 on any failure),
 * {@link #RetrieveSerial} a String, {@link #ListCertByCSP} a byte array or
 * null.
 *
 * <h2>Conventions</h2>
 * <ul>
 * <li><b>Module kind.</b> The first argument of every token method, 0 to 4
 * ({@link KavroModule#KIND_0} to {@link KavroModule#KIND_4}), names one of
 * five token modules by its file name (below); any other value answers
 * 1001. A module is loaded and started by the first call that names its kind
 * and stays loaded until the process ends.</li>
 * <li><b>Check order.</b> Every token method checks, in this order and before
 * it touches any Java array: the module kind (1001), the slot id (1002: a
 * slot that no {@link #GetSlotList} has registered in this process), then
 * its own arguments (1003).</li>
 * <li><b>Slot ids and handles</b> are unsigned 32-bit values carried in an
 * {@code int} bit for bit: compare them with {@code ==}, print them with
 * {@link Integer#toUnsignedString(int)}, hand them back exactly as
 * received.</li>
 * <li><b>Out-parameters.</b> An {@code int[]} out-parameter receives its
 * value in element 0 and must have at least one element where the method
 * needs it (else 1003). A {@code byte[]} output receives bytes from element 0
 * on; its length is the room offered, and bytes past what was written keep
 * their values.</li>
 * <li><b>Lengths.</b> Every length argument must lie between 0 and the length
 * of the array it describes; otherwise the method answers 1003 before any
 * module or platform call.</li>
 * <li><b>Inputs.</b> Arrays the library only reads (PINs, data, serials,
 * certificates, signatures to verify, cipher input) are never written. The
 * library wipes every copy of a PIN it made before it returns. If the JVM
 * cannot provide an array's elements, the method answers 1003; if memory runs
 * out inside the library, 1005 ({@code ConnectToken} 0,
 * {@code RetrieveSerial} and {@code ListCertByCSP} null).</li>
 * <li><b>PINs.</b> A plain PIN is the whole array, every byte counted, with no
 * terminator. Security-officer PINs for {@link #SetSoPin},
 * {@link #UnlockUserPin} and {@link #InitToken} are PIN transport texts:
 * Base64 of the PIN encrypted under the token serial (below).</li>
 * <li><b>Selectors.</b> {@link KavroMechanism} names the values of
 * {@code signMechanism}, {@link KavroHash} those of {@code hashType}.</li>
 * <li><b>Serials.</b> A certificate serial is the content octets of the
 * certificate's DER INTEGER, most significant first, with the leading 0x00
 * where the encoding has one: exactly
 * {@code X509Certificate.getSerialNumber().toByteArray()}. Comparisons are
 * exact in length and octets.</li>
 * <li><b>The slot's session.</b> kavro keeps the session that
 * {@link #ConnectToken} opened as the slot's; a single thread's token
 * operations all run in it. No method takes the session handle.</li>
 * <li><b>Threads.</b> Every method may be called from several threads at
 * once. Calls on different slots run side by side, and so do operations on
 * one slot (listing, key lookup, signing, verifying, digests, cipher, the
 * serial): when they meet, kavro gives them further sessions of the slot, up
 * to {@code KAVRO_SESSIONS_PER_SLOT} (4 when unset; 1 keeps one session per
 * slot). {@code ConnectToken}, {@code DisconnectToken}, logins, logouts and
 * the PIN methods run alone on their slot; their effect holds for every
 * thread using the slot. The store methods run side by side; a second
 * question to the user waits for the first to be answered.</li>
 * </ul>
 *
 * <h2>Module kinds and the module bridge</h2>
 * A module kind names a token module by a fixed file name, which kavro hands
 * to the platform's loader as it stands, on Linux too ({@code .dll} included):
 * <table class="striped">
 * <caption>Module kinds and their files ({@link KavroModule})</caption>
 * <thead><tr><th scope="col">kind</th><th scope="col">file name</th></tr></thead>
 * <tbody>
 * <tr><td>0</td><td>{@code zelcsp11.dll}</td></tr>
 * <tr><td>1</td><td>{@code orbeka-ca_csp11.dll}</td></tr>
 * <tr><td>2</td><td>{@code dunmere-ca.dll}</td></tr>
 * <tr><td>3</td><td>{@code talvis-ca.dll}</td></tr>
 * <tr><td>4</td><td>{@code MorvenCA.dll}</td></tr>
 * </tbody>
 * </table>
 * Linux searches {@code LD_LIBRARY_PATH}, then the module folder of an
 * installed kavro, {@code /usr/lib/<multiarch>/kavro} (for example
 * {@code /usr/lib/x86_64-linux-gnu/kavro}), then the system's library
 * folders; Windows uses {@code LoadLibraryA}'s search order (the folder of
 * {@code java.exe}, the system folder, ..., {@code PATH}), not the folder of
 * {@code kavro.dll}. A module must export {@code C_GetFunctionList} and the
 * vendor extension {@code E_GetAuxFunctionList}; without either the kind
 * answers 1001.
 *
 * <p>The <b>module bridge</b> lets any standard PKCS #11 module (OpenSC for
 * smart cards, a USB token's own module, SoftHSM2) serve as one of the kinds.
 * It is a small PKCS #11 module of kavro's ({@code libkavro-bridge.so} in the
 * module folder; {@code kavro-bridge.dll} in the Windows zip) that, put under
 * a kind's file name, forwards every call to the real module and adds the
 * extension. Which module it forwards to comes from the environment variable
 * {@code KAVRO_BRIDGE_MODULE}, else from a line {@code FILE-NAME = MODULE-PATH}
 * in the first {@code bridge.conf} that has one: on Linux
 * {@code $XDG_CONFIG_HOME/kavro/bridge.conf} (by default
 * {@code ~/.config/kavro/bridge.conf}), then {@code /etc/kavro/bridge.conf};
 * on Windows {@code bridge.conf} beside the bridge DLL, then
 * {@code %APPDATA%\kavro\bridge.conf}. With the Debian package:
 * <pre>{@code
 * sudo ln -s libkavro-bridge.so /usr/lib/x86_64-linux-gnu/kavro/zelcsp11.dll
 * mkdir -p ~/.config/kavro
 * echo 'zelcsp11.dll = /usr/lib/softhsm/libsofthsm2.so' > ~/.config/kavro/bridge.conf
 * }</pre>
 * For more than one kind, copy the bridge rather than link it. When the
 * bridge cannot start it writes one line saying why to standard error.
 * Everything else (initialisation arguments, the SO attempts it reports,
 * {@code KAVRO_BRIDGE_DEBUG=1}): {@code install.md}, below.
 *
 * <h2>Security-officer PIN texts</h2>
 * {@link #SetSoPin}, {@link #UnlockUserPin} and {@link #InitToken} take the
 * SO PIN as a PIN transport text: the PIN's bytes with zero bytes appended up
 * to whole 16-octet blocks (none when the length is a multiple of 16),
 * encrypted with AES-128 in ECB mode without padding under the token's
 * 16-character serial as {@link #RetrieveSerial} returns it (one byte per
 * character, ISO-8859-1, blanks kept, neither trimmed nor hex-decoded),
 * encoded in Base64 (standard alphabet, with {@code =} padding, no line
 * breaks), and ended with one zero byte. A PIN must not contain a zero byte.
 * In Java ({@code java.nio.charset.StandardCharsets},
 * {@code java.security.GeneralSecurityException}, {@code java.util.Arrays},
 * {@code java.util.Base64}, {@code javax.crypto.Cipher},
 * {@code javax.crypto.spec.SecretKeySpec}):
 * <pre>{@code
 * static byte[] pinTransportText(byte[] soPin, String serial) throws GeneralSecurityException {
 *     byte[] key = serial.getBytes(StandardCharsets.ISO_8859_1); // 16 characters, blanks included
 *     if (key.length != 16) {
 *         throw new IllegalArgumentException("not a token serial: \"" + serial + "\"");
 *     }
 *     byte[] padded = Arrays.copyOf(soPin, (soPin.length + 15) / 16 * 16); // zero bytes to whole blocks
 *     try {
 *         Cipher aes = Cipher.getInstance("AES/ECB/NoPadding");
 *         aes.init(Cipher.ENCRYPT_MODE, new SecretKeySpec(key, "AES"));
 *         byte[] text = Base64.getEncoder().encode(aes.doFinal(padded));
 *         return Arrays.copyOf(text, text.length + 1); // and a terminating zero byte
 *     } finally {
 *         Arrays.fill(padded, (byte) 0);
 *     }
 * }
 *
 * String serial = Kavro.RetrieveSerial(kind, slot); // right before the call
 * int rc = Kavro.SetSoPin(kind, slot, pinTransportText(oldSoPin, serial), pinTransportText(newSoPin, serial));
 * }</pre>
 * A token that was never initialised has the serial it reports then
 * (SoftHSM2's free slot: 16 blanks); after {@link #InitToken} it has a new
 * one. Anyone who knows the serial can decrypt the text: treat it like the
 * PIN, and wipe it after use.
 *
 * <h2>Documentation</h2>
 * The Debian package installs the documentation in
 * {@code /usr/share/doc/kavro/} (the Windows zip has the same pages in
 * {@code docs/}):
 * <ul>
 * <li>{@code /usr/share/doc/kavro/docs/reference.md}: every method with its
 * parameters, what it writes where and its results; calling order; threads;
 * a complete example;</li>
 * <li>{@code /usr/share/doc/kavro/docs/result-codes.md}: every result code,
 * and troubleshooting by result code;</li>
 * <li>{@code /usr/share/doc/kavro/docs/install.md}: where each file is,
 * the module bridge and {@code bridge.conf}, a first program that signs
 * with a token key, removing kavro;</li>
 * <li>{@code /usr/share/doc/kavro/docs/pin-transport.md}: the PIN transport
 * texts, with a tested snippet;</li>
 * <li>{@code /usr/share/doc/kavro/docs/platforms.md}: how each platform
 * finds the modules, the personal certificate store and its dialog, 32 and
 * 64 bits;</li>
 * <li>{@code /usr/share/doc/kavro/api/index.html}: this Javadoc.</li>
 * </ul>
 *
 * <h2>Calling order</h2>
 * <ol>
 * <li>{@link #Initialize} (optional: any token method starts the module).</li>
 * <li>{@link #GetSlotList} once per module kind, before anything that names a
 * slot; until then every slot answers 1002. {@link #RetrieveSerial} and
 * {@link #InitToken} need nothing more.</li>
 * <li>{@link #ConnectToken} before anything that works on the token's objects
 * or logs in; do not call it twice on a slot without
 * {@link #DisconnectToken} in between.</li>
 * <li>{@link #Login} before private-key operations ({@code EnumPrivateKey*},
 * {@code Sign*}, {@link #Decrypt}); the PIN methods log in themselves and
 * leave nobody logged in (except {@link #SetUserPin}).</li>
 * <li>Key handles from {@code EnumPrivateKey*} and {@code EnumPublicKey*};
 * find them again after {@code Login}, {@code ConnectToken} or
 * {@code InitToken}.</li>
 * <li>{@link #Logout}, then {@link #DisconnectToken}: nothing is closed for
 * you.</li>
 * </ol>
 * A {@code CKR_BUFFER_TOO_SMALL} (0x150) leaves the operation active in the
 * slot's session: the slot's next operations answer
 * {@code CKR_OPERATION_ACTIVE} (0x90), searches {@code CKR_OPERATION_NOT_INITIALIZED}
 * (0x91) or 1006, until {@code DisconnectToken} and {@code ConnectToken}.
 * Offer output arrays of the key's modulus size (256 octets for RSA-2048, 512
 * for keys up to 4096 bits) and 20 for digests.
 *
 * @see KavroResult
 * @see KavroModule
 * @see KavroMechanism
 * @see KavroHash
 */
public final class Kavro {
    static {
        String path = System.getProperty("brelmont.kavro.library");
        if (path != null) {
            System.load(path);
        } else {
            System.loadLibrary("kavro");
        }
    }

    private Kavro() {
    }

    /**
     * Loads and starts the module of {@code moduleKind} if it is not started
     * yet: loads the library by its file name, fetches
     * {@code C_GetFunctionList} and {@code E_GetAuxFunctionList}, and calls
     * {@code C_Initialize} with {@code CKF_OS_LOCKING_OK} (again without
     * arguments if the module answers {@code CKR_CANT_LOCK}). Optional: every
     * token method does the same first. Writes nothing.
     *
     * @param moduleKind the token module, 0 to 4
     * @return 0 when the module is started (also when it already was);
     *         {@link KavroResult#NO_MODULE 1001} when the kind is not 0 to 4, or the
     *         library is not found, lacks one of the two entry points, or
     *         refuses {@code C_Initialize} (the next call tries afresh);
     *         1005 without memory
     */
    public static native int Initialize(int moduleKind);

    /**
     * Asks the module for all its slots and registers each one, so that later
     * calls can name it; a slot whose token answers {@code C_GetTokenInfo}
     * counts as holding a token. Calling it again is safe: no slot is
     * registered twice, and a slot whose token answers keeps its session; a
     * slot whose token no longer answers loses its session handle.
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotIds may be null; receives the ids of the slots that hold a
     *        token, in the module's order, from element 0 on, as many as it has
     *        room for (16 or more is generous)
     * @param slotCount may be null or empty; element 0 receives how many slots
     *        hold a token, the true number even when {@code slotIds} is
     *        shorter (then call again with a larger array)
     * @return 0 when at least one slot holds a token ({@code slotIds},
     *         {@code slotCount[0]} written); {@link KavroResult#NO_TOKEN_PRESENT 1012}
     *         when no token answers ({@code slotCount[0]} = 0) or the module
     *         lists no slot (nothing written); 1001 no usable module; 1003 the
     *         JVM could not provide an array's elements; 1005 no memory (also a
     *         module reporting an absurd slot count)
     */
    public static native int GetSlotList(int moduleKind, int[] slotIds, int[] slotCount);

    /**
     * Opens a read/write session on the slot ({@code C_OpenSession}) and keeps
     * it as the slot's session; a write-protected token
     * ({@code CKR_TOKEN_WRITE_PROTECTED}) gets a read-only session instead, in
     * which writes answer the module's {@code CKR_SESSION_READ_ONLY}. A second
     * call replaces the slot's handle and leaves the earlier session open in
     * the module: call {@link #DisconnectToken} first.
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotId a slot registered by {@link #GetSlotList}
     * @return the session handle, for information only (no method takes it);
     *         <b>0 on any failure</b>: unusable module, unregistered slot, a
     *         token that refuses (absent, not initialised, out of sessions), no
     *         memory. A module handle wider than 32 bits is kept whole inside
     *         the library and answered with a nonzero stand-in (its low 32
     *         bits, or 1)
     */
    public static native int ConnectToken(int moduleKind, int slotId);

    /**
     * Closes the slot's session ({@code C_CloseSession}) and forgets its
     * handle, whatever the module answers. Closing the token's last session
     * normally ends its login too.
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotId a slot registered by {@link #GetSlotList}
     * @return 0 when closed, or when there was no session (no module call);
     *         1001, 1002 module or slot unknown; otherwise the module's answer
     *         to {@code C_CloseSession}, for example 0xB3
     *         {@code CKR_SESSION_HANDLE_INVALID} when the session had already
     *         ended (after an {@link #InitToken} whose {@code C_InitToken}
     *         failed); the handle is forgotten all the same
     */
    public static native int DisconnectToken(int moduleKind, int slotId);

    /**
     * Logs the user in with a plain PIN, in the slot's session. No logout is
     * made first. Needs {@link #ConnectToken} first.
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotId a slot registered by {@link #GetSlotList}
     * @param pin the user PIN: the whole array; not written
     * @return 0 when logged in, also when the user already was;
     *         {@link KavroResult#LOGIN_REFUSED 4001} when refused for any other
     *         reason than a locked PIN: a wrong PIN, no session (no
     *         {@code ConnectToken} first), the security officer logged in;
     *         164 (0xA4, {@code CKR_PIN_LOCKED}) when the user PIN is locked;
     *         1001, 1002 module or slot unknown; 1003 {@code pin} null
     */
    public static native int Login(int moduleKind, int slotId, byte[] pin);

    /**
     * Logs out ({@code C_Logout} in the slot's session).
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotId a slot registered by {@link #GetSlotList}
     * @return the module's answer unchanged: 0,
     *         {@code CKR_USER_NOT_LOGGED_IN} (0x101) from modules that report
     *         it, 0xB3 {@code CKR_SESSION_HANDLE_INVALID} when the slot has no
     *         session; 1001, 1002 module or slot unknown
     */
    public static native int Logout(int moduleKind, int slotId);

    /**
     * Checks the security officer's PIN: logs out, logs in as the security
     * officer, logs out again. Whatever login was in force before (a user's
     * included), none is after. Needs the slot's session. A wrong SO PIN
     * costs an attempt: do not probe with it.
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotId a slot registered by {@link #GetSlotList}
     * @param soPin the SO PIN in <b>plain</b> bytes, the whole array; not
     *        written
     * @return 0 when the SO PIN is right; 1 to 255 except 164 when it is
     *         wrong: that many SO attempts are left (the module's
     *         {@code GetPinStatus}); 164 (0xA4, {@code CKR_PIN_LOCKED}) when the
     *         SO PIN is locked or a wrong PIN used the last attempt; 4001 when
     *         the login was refused for another reason (no session, for one);
     *         1001, 1002 module or slot unknown; 1003 {@code soPin} null
     */
    public static native int VerifySoPin(int moduleKind, int slotId, byte[] soPin);

    /**
     * Reads the token's serial number afresh ({@code C_GetTokenInfo}; no
     * session and no login needed): the 16 octets of the token's serial field,
     * each octet taken as the character of the same value (ISO-8859-1), blanks
     * kept. A zero byte in the field ends the String early. The 16-character
     * serial is the key of the PIN transport texts for this token; test
     * {@code serial != null && serial.length() == 16} before using it so.
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotId a slot registered by {@link #GetSlotList}
     * @return the serial; or the text of a result code: {@code "1001"} no
     *         usable module, {@code "1002"} slot not registered,
     *         {@code "1004"} {@code C_GetTokenInfo} failed (no token, device
     *         error); or null when the JVM could not make the String or memory
     *         ran out
     */
    public static native String RetrieveSerial(int moduleKind, int slotId);

    /**
     * Changes the security officer's PIN: logs out, logs in as the security
     * officer with the old PIN, sets the new one ({@code C_SetPIN}), logs out.
     * Both texts are decoded before anything is sent to the token, so a bad
     * text changes nothing. Needs the slot's session; afterwards nobody is
     * logged in. Neither array is written.
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotId a slot registered by {@link #GetSlotList}
     * @param oldSoPin the current SO PIN as a PIN transport text made under
     *        the serial {@link #RetrieveSerial} returns
     * @param newSoPin the new SO PIN as a PIN transport text
     * @return in the order checked: 1001, 1002 module or slot unknown; 1003 an
     *         array null; {@link KavroResult#NO_TOKEN_SERIAL 1004} the token serial
     *         cannot be read or is not 16 characters; -1 a text ends inside a
     *         group of four Base64 characters; 1003 a text decodes to a count
     *         of bytes that is not a multiple of 16, to more than 2048 bytes, or
     *         to a PIN of more than 200 bytes; 1201 the transport key could not
     *         be set up; 1005 no memory; 1 to 255 (attempts left), 164 (locked)
     *         or 4001 (another reason) when the SO login was refused;
     *         otherwise {@code C_SetPIN}'s {@code CK_RV}, for example 0xA2
     *         {@code CKR_PIN_LEN_RANGE}; 0 when changed
     */
    public static native int SetSoPin(int moduleKind, int slotId, byte[] oldSoPin, byte[] newSoPin);

    /**
     * Gives the user a new PIN, which also unlocks a locked user PIN: logs
     * out, logs in as the security officer, {@code C_InitPIN} with the new
     * PIN, logs out. Needs the slot's session; afterwards nobody is logged in.
     * Neither array is written.
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotId a slot registered by {@link #GetSlotList}
     * @param soPin the SO PIN as a PIN transport text made under the serial
     *        {@link #RetrieveSerial} returns
     * @param newUserPin the new user PIN, plain: the whole array (a trailing
     *        zero byte would become part of the PIN)
     * @return as for {@link #SetSoPin}, with {@code C_InitPIN}'s
     *         {@code CK_RV} in place of {@code C_SetPIN}'s; 0 when done
     */
    public static native int UnlockUserPin(int moduleKind, int slotId, byte[] soPin, byte[] newUserPin);

    /**
     * Changes the user PIN: logs out, logs in as the user with the old PIN,
     * sets the new one ({@code C_SetPIN}). Reads no serial and decodes
     * nothing. Needs the slot's session. Neither array is written.
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotId a slot registered by {@link #GetSlotList}
     * @param oldUserPin the current user PIN, plain, the whole array
     * @param newUserPin the new user PIN, plain, the whole array
     * @return 0 when changed (logged in as the user afterwards); 4001 when the
     *         old PIN is wrong or the login was refused otherwise, 164 when it
     *         is locked (logged out afterwards); {@code C_SetPIN}'s
     *         {@code CK_RV} when it refused the new PIN (still logged in as
     *         the user); 1001, 1002 module or slot unknown, 1003 an array null
     *         (nothing changed)
     */
    public static native int SetUserPin(int moduleKind, int slotId, byte[] oldUserPin, byte[] newUserPin);

    /**
     * Initialises the token and gives it its first user PIN:
     * {@code C_CloseAllSessions} on the slot, {@code C_InitToken} with the SO
     * PIN and the label blank-padded to 32 octets, a new session, SO login,
     * {@code C_InitPIN} with the user PIN, logout, and the session closed.
     * Needs no session beforehand and <b>leaves none</b>: call
     * {@link #ConnectToken} again. The token gets a new serial, and some
     * modules renumber slots: call {@link #GetSlotList} again and find the
     * token by its serial. Neither array is written.
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotId a slot registered by {@link #GetSlotList}
     * @param soPin the SO PIN as a PIN transport text, made under the serial
     *        the token has <b>before</b> initialisation
     * @param userPin the first user PIN, plain, the whole array
     * @param label the token label: not null, at most 32 octets in the JVM's
     *        modified UTF-8 (ASCII is safest)
     * @return 0 when initialised with the user PIN set; 1003 when
     *         {@code soPin}, {@code userPin} or {@code label} is null or the
     *         label is longer than 32 octets (checked first; nothing done);
     *         1001, 1002, 1004, -1, 1003, 1201, 1005 as for
     *         {@link #SetSoPin} (nothing done); {@code C_InitToken}'s
     *         {@code CK_RV} as it is, for a wrong SO PIN 0xA0
     *         {@code CKR_PIN_INCORRECT}, not an attempts count (sessions closed;
     *         {@code DisconnectToken} then answers 0xB3); 1 to 255, 164 or 4001
     *         when the SO login after initialising was refused (a session left
     *         open, nobody logged in); {@code C_InitPIN}'s {@code CK_RV} when
     *         the token is initialised but has no user PIN
     */
    public static native int InitToken(int moduleKind, int slotId, byte[] soPin, byte[] userPin, String label);

    /**
     * Lists the serials of the token's certificates, in the module's order.
     * Call it twice: once with {@code serials} and {@code serialLengths} null
     * to count, once to fetch. A serial is the certificate's
     * {@code CKA_SERIAL_NUMBER} less its first two octets (DER tag and
     * length). Before writing any serial, the method checks that both arrays
     * have at least {@code count} elements and that every element of
     * {@code serials} that receives a serial is non-null and long enough;
     * if one is not, it answers 1003 with the true number in
     * {@code count[0]} and writes nothing else.
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotId a slot registered by {@link #GetSlotList}
     * @param serials null to count only; else element {@code i} receives
     *        serial {@code i} from octet 0 on (64 octets each is room for any
     *        X.509 serial); octets past it keep their values
     * @param serialLengths null to count only; else element {@code i} receives
     *        the length of serial {@code i}
     * @param count required, at least one element: element 0 receives the
     *        number of certificates
     * @return 0 when listed ({@code count[0]} = 0 for a token without
     *         certificates); 1003 when {@code count} is null or empty, or
     *         {@code serials}/{@code serialLengths} too short, an element null
     *         or too short; a {@code CK_RV} of {@code C_FindObjects} or
     *         {@code C_GetAttributeValue} ({@code count[0]} = the certificates
     *         handled before the failure; 0xB3 without a session, 0x91 after a
     *         {@code CKR_BUFFER_TOO_SMALL}); 1001, 1002, 1005 as usual
     */
    public static native int ListCertSerial(int moduleKind, int slotId, byte[][] serials, int[] serialLengths,
            int[] count);

    /**
     * Finds the {@code ordinal}-th private key ({@code CKO_PRIVATE_KEY}) of
     * the token, counting from 1, in the module's order. Private keys are
     * usually visible only after {@link #Login}.
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotId a slot registered by {@link #GetSlotList}
     * @param ordinal 1 for the first key; 0 and negative ordinals name no key
     * @param handle at least one element: element 0 receives the key's handle
     *        on success and is left unchanged otherwise
     * @return 0 when found; {@link KavroResult#NO_SUCH_OBJECT 1011} when
     *         {@code ordinal} is 0 or negative (no module call) or the token
     *         holds fewer private keys; a
     *         {@code CK_RV} when {@code C_FindObjects} failed; 1003
     *         {@code handle} null or empty; 1001, 1002, 1005 as usual
     */
    public static native int EnumPrivateKey(int moduleKind, int slotId, int ordinal, int[] handle);

    /**
     * Finds the certificate whose serial equals the first
     * {@code serialLength} octets of {@code serial}, then the first private key
     * with the same {@code CKA_ID}.
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotId a slot registered by {@link #GetSlotList}
     * @param serial the certificate serial, in the form
     *        {@link #ListCertSerial} gives it
     * @param serialLength how many octets of {@code serial} to compare
     * @param handle at least one element: element 0 receives the key's handle
     *        on success and is left unchanged otherwise
     * @return 0 when found; {@link KavroResult#NO_CERTIFICATE_WITH_SERIAL 1006}
     *         when no certificate has that serial, also when the certificate
     *         search failed (so after a {@code CKR_BUFFER_TOO_SMALL});
     *         {@link KavroResult#NO_KEY_WITH_CERTIFICATE_ID 1007} when no
     *         private key has the certificate's {@code CKA_ID} (or it is
     *         invisible before {@code Login}); a {@code CK_RV} when the key
     *         search failed; 1003 {@code serial} or {@code handle} null,
     *         {@code handle} empty, {@code serialLength} outside
     *         {@code 0..serial.length}; 1001, 1002, 1005 as usual
     */
    public static native int EnumPrivateKeyByCertSerial(int moduleKind, int slotId, byte[] serial,
            int serialLength, int[] handle);

    /**
     * Finds the {@code ordinal}-th public key ({@code CKO_PUBLIC_KEY}) of the
     * token, counting from 1, in the module's order.
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotId a slot registered by {@link #GetSlotList}
     * @param ordinal 1 for the first key; 0 and negative ordinals name no key
     * @param handle at least one element: element 0 receives the key's handle
     *        on success; 0 on 1011 or a failed search (unchanged for an
     *        {@code ordinal} of 0 or below and the argument checks)
     * @return 0 when found; 1011 when {@code ordinal} is 0 or negative (no
     *         module call) or the token holds fewer public keys; a {@code CK_RV} when {@code C_FindObjects}
     *         failed; 1003 {@code handle} null or empty; 1001, 1002, 1005 as
     *         usual
     */
    public static native int EnumPublicKey(int moduleKind, int slotId, int ordinal, int[] handle);

    /**
     * Finds the certificate whose serial equals the first
     * {@code serialLength} octets of {@code serial}, then the first public key
     * with the same {@code CKA_ID}.
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotId a slot registered by {@link #GetSlotList}
     * @param serial the certificate serial, in the form
     *        {@link #ListCertSerial} gives it
     * @param serialLength how many octets of {@code serial} to compare
     * @param handle at least one element: element 0 receives the key's handle
     *        on success and is left unchanged otherwise
     * @return as for {@link #EnumPrivateKeyByCertSerial}: 0, 1006, 1007, a
     *         {@code CK_RV}, 1003, 1001, 1002, 1005
     */
    public static native int EnumPublicKeyByCertSerial(int moduleKind, int slotId, byte[] serial,
            int serialLength, int[] handle);

    /**
     * Signs the first {@code dataLength} octets of {@code data} with a private
     * key (the user normally logged in). Signatures are big-endian, as
     * {@code java.security.Signature} verifies them.
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotId a slot registered by {@link #GetSlotList}
     * @param keyHandle a private key's handle from {@code EnumPrivateKey*}
     * @param signMechanism 0 {@code CKM_SHA1_RSA_PKCS}, 1
     *        {@code CKM_MD2_RSA_PKCS}, 2 {@code CKM_MD5_RSA_PKCS}, 3
     *        {@code CKM_RSA_PKCS} (the data as it is)
     * @param data the data; not written
     * @param dataLength 1 to {@code data.length}
     * @param signature receives the signature from element 0 on; offer the
     *        key's modulus in octets (256 for RSA-2048)
     * @param signatureLength at least one element: element 0 receives the
     *        signature's length on success and is left unchanged otherwise
     * @return 0 when signed; 1003 {@code dataLength} below 1 or beyond
     *         {@code data}, an array null, {@code signatureLength} empty;
     *         {@link KavroResult#BAD_SIGN_MECHANISM 1008} {@code signMechanism}
     *         not 0 to 3; 0x150 {@code CKR_BUFFER_TOO_SMALL} when
     *         {@code signature} is too short (the operation stays active);
     *         another {@code CK_RV} of {@code C_SignInit} or {@code C_Sign}
     *         (0x60/0x82 invalid key handle, 0x68 a public key, 0x101 not
     *         logged in, 0x90 an operation active; 6 also when the module
     *         claims a signature longer than the room it was given); 1001,
     *         1002, 1005 as usual
     */
    public static native int Sign(int moduleKind, int slotId, int keyHandle, int signMechanism, byte[] data,
            int dataLength, byte[] signature, int[] signatureLength);

    /**
     * Like {@link #Sign}, with the private key found as by
     * {@link #EnumPrivateKeyByCertSerial} in the same call. Empty data
     * ({@code dataLength} 0) is signed as given, and the key is looked up
     * before the mechanism is checked, so 1006 and 1007 come before 1008.
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotId a slot registered by {@link #GetSlotList}
     * @param serial the certificate serial, in the form
     *        {@link #ListCertSerial} gives it
     * @param serialLength how many octets of {@code serial} to compare
     * @param signMechanism 0 to 3, as for {@link #Sign}
     * @param data the data; not written
     * @param dataLength 0 to {@code data.length}
     * @param signature receives the signature from element 0 on
     * @param signatureLength at least one element: element 0 is written
     *        <b>whatever the result</b>: the signature's length after
     *        success; the room offered ({@code signature.length}) when the
     *        lookup, the selector or {@code C_SignInit} failed; the length the
     *        module needs after {@code CKR_BUFFER_TOO_SMALL}
     * @return as for {@link #Sign}, and 1006, 1007 as for
     *         {@link #EnumPrivateKeyByCertSerial}; 1003 also for {@code serial}
     *         null or {@code serialLength} outside {@code 0..serial.length}
     */
    public static native int SignByCertSerial(int moduleKind, int slotId, byte[] serial, int serialLength,
            int signMechanism, byte[] data, int dataLength, byte[] signature, int[] signatureLength);

    /**
     * Verifies a signature over the first {@code dataLength} octets of
     * {@code data} with a public key. Writes nothing.
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotId a slot registered by {@link #GetSlotList}
     * @param keyHandle a public key's handle from {@code EnumPublicKey*}
     * @param signMechanism 0 to 3, as for {@link #Sign}
     * @param data the data
     * @param dataLength 1 to {@code data.length}
     * @param signature the signature, big-endian
     * @param signatureLength how many octets of {@code signature} to verify
     * @return 0 when the signature is valid; 0xC0
     *         {@code CKR_SIGNATURE_INVALID} when it is not (the module's code);
     *         0xC1 {@code CKR_SIGNATURE_LEN_RANGE} when it has the wrong length
     *         for the key; 1003 {@code dataLength} below 1 or beyond
     *         {@code data}, {@code signatureLength} outside
     *         {@code 0..signature.length}, an array null; 1008
     *         {@code signMechanism} not 0 to 3; another {@code CK_RV} of
     *         {@code C_VerifyInit} or {@code C_Verify}; 1001, 1002, 1005 as
     *         usual
     */
    public static native int Verify(int moduleKind, int slotId, int keyHandle, int signMechanism, byte[] data,
            int dataLength, byte[] signature, int signatureLength);

    /**
     * Like {@link #Verify}, with the public key found as by
     * {@link #EnumPublicKeyByCertSerial} in the same call. {@code dataLength}
     * 0 is allowed; 1006 and 1007 come before 1008. Writes nothing.
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotId a slot registered by {@link #GetSlotList}
     * @param serial the certificate serial, in the form
     *        {@link #ListCertSerial} gives it
     * @param serialLength how many octets of {@code serial} to compare
     * @param signMechanism 0 to 3, as for {@link #Sign}
     * @param data the data
     * @param dataLength 0 to {@code data.length}
     * @param signature the signature, big-endian
     * @param signatureLength how many octets of {@code signature} to verify
     * @return as for {@link #Verify}, and 1006, 1007 as for
     *         {@link #EnumPublicKeyByCertSerial}; 1003 also for {@code serial}
     *         null or {@code serialLength} outside {@code 0..serial.length}
     */
    public static native int VerifyByCertSerial(int moduleKind, int slotId, byte[] serial, int serialLength,
            int signMechanism, byte[] data, int dataLength, byte[] signature, int signatureLength);

    /**
     * Digests the first {@code dataLength} octets of {@code data} on the token.
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotId a slot registered by {@link #GetSlotList}
     * @param hashType 0 SHA-1 (20 octets), 1 MD2 (16), 2 MD5 (16)
     * @param data the data; not written
     * @param dataLength 0 to {@code data.length}
     * @param digest receives the digest from element 0 on
     * @param digestLength at least one element: element 0 receives the
     *        digest's length on success; {@code digest.length} when
     *        {@code hashType} is out of range or {@code C_DigestInit} failed;
     *        the module's value after a failed {@code C_Digest} (the length
     *        needed after {@code CKR_BUFFER_TOO_SMALL}); unchanged on the
     *        other failures
     * @return 0 when digested; 1003 for a {@code hashType} outside 0 to 2 (no
     *         module call), {@code dataLength} outside
     *         {@code 0..data.length}, an array null, {@code digestLength}
     *         empty; a {@code CK_RV} of {@code C_DigestInit} or
     *         {@code C_Digest} (0x70 for a digest the module does not offer,
     *         0x150 {@code CKR_BUFFER_TOO_SMALL}); 1001, 1002, 1005 as usual
     */
    public static native int Hash(int moduleKind, int slotId, int hashType, byte[] data, int dataLength,
            byte[] digest, int[] digestLength);

    /**
     * Encrypts with RSA PKCS #1 v1.5 ({@code CKM_RSA_PKCS}) and a public key:
     * the first {@code inputLength} octets of {@code input} go to the module.
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotId a slot registered by {@link #GetSlotList}
     * @param keyHandle a public key's handle from {@code EnumPublicKey*}
     * @param reserved ignored
     * @param input the plaintext; not written
     * @param inputLength 0 to {@code input.length}; at most the key's modulus
     *        less 11 octets
     * @param output receives the ciphertext from element 0 on; offer the key's
     *        modulus in octets
     * @param outputLength at least one element: element 0 is written whatever
     *        the result, as for {@link #Hash}: the ciphertext's length after
     *        success, the room offered after a failed {@code C_EncryptInit},
     *        the module's value after a failed {@code C_Encrypt} (the length
     *        needed after {@code CKR_BUFFER_TOO_SMALL})
     * @return 0 when encrypted; 1003 for {@code inputLength} outside
     *         {@code 0..input.length}, an array null, {@code outputLength}
     *         empty (nothing written); the module's {@code CK_RV}: 0x21
     *         {@code CKR_DATA_LEN_RANGE} for input too long for the key (SoftHSM2
     *         answers 5, {@code CKR_GENERAL_ERROR}), 0x68 for a private key,
     *         0x150 {@code CKR_BUFFER_TOO_SMALL}; 1001, 1002, 1005 as usual
     */
    public static native int Encrypt(int moduleKind, int slotId, int keyHandle, int reserved, byte[] input,
            int inputLength, byte[] output, int[] outputLength);

    /**
     * Decrypts with RSA PKCS #1 v1.5 ({@code CKM_RSA_PKCS}) and a private key
     * (the user normally logged in): the first {@code inputLength} octets of
     * {@code input} go to the module.
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotId a slot registered by {@link #GetSlotList}
     * @param keyHandle a private key's handle from {@code EnumPrivateKey*}
     * @param reserved ignored
     * @param input the ciphertext; not written
     * @param inputLength 0 to {@code input.length}
     * @param output receives the plaintext from element 0 on; offer the key's
     *        modulus in octets
     * @param outputLength at least one element: element 0 is written whatever
     *        the result, as for {@link #Encrypt}
     * @return 0 when decrypted; 1003 as for {@link #Encrypt}; the module's
     *         {@code CK_RV}: 0x40/0x41 {@code CKR_ENCRYPTED_DATA_INVALID} or
     *         {@code _LEN_RANGE} for input that is not a ciphertext of this key
     *         (SoftHSM2 answers 5, {@code CKR_GENERAL_ERROR}), 0x68 for a
     *         public key, 0x150 {@code CKR_BUFFER_TOO_SMALL}; 1001, 1002, 1005
     *         as usual
     */
    public static native int Decrypt(int moduleKind, int slotId, int keyHandle, int reserved, byte[] input,
            int inputLength, byte[] output, int[] outputLength);

    /**
     * Lets the user choose a certificate of the personal store (Windows: the
     * system's selection dialog over the store "MY"; Linux: a zenity list or a
     * terminal menu over the NSS database {@code sql:$HOME/.pki/nssdb}).
     *
     * @return the chosen certificate's serial, big-endian as described under
     *         Serials; or <b>null</b> when the store cannot be opened, is
     *         empty, the user cancels, there is no way to ask (Linux: no
     *         display with zenity and no terminal), or the JVM cannot make the
     *         array
     */
    public static native byte[] ListCertByCSP();

    /**
     * Signs with a certificate's private key from the personal store: SHA-1
     * RSA PKCS #1 v1.5. In order: the certificate is chosen, its private key
     * acquired (the store may ask for its password or PIN), the data hashed
     * and signed. On every failure {@code signature} and
     * {@code signatureLength} keep their contents.
     *
     * @param certSource 0 choose in the dialog ({@code serial} and
     *        {@code serialLength} ignored), 1 the first certificate whose serial
     *        equals {@code serial}
     * @param serial with source 1: the serial, big-endian
     * @param serialLength with source 1: how many octets of {@code serial}
     * @param reserved ignored
     * @param data the data; not written
     * @param dataLength 0 to {@code data.length}: the octets hashed with SHA-1
     * @param signature receives the signature, <b>least significant octet
     *        first</b> (reverse it for {@code java.security.Signature}); offer
     *        the key's modulus in octets
     * @param signatureLength element 0 receives the signature's length
     * @return 0 when signed; 1003 for {@code certSource} not 0 or 1, a length
     *         outside its array, {@code serial} null with source 1, an output
     *         array null or {@code signatureLength} empty, or {@code signature}
     *         shorter than the signature (nothing written; no operation left
     *         active); {@link KavroResult#STORE_NOT_OPENED 1301} the store
     *         cannot be opened; 1302 no certificate chosen; 1011 no certificate
     *         has that serial; 1303 the private key is not available (none, not
     *         RSA, password refused); 1304 the hash cannot be created or fed;
     *         1309 the hash cannot be signed; 1005 no memory
     */
    public static native int SignByCSP(int certSource, byte[] serial, int serialLength, int reserved, byte[] data,
            int dataLength, byte[] signature, int[] signatureLength);

    /**
     * Verifies a SHA-1 RSA signature (least significant octet first, as
     * {@link #SignByCSP} gives it) over the first {@code dataLength} octets of
     * {@code data} with the public key of a certificate. Only the public key is
     * used: validity dates, chain, key usage and revocation are not examined.
     * Writes nothing.
     *
     * @param certSource 0 choose in the dialog, 1 match a serial in the store,
     *        2 PEM text, 3 DER octets, 4 a certificate file
     * @param certificate ignored for 0; the serial (big-endian) for 1; PEM
     *        text from {@code -----BEGIN CERTIFICATE-----} to
     *        {@code -----END CERTIFICATE-----} as its very last octets for 2;
     *        DER octets for 3; the file's path as bytes for 4 (Linux: the file
     *        name's bytes; Windows: the ANSI code page), the file holding DER
     *        or PEM
     * @param certificateLength how many octets of {@code certificate}: at most
     *        4096 for PEM and DER, at most 259 for a path
     * @param reserved ignored
     * @param data the data
     * @param dataLength 0 to {@code data.length}
     * @param signature the signature, least significant octet first
     * @param signatureLength how many octets of {@code signature}
     * @return 0 when the signature verifies;
     *         {@link KavroResult#SIGNATURE_INVALID 1308} when it does not;
     *         1003 {@code certSource} not 0 to 4, a length outside its array,
     *         {@code certificate} null for sources 1 to 4, PEM or DER over 4096
     *         octets, a path of 260 octets or more, {@code data} or
     *         {@code signature} null; 1301, 1302, 1011 for sources 0 and 1
     *         (store not opened, nothing chosen, no certificate with that
     *         serial); 1202 the PEM text cannot be unwrapped; 1305 the file
     *         cannot be read whole or is over 4096 octets; 1302 the octets are
     *         not a certificate (sources 2 to 4); 1306 no cryptographic
     *         provider; 1307 the public key cannot be imported (only RSA is
     *         supported); 1304 the hash cannot be created or fed; 1005 no
     *         memory
     */
    public static native int VerifyByCSP(int certSource, byte[] certificate, int certificateLength, int reserved,
            byte[] data, int dataLength, byte[] signature, int signatureLength);
}
