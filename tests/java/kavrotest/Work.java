package kavrotest;

import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;

/** The scratch folder of one test class, made afresh for each run. */
public final class Work {
    private Work() {
    }

    public static Path dir() {
        Path dir = Paths.get(System.getProperty("kavro.work"));
        try {
            Files.createDirectories(dir);
        } catch (IOException e) {
            throw new IllegalStateException(e);
        }
        return dir;
    }
}
