package bench;

/**
 * The module's own cost measured inside this JVM (bench/raw_in_jvm.c), on
 * the instance kavro uses, one round at a time.
 */
final class RawInJvm {
    private RawInJvm() {
    }

    static native boolean setUp(String module, int slot, String pin, String operation, String serialHex);

    /** One round of the given length: ns per operation, or a negative value when a call failed. */
    static native double round(long roundMillis);

    static native void tearDown();
}
