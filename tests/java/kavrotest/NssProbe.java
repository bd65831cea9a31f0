package kavrotest;

/**
 * Whether NSS is loaded into this JVM, whether any NSS context is open, and
 * a context of the probe's own on a database (tests/modules/nssprobe).
 */
public final class NssProbe {
    static {
        System.load(System.getProperty("kavro.nssprobe"));
    }

    private NssProbe() {
    }

    public static native boolean loaded();

    public static native boolean initialized();

    /** Opens an NSS database folder read-only; NSS must have been loaded by kavro. */
    public static native boolean openDatabase(String directory);

    public static native void closeDatabase();
}
