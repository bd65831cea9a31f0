package demo;

import Brelmont.KavroResult;

/**
 * Prints the walkthrough's steps with their results and what they mean, and
 * counts the failures. Every call into kavro is printed with what it
 * returned: a result code, a session handle, a serial text or a store serial.
 */
final class Report {
    private int failures;

    /** A step that returned a result code; it succeeds when the code is the expected one. */
    int step(String what, int code, int expected) {
        boolean ok = code == expected;
        print(ok, what, code + ": " + KavroResult.describe(code));
        return code;
    }

    /** ConnectToken: a session handle, or 0 for any failure. */
    int session(String what, int handle) {
        boolean ok = handle != 0;
        print(ok, what, ok ? "handle " + Integer.toUnsignedString(handle) + ": a session is open"
                : "0: no session (unusable module, unregistered slot, or the token refused C_OpenSession)");
        return handle;
    }

    /**
     * RetrieveSerial: the token's 16 serial characters, or the text of a
     * result code. The step succeeds when the serial has 16 characters and,
     * if expected is given, equals it.
     */
    String serial(String what, String serial, String expected) {
        boolean ok = serial != null && serial.length() == 16 && (expected == null || serial.equals(expected));
        String meaning;
        if (serial == null) {
            meaning = "null: the JVM could not make the String";
        } else if (serial.length() == 16) {
            meaning = "\"" + serial + "\": the token serial, 16 characters"
                    + (serial.isBlank() ? " (all blanks)" : "");
        } else if (serial.matches("-?[0-9]+")) {
            meaning = "\"" + serial + "\": " + KavroResult.describe(Integer.parseInt(serial));
        } else {
            meaning = "\"" + serial + "\": a serial of " + serial.length() + " characters, not 16";
        }
        print(ok, what, meaning);
        return serial;
    }

    /**
     * ListCertByCSP: the chosen certificate's serial, or null when none was
     * chosen. Either is a valid answer of the user, so neither fails.
     */
    byte[] chosen(String what, byte[] serial) {
        print(true, what, serial == null
                ? "null: no certificate chosen (cancelled, no store, or no way to ask)"
                : "serial " + hex(serial) + ": the certificate chosen");
        return serial;
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

    private void print(boolean ok, String what, String result) {
        System.out.printf("%s %s%n    -> %s%n", ok ? "[ok]  " : "[FAIL]", what, result);
        if (!ok) {
            failures++;
        }
    }

    static String hex(byte[] bytes) {
        StringBuilder text = new StringBuilder();
        for (byte b : bytes) {
            text.append(String.format("%02X", b & 0xFF));
        }
        return text.toString();
    }
}
