package kavrotest;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

/**
 * Scripts a mock PKCS #11 module and reads its journal. The module is opened
 * by its bare file name, as kavro opens it, so both reach the same instance.
 */
public final class MockModule {
    static {
        System.load(System.getProperty("kavro.mockctl"));
    }

    public static final String[] FILE_NAMES = {
        "zelcsp11.dll", "orbeka-ca_csp11.dll", "dunmere-ca.dll", "talvis-ca.dll", "MorvenCA.dll",
    };

    /** Octets of the mock's CK_ULONG: on Linux it is unsigned long, as wide as the JVM's pointers. */
    public static final int ULONG_BYTES = Integer.getInteger("sun.arch.data.model", 64) / 8;

    private final long control;

    private MockModule(long control) {
        this.control = control;
    }

    /** The mock that answers for a module kind (1 to 3 in the standard module directory). */
    public static MockModule forKind(int kind) {
        return new MockModule(open(FILE_NAMES[kind]));
    }

    /** The mock in the file at path, as a module that forwards to it loads it. */
    public static MockModule at(String path) {
        return new MockModule(open(path));
    }

    /** Runs commands separated by ';' or new lines; returns their replies. */
    public String run(String commands) {
        return control(control, commands);
    }

    public MockModule reset() {
        run("reset");
        return this;
    }

    public List<String> journal() {
        String text = run("journal");
        return text.isEmpty() ? new ArrayList<>() : new ArrayList<>(Arrays.asList(text.split("\n")));
    }

    public void clearJournal() {
        run("journal-clear");
    }

    /** A CK_ULONG as the journal shows an attribute holding it: its native octets, little-endian, in hex. */
    public static String ulongOctets(long value) {
        StringBuilder octets = new StringBuilder();
        for (int i = 0; i < ULONG_BYTES; i++) {
            octets.append(String.format("%02x", (value >>> (8 * i)) & 0xff));
        }
        return octets.toString();
    }

    /** Journal lines of calls to the named function. */
    public List<String> calls(String function) {
        List<String> lines = new ArrayList<>();
        for (String line : journal()) {
            if (line.equals(function) || line.startsWith(function + " ")) {
                lines.add(line);
            }
        }
        return lines;
    }

    /** Names of the functions called, in order. */
    public List<String> callNames() {
        List<String> names = new ArrayList<>();
        for (String line : journal()) {
            int space = line.indexOf(' ');
            names.add(space < 0 ? line : line.substring(0, space));
        }
        return names;
    }

    public int addObject(String description) {
        return Integer.parseInt(run("object " + description).trim());
    }

    /** A field of "state SLOT", for example login, sessions or userpin. */
    public String state(long slot, String field) {
        for (String part : run("state " + slot).split(" ")) {
            if (part.startsWith(field + "=")) {
                return part.substring(field.length() + 1);
            }
        }
        throw new IllegalArgumentException("no state field " + field);
    }

    private static native long open(String fileName);

    private static native String control(long control, String commands);
}
