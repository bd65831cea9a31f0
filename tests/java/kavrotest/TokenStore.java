package kavrotest;

import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Comparator;
import java.util.Properties;
import java.util.stream.Stream;

/** The SoftHSM2 tokens made for this test run (tests/scripts/make_tokens.sh), reached as module kind 0. */
public final class TokenStore {
    public static final int KIND = 0;

    private static final Properties PROPERTIES = load();

    private TokenStore() {
    }

    private static Properties load() {
        Properties properties = new Properties();
        try (InputStream in = new FileInputStream(System.getProperty("kavro.tokens"))) {
            properties.load(in);
        } catch (IOException e) {
            throw new IllegalStateException("token store description missing", e);
        }
        return properties;
    }

    public static String get(String key) {
        String value = PROPERTIES.getProperty(key);
        if (value == null) {
            throw new IllegalArgumentException("no token store property " + key);
        }
        return value;
    }

    public static int slot(String token) {
        return (int) Long.parseLong(get(token + ".slot"));
    }

    public static String serial(String token) {
        return get(token + ".serial");
    }

    public static byte[] userPin() {
        return get("user.pin").getBytes();
    }

    public static byte[] soPin() {
        return get("so.pin").getBytes();
    }

    public static Path certificate(String name) {
        return Paths.get(get("certs.dir"), name);
    }

    /**
     * Points this JVM's token store (SOFTHSM2_CONF, which must lie in the
     * class's work folder) at a fresh copy of the run's tokens, for a class
     * that changes them. Call it before the first kavro call: SoftHSM2 reads
     * its configuration when it starts.
     */
    public static void privateCopy() throws IOException {
        Path conf = Paths.get(System.getenv("SOFTHSM2_CONF")).toAbsolutePath();
        Path work = Work.dir().toAbsolutePath();
        assertTrue(conf.startsWith(work), "the token store of this class is a private copy: " + conf);
        Path shared = Paths.get(get("softhsm.conf")).toAbsolutePath().getParent().resolve("tokens");
        Path tokens = conf.getParent().resolve("tokens");
        if (Files.exists(tokens)) {
            try (Stream<Path> old = Files.walk(tokens)) {
                for (Path path : (Iterable<Path>) old.sorted(Comparator.reverseOrder())::iterator) {
                    Files.delete(path);
                }
            }
        }
        try (Stream<Path> files = Files.walk(shared)) {
            for (Path path : (Iterable<Path>) files::iterator) {
                Files.copy(path, tokens.resolve(shared.relativize(path).toString()));
            }
        }
        Files.writeString(conf, "directories.tokendir = " + tokens + "\nobjectstore.backend = file\nlog.level = ERROR\n");
    }

    public static byte[] read(Path path) {
        try {
            return Files.readAllBytes(path);
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }
}
