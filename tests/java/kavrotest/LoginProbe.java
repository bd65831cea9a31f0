package kavrotest;

import Brelmont.Kavro;
import java.nio.charset.StandardCharsets;

/**
 * Asks a SoftHSM2 token who is logged in. SoftHSM2 answers a user login
 * while the user is logged in with CKR_USER_ALREADY_LOGGED_IN before it
 * looks at the PIN, so a wrong PIN gives 0 only then; while the security
 * officer is logged in, the right user PIN is refused too. SoftHSM2 keeps
 * no user PIN lockout, so the wrong attempt costs nothing.
 */
public final class LoginProbe {
    private static final byte[] WRONG = "000000".getBytes(StandardCharsets.US_ASCII);

    private LoginProbe() {
    }

    /** "user", "nobody" or "so"; the token is left as it was found. */
    public static String loggedIn(int kind, int slot, byte[] userPin) {
        if (Kavro.Login(kind, slot, WRONG) == 0) {
            return "user";
        }
        if (Kavro.Login(kind, slot, userPin) == 0) {
            Kavro.Logout(kind, slot);
            return "nobody";
        }
        return "so";
    }
}
