package bench;

/** The module's own cost measured inside this JVM (bench/raw_in_jvm.c), on the instance kavro uses. */
final class RawInJvm {
    private RawInJvm() {
    }

    static native double measure(String module, int slot, String pin, String operation, String serialHex,
            long warmupMillis, long roundMillis, int rounds);
}
