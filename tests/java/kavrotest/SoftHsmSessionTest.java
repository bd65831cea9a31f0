package kavrotest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;

import Brelmont.Kavro;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.Test;

/**
 * Sessions, login and the serial on the SoftHSM2 tokens of this run (kind 0).
 * The user PIN of KavroAdmin is changed and always put back.
 */
class SoftHsmSessionTest {
    static final int KIND = TokenStore.KIND;
    static final int MAIN = TokenStore.slot("main");
    static final int ADMIN = TokenStore.slot("admin");
    static final int FREE = TokenStore.slot("free");
    static final byte[] WRONG = "000000".getBytes(StandardCharsets.US_ASCII);

    /** KavroAdmin's user PIN as it stands; put back after each test. */
    static byte[] adminUserPin = TokenStore.userPin();

    @BeforeAll
    static void discover() {
        assertEquals(0, Kavro.GetSlotList(KIND, null, null));
    }

    @AfterEach
    void putTheUserPinBackAndLogOut() {
        if (!Arrays.equals(adminUserPin, TokenStore.userPin())) {
            Kavro.ConnectToken(KIND, ADMIN);
            assertEquals(0, Kavro.SetUserPin(KIND, ADMIN, adminUserPin, TokenStore.userPin()));
            adminUserPin = TokenStore.userPin();
        }
        Kavro.Logout(KIND, ADMIN);
        Kavro.Logout(KIND, MAIN);
    }

    static String loggedIn(int slot, byte[] userPin) {
        return LoginProbe.loggedIn(KIND, slot, userPin);
    }

    @Test
    void twoConnectsLeaveBothSessionsOpenAndOneDisconnectClosesOnlyTheSecond() {
        int first = Kavro.ConnectToken(KIND, MAIN);
        int second = Kavro.ConnectToken(KIND, MAIN);
        assertNotEquals(0, first);
        assertNotEquals(0, second);
        assertNotEquals(first, second);
        assertEquals(0, Kavro.Login(KIND, MAIN, TokenStore.userPin()));
        assertEquals(0, Kavro.DisconnectToken(KIND, MAIN));
        // The login outlives the closed session only because the first is still open.
        assertNotEquals(0, Kavro.ConnectToken(KIND, MAIN));
        assertEquals("user", loggedIn(MAIN, TokenStore.userPin()));
        assertEquals(0, Kavro.Logout(KIND, MAIN));
        assertEquals(0, Kavro.DisconnectToken(KIND, MAIN));
        assertEquals(0, Kavro.DisconnectToken(KIND, MAIN), "nothing left to close");
    }

    @Test
    void theLoginMappingOnTheRealToken() {
        assertNotEquals(0, Kavro.ConnectToken(KIND, MAIN));
        assertEquals(4001, Kavro.Login(KIND, MAIN, WRONG), "CKR_PIN_INCORRECT becomes 4001");
        assertEquals(0, Kavro.Login(KIND, MAIN, TokenStore.userPin()));
        assertEquals(0, Kavro.Login(KIND, MAIN, TokenStore.userPin()), "CKR_USER_ALREADY_LOGGED_IN becomes 0");
        assertEquals(0, Kavro.Logout(KIND, MAIN));
        assertEquals(0, Kavro.DisconnectToken(KIND, MAIN));
    }

    @Test
    void verifySoPinLeavesTheTokenLoggedOutAndCountsWrongAttemptsWithoutLockingIt() {
        assertNotEquals(0, Kavro.ConnectToken(KIND, ADMIN));
        assertEquals(0, Kavro.Login(KIND, ADMIN, TokenStore.userPin()));
        assertEquals(0, Kavro.VerifySoPin(KIND, ADMIN, TokenStore.soPin()));
        assertEquals("nobody", loggedIn(ADMIN, TokenStore.userPin()));
        // The module allows three attempts; a right PIN gives them all back.
        assertEquals(2, Kavro.VerifySoPin(KIND, ADMIN, WRONG));
        assertEquals(1, Kavro.VerifySoPin(KIND, ADMIN, WRONG));
        assertEquals(0, Kavro.VerifySoPin(KIND, ADMIN, TokenStore.soPin()));
        assertEquals(2, Kavro.VerifySoPin(KIND, ADMIN, WRONG));
        assertEquals(0, Kavro.VerifySoPin(KIND, ADMIN, TokenStore.soPin()));
        assertEquals("nobody", loggedIn(ADMIN, TokenStore.userPin()));
        assertEquals(0, Kavro.DisconnectToken(KIND, ADMIN));
    }

    @Test
    void setUserPinChangesThePinAndLeavesTheUserLoggedIn() {
        assertNotEquals(0, Kavro.ConnectToken(KIND, ADMIN));
        byte[] newPin = "24680246".getBytes(StandardCharsets.US_ASCII);
        assertEquals(0, Kavro.SetUserPin(KIND, ADMIN, TokenStore.userPin(), newPin));
        adminUserPin = newPin;
        assertEquals("user", loggedIn(ADMIN, newPin));
        assertEquals(0, Kavro.Logout(KIND, ADMIN));
        assertEquals(4001, Kavro.Login(KIND, ADMIN, TokenStore.userPin()), "the old PIN no longer works");
        assertEquals(4001, Kavro.SetUserPin(KIND, ADMIN, TokenStore.userPin(), newPin));
        assertEquals("nobody", loggedIn(ADMIN, newPin));
        assertEquals(0, Kavro.SetUserPin(KIND, ADMIN, newPin, TokenStore.userPin()));
        adminUserPin = TokenStore.userPin();
        assertEquals(0, Kavro.Logout(KIND, ADMIN));
        assertEquals(0, Kavro.Login(KIND, ADMIN, TokenStore.userPin()));
        assertEquals(0, Kavro.DisconnectToken(KIND, ADMIN));
    }

    @Test
    void theSerialIsTheTokensOwnAndTheFreeSlotsIsBlank() {
        assertEquals(TokenStore.serial("main"), Kavro.RetrieveSerial(KIND, MAIN));
        assertEquals(TokenStore.serial("admin"), Kavro.RetrieveSerial(KIND, ADMIN));
        assertEquals(16, TokenStore.serial("main").length());
        assertEquals(" ".repeat(16), Kavro.RetrieveSerial(KIND, FREE));
    }

    @Test
    void aSlotWithoutASessionAnswersWithTheModulesResultForHandle0() {
        // SoftHSM2 opens no session on a token that is not initialised.
        assertEquals(0, Kavro.ConnectToken(KIND, FREE));
        assertEquals(0, Kavro.DisconnectToken(KIND, FREE));
        assertEquals(0xB3, Kavro.Logout(KIND, FREE), "CKR_SESSION_HANDLE_INVALID");
        assertEquals(4001, Kavro.Login(KIND, FREE, TokenStore.userPin()));
    }

    @Test
    void connectAnswers0ForAnUnknownKindOrSlot() {
        assertEquals(0, Kavro.ConnectToken(5, MAIN));
        assertEquals(0, Kavro.ConnectToken(-1, MAIN));
        assertEquals(0, Kavro.ConnectToken(KIND, MAIN ^ 0x5A5A));
    }
}
