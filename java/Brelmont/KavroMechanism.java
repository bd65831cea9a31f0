package Brelmont;

/**
 * The values of the {@code signMechanism} argument of {@link Kavro#Sign},
 * {@link Kavro#SignByCertSerial}, {@link Kavro#Verify} and
 * {@link Kavro#VerifyByCertSerial}: RSA PKCS #1 v1.5 with a digest made by
 * the module, or over the data as given. Each constant is named after its
 * PKCS #11 mechanism without the {@code CKM_} prefix. Any other value answers
 * {@link KavroResult#BAD_SIGN_MECHANISM 1008}. Whether a module offers a
 * mechanism is the module's business: a refusal is its {@code CK_RV}, for
 * example {@link KavroResult#CKR_MECHANISM_INVALID 0x70}.
 *
 * <p>Signatures are big-endian and verify with
 * {@code java.security.Signature} as they are.
 */
public final class KavroMechanism {
    private KavroMechanism() {
    }

    /**
     * 0: {@code CKM_SHA1_RSA_PKCS}, the SHA-1 of the data signed with RSA
     * PKCS #1 v1.5 (Java: {@code SHA1withRSA}).
     */
    public static final int SHA1_RSA_PKCS = 0;
    /** 1: {@code CKM_MD2_RSA_PKCS}, the MD2 of the data (Java: {@code MD2withRSA}). */
    public static final int MD2_RSA_PKCS = 1;
    /** 2: {@code CKM_MD5_RSA_PKCS}, the MD5 of the data (Java: {@code MD5withRSA}). */
    public static final int MD5_RSA_PKCS = 2;
    /**
     * 3: {@code CKM_RSA_PKCS}, the data as it is, in a PKCS #1 v1.5 block (a
     * DigestInfo you built, for example); at most the modulus less 11 octets.
     */
    public static final int RSA_PKCS = 3;
}
