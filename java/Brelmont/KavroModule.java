package Brelmont;

import java.util.List;

/**
 * The module kinds of {@link Kavro} by name, and the file name each kind
 * loads. The first argument of every token method is one of
 * {@link #KIND_0} to {@link #KIND_4}; any other value answers
 * {@link KavroResult#NO_MODULE 1001}.
 *
 * <p>The file name is handed to the platform's loader as it stands, on Linux
 * too: a module (or the module bridge, which forwards to any PKCS #11 module)
 * must be found under exactly this name, on {@code LD_LIBRARY_PATH}, in the
 * module folder {@code /usr/lib/<multiarch>/kavro} of an installed kavro, or
 * where Windows' {@code LoadLibraryA} searches. See {@link Kavro} under
 * "Module kinds and the module bridge".
 *
 * <pre>{@code
 * int kind = KavroModule.KIND_0;
 * int rc = Kavro.Initialize(kind);
 * if (rc == KavroResult.NO_MODULE) {
 *     System.err.println("no usable " + KavroModule.fileName(kind) + " on the library path");
 * }
 * }</pre>
 */
public final class KavroModule {
    private KavroModule() {
    }

    /** Module kind 0: the module file {@code zelcsp11.dll}. */
    public static final int KIND_0 = 0;
    /** Module kind 1: the module file {@code orbeka-ca_csp11.dll}. */
    public static final int KIND_1 = 1;
    /** Module kind 2: the module file {@code dunmere-ca.dll}. */
    public static final int KIND_2 = 2;
    /** Module kind 3: the module file {@code talvis-ca.dll}. */
    public static final int KIND_3 = 3;
    /** Module kind 4: the module file {@code MorvenCA.dll}. */
    public static final int KIND_4 = 4;

    /**
     * The file names of the module kinds, indexed by kind: element 0 is the
     * file of {@link #KIND_0}. An unmodifiable list of five names.
     */
    public static final List<String> FILE_NAMES = List.of(
            "zelcsp11.dll", "orbeka-ca_csp11.dll", "dunmere-ca.dll", "talvis-ca.dll", "MorvenCA.dll");

    /**
     * The file name that a module kind loads.
     *
     * @param kind a module kind
     * @return the file name, for example {@code "zelcsp11.dll"} for
     *         {@link #KIND_0}; null when {@code kind} is not 0 to 4
     */
    public static String fileName(int kind) {
        return kind >= 0 && kind < FILE_NAMES.size() ? FILE_NAMES.get(kind) : null;
    }
}
