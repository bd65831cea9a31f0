package Brelmont;

/**
 * The certificates on a token, whole: what the JCA provider needs to
 * present a token's certificates to the JCA. A native method of the same
 * library as {@link Kavro}, with the same checks in the same order (module
 * kind 1001, slot 1002, arguments 1003) and the same result codes; the slot
 * must have been found by {@link Kavro#GetSlotList} and connected with
 * {@link Kavro#ConnectToken}.
 *
 * <pre>{@code
 * byte[][] fields = new byte[KavroCertificates.FIELDS][];
 * for (int n = 1; KavroCertificates.ReadCertificate(kind, slot, n, fields) == KavroResult.OK; n++) {
 *     X509Certificate certificate = (X509Certificate) CertificateFactory.getInstance("X.509")
 *             .generateCertificate(new ByteArrayInputStream(fields[KavroCertificates.VALUE]));
 *     ...
 * }
 * }</pre>
 */
public final class KavroCertificates {
    static {
        try {
            // The library is loaded by Kavro's initialiser, in this class loader.
            Class.forName("Brelmont.Kavro", true, KavroCertificates.class.getClassLoader());
        } catch (ClassNotFoundException e) {
            throw new NoClassDefFoundError(e.getMessage());
        }
    }

    /** Index of the certificate's DER encoding ({@code CKA_VALUE}) in the fields. */
    public static final int VALUE = 0;
    /** Index of the object's label ({@code CKA_LABEL}, UTF-8; empty when it has none). */
    public static final int LABEL = 1;
    /** Index of the object's {@code CKA_ID}, shared with its key pair (empty when it has none). */
    public static final int ID = 2;
    /**
     * Index of the serial content: the octets that {@link Kavro#SignByCertSerial}
     * and the other {@code ByCertSerial} methods compare ({@code CKA_SERIAL_NUMBER}
     * less its first two octets; empty when it has none).
     */
    public static final int SERIAL = 3;
    /** The number of fields {@link #ReadCertificate} fills. */
    public static final int FIELDS = 4;

    private KavroCertificates() {
    }

    /**
     * Reads the {@code ordinal}-th certificate object on the token (from 1, in
     * the module's order, as {@link Kavro#ListCertSerial} lists them) in the
     * slot's session: its DER value, label, {@code CKA_ID} and serial content,
     * each into a new array.
     *
     * @param moduleKind the token module, 0 to 4
     * @param slotId a slot registered by {@link Kavro#GetSlotList}
     * @param ordinal which certificate, from 1
     * @param fields receives new arrays at {@link #VALUE}, {@link #LABEL},
     *        {@link #ID} and {@link #SERIAL}; must have room for {@link #FIELDS}
     *        elements. Written only on success.
     * @return 0; {@link KavroResult#NO_SUCH_OBJECT 1011} when the ordinal is
     *         below 1 or past the last certificate (so a loop from 1 ends
     *         there); 1001, 1002; 1003 when {@code fields} is null or too
     *         short; 1005 when the JVM has no memory for the arrays; or the
     *         module's {@code CK_RV} (0xB3 without {@code ConnectToken}, the
     *         value's read failing)
     */
    public static native int ReadCertificate(int moduleKind, int slotId, int ordinal, byte[][] fields);
}
