package kavrotest;

/** Whether NSS is loaded into this JVM, and whether any NSS context is open (tests/modules/nssprobe). */
public final class NssProbe {
    static {
        System.load(System.getProperty("kavro.nssprobe"));
    }

    private NssProbe() {
    }

    public static native boolean loaded();

    public static native boolean initialized();
}
