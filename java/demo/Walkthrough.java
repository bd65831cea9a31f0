package demo;

import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.util.Properties;

/**
 * The main job: a walk through the kavro API against a SoftHSM2 token store,
 * printing every step with its result code and what the code means.
 *
 * Usage: java -Dbrelmont.kavro.library=... demo.Walkthrough tokens.properties
 */
public final class Walkthrough {
    static final int KIND = 0;

    private Walkthrough() {
    }

    public static void main(String[] args) throws IOException {
        Properties tokens = new Properties();
        try (InputStream in = new FileInputStream(args[0])) {
            tokens.load(in);
        }
        Report report = new Report();
        System.out.println("kavro walkthrough: module kind " + KIND + " (zelcsp11.dll, a SoftHSM2 token store)");
        SlotSteps.run(report, tokens);
        SessionSteps.run(report, tokens);
        TokenCryptoSteps.run(report, tokens);
        InitTokenSteps.run(report, tokens);
        StoreSteps.run(report, tokens);

        System.out.println();
        System.out.println(report.failures() == 0 ? "All steps succeeded." : report.failures() + " step(s) failed.");
        System.exit(report.failures() == 0 ? 0 : 1);
    }
}
