package demo;

/** Prints the walkthrough's steps with their result codes and counts the failures. */
final class Report {
    private int failures;

    /** A step that returned a result code; it succeeds when the code is the expected one. */
    int step(String what, int code, int expected) {
        boolean ok = code == expected;
        System.out.printf("%s %s%n    -> %d: %s%n", ok ? "[ok]  " : "[FAIL]", what, code, ResultCodes.meaning(code));
        if (!ok) {
            failures++;
        }
        return code;
    }

    /** A check of what a step produced. */
    boolean check(String what, boolean ok) {
        System.out.printf("%s %s%n", ok ? "[ok]  " : "[FAIL]", what);
        if (!ok) {
            failures++;
        }
        return ok;
    }

    void note(String text) {
        System.out.println("    " + text);
    }

    void section(String title) {
        System.out.println();
        System.out.println("== " + title);
    }

    int failures() {
        return failures;
    }
}
