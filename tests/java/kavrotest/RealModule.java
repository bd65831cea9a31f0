package kavrotest;

import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Map;
import java.util.Properties;

/**
 * A real PKCS #11 module as RealModuleTest reaches it: through the module
 * bridge under a module kind's file name. Each entry says how the module
 * differs from the others; what tests/scripts/real_module.sh put on its token
 * (certificates, PIN, store) comes from the set-up's module.properties.
 *
 * @param kind           the module kind, and {@code file} the bridge file of that kind
 * @param initArgs       the bridge's init-args for the module ({@code %s}: the set-up's store); null: none
 * @param withoutArgs    what Initialize answers when the bridge passes no init-args; null: not asked
 * @param slots          what GetSlotList lists, in order
 * @param slot           the slot of the token that the set-up filled
 * @param readOnly       a write-protected token without keys: ConnectToken, ListCertSerial and
 *                       DisconnectToken are its cases
 * @param signMechanisms the signMechanism selectors the module offers (others: CKR_MECHANISM_INVALID)
 * @param hashTypes      the hashType values it offers (others: CKR_MECHANISM_INVALID)
 * @param shortDigest    what a SHA-1 Hash into 16 octets does
 */
record RealModule(String name, int kind, String file, String initArgs, Integer withoutArgs, int[] slots, int slot,
        boolean readOnly, int[] signMechanisms, int[] hashTypes, ShortDigest shortDigest) {

    static final int CKR_FUNCTION_FAILED = 0x06;
    static final int CKR_OPERATION_ACTIVE = 0x90;
    static final int CKR_BUFFER_TOO_SMALL = 0x150;

    /**
     * A Hash whose digest array is too short: the module's answer, the
     * digestLength it reports, and what the next Hash on the slot answers.
     */
    record ShortDigest(int result, int length, int nextHash) {
    }

    private static final Map<String, RealModule> ALL = Map.of(
            // NSS's softoken over an SQL database: slot 1 is its crypto services, slot 2 the database,
            // whose password is the user PIN. C_Initialize needs the database named in pReserved
            // (CKR_ARGUMENTS_BAD without). Its C_Digest writes the whole digest whatever room it was
            // told of and answers CKR_OK, ending the operation: kavro, whose staging took the
            // overrun, answers CKR_FUNCTION_FAILED with the room as the length.
            "softoken", new RealModule("softoken", 1, "orbeka-ca_csp11.dll",
                    "configdir='sql:%s' certPrefix='' keyPrefix='' secmod='secmod.db' flags=", 1001,
                    new int[] {1, 2}, 2, false, new int[] {0, 1, 2, 3}, new int[] {0, 1, 2},
                    new ShortDigest(CKR_FUNCTION_FAILED, 16, 0)),
            // p11-kit's trust module over a PEM bundle named in its init-args: a write-protected token
            // (CKR_TOKEN_WRITE_PROTECTED to a read/write C_OpenSession) in p11-kit's first slot, 18.
            // Without init-args it serves the system's anchors.
            "trust", new RealModule("trust", 2, "dunmere-ca.dll", "paths=%s", 0,
                    new int[] {18}, 18, true, new int[0], new int[0], null),
            // opencryptoki's software token behind pkcsslotd, in the daemon's slot 3. After
            // CKR_BUFFER_TOO_SMALL it leaves the digest length as it was given.
            "opencryptoki", new RealModule("opencryptoki", 3, "talvis-ca.dll", null, null,
                    new int[] {3}, 3, false, new int[] {0, 2, 3}, new int[] {0, 2},
                    new ShortDigest(CKR_BUFFER_TOO_SMALL, 16, CKR_OPERATION_ACTIVE)),
            // The TPM 2.0 module on swtpm: session handles wider than 32 bits (0x0100000000000001),
            // the initialised token in slot 1 and a free one in slot 2; no MD2 or MD5. Three wrong
            // PINs lock the TPM: no case gives one.
            "tpm", new RealModule("tpm", 4, "MorvenCA.dll", null, null,
                    new int[] {1, 2}, 1, false, new int[] {0, 3}, new int[] {0},
                    new ShortDigest(CKR_BUFFER_TOO_SMALL, 20, CKR_OPERATION_ACTIVE)));

    private static Properties setUp;

    /** The module named by -Dkavro.module. */
    static RealModule selected() {
        return ALL.get(System.getProperty("kavro.module"));
    }

    /** What the set-up made, from the file named by -Dkavro.module.properties. */
    static String setUp(String key) {
        if (setUp == null) {
            setUp = new Properties();
            try (InputStream in = new FileInputStream(System.getProperty("kavro.module.properties"))) {
                setUp.load(in);
            } catch (IOException e) {
                throw new IllegalStateException("the module's set-up did not run", e);
            }
        }
        String value = setUp.getProperty(key);
        if (value == null) {
            throw new IllegalArgumentException("no set-up property " + key);
        }
        return value;
    }

    /** bridge.conf lines that forward this kind's file to the module, with its init-args or without. */
    String bridgeConf(boolean withInitArgs) {
        String lines = file + " = " + setUp("module") + "\n";
        if (withInitArgs && initArgs != null) {
            lines += file + ".init-args = " + String.format(initArgs, setUp("store")) + "\n";
        }
        return lines;
    }

    byte[] userPin() {
        return setUp("user.pin").getBytes();
    }

    /** A certificate file of the set-up: "key.der" has its key on the token. */
    static Path certificate(String name) {
        return Paths.get(setUp("certs.dir"), name);
    }
}
