package kavrotest;

import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Properties;

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

    public static byte[] read(Path path) {
        try {
            return Files.readAllBytes(path);
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
    }
}
