package Brelmont;

/**
 * The values of the {@code hashType} argument of {@link Kavro#Hash}, and the
 * length of each digest. Any other value answers
 * {@link KavroResult#BAD_ARGUMENT 1003} without a module call.
 *
 * <pre>{@code
 * byte[] digest = new byte[KavroHash.digestLength(KavroHash.SHA1)];
 * int[] digestLength = {0};
 * int rc = Kavro.Hash(kind, slot, KavroHash.SHA1, data, data.length, digest, digestLength);
 * }</pre>
 */
public final class KavroHash {
    private KavroHash() {
    }

    /** 0: SHA-1 ({@code CKM_SHA_1}), 20 octets. */
    public static final int SHA1 = 0;
    /** 1: MD2 ({@code CKM_MD2}), 16 octets. */
    public static final int MD2 = 1;
    /** 2: MD5 ({@code CKM_MD5}), 16 octets. */
    public static final int MD5 = 2;

    /**
     * The length of a digest, to size the {@code digest} array of
     * {@link Kavro#Hash} with.
     *
     * @param hashType a hash type
     * @return 20 for {@link #SHA1}, 16 for {@link #MD2} and {@link #MD5}; 0
     *         for any other value
     */
    public static int digestLength(int hashType) {
        switch (hashType) {
            case SHA1: return 20;
            case MD2:
            case MD5: return 16;
            default: return 0;
        }
    }
}
