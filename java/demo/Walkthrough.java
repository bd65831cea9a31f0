package demo;

import Brelmont.Kavro;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.util.Arrays;
import java.util.Properties;

/**
 * The main job: a walk through the kavro API against a SoftHSM2 token store,
 * printing every step with its result code and what the code means.
 *
 * Usage: java -Dbrelmont.kavro.library=... demo.Walkthrough tokens.properties
 */
public final class Walkthrough {
    private static final int KIND = 0;
    private static int failures;

    private Walkthrough() {
    }

    public static void main(String[] args) throws IOException {
        Properties tokens = new Properties();
        try (InputStream in = new FileInputStream(args[0])) {
            tokens.load(in);
        }
        System.out.println("kavro walkthrough: module kind " + KIND + " (zelcsp11.dll, a SoftHSM2 token store)");
        System.out.println();

        step("Initialize: load and start the token module", Kavro.Initialize(KIND), 0);

        int[] slotIds = new int[16];
        int[] slotCount = {0};
        step("GetSlotList: find the slots that hold a token", Kavro.GetSlotList(KIND, slotIds, slotCount), 0);
        int[] found = Arrays.copyOf(slotIds, Math.min(slotCount[0], slotIds.length));
        System.out.println("    " + slotCount[0] + " slot(s) with a token: " + unsigned(found));
        int main = (int) Long.parseLong(tokens.getProperty("main.slot"));
        boolean listed = Arrays.stream(found).anyMatch(id -> id == main);
        check("the token \"KavroMain\" is among them (slot " + Integer.toUnsignedString(main) + ")", listed);

        System.out.println();
        System.out.println(failures == 0 ? "All steps succeeded." : failures + " step(s) failed.");
        System.exit(failures == 0 ? 0 : 1);
    }

    private static String unsigned(int[] ids) {
        StringBuilder text = new StringBuilder();
        for (int id : ids) {
            text.append(text.length() == 0 ? "" : ", ").append(Integer.toUnsignedString(id));
        }
        return text.toString();
    }

    private static void step(String what, int code, int expected) {
        boolean ok = code == expected;
        System.out.printf("%s %s%n    -> %d: %s%n", ok ? "[ok]  " : "[FAIL]", what, code, ResultCodes.meaning(code));
        if (!ok) {
            failures++;
        }
    }

    private static void check(String what, boolean ok) {
        System.out.printf("%s %s%n", ok ? "[ok]  " : "[FAIL]", what);
        if (!ok) {
            failures++;
        }
    }
}
