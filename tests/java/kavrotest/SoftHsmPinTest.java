package kavrotest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;

import Brelmont.Kavro;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/**
 * SetSoPin and UnlockUserPin on the SoftHSM2 token KavroAdmin, with PIN
 * transport texts made by javax.crypto under the token's serial: the token
 * must accept the decrypted PINs afterwards. Every PIN changed is put back,
 * and no test makes more than two wrong security-officer attempts in a row
 * (the module locks the SO PIN after three).
 */
class SoftHsmPinTest {
    static final int KIND = TokenStore.KIND;
    static final int ADMIN = TokenStore.slot("admin");
    static final String SERIAL = TokenStore.serial("admin");
    static final byte[] SO_PIN = TokenStore.soPin();
    static final byte[] USER_PIN = TokenStore.userPin();

    /** KavroAdmin's PINs as they stand. */
    static byte[] soPin = SO_PIN;
    static byte[] userPin = USER_PIN;

    static byte[] bytes(String text) {
        return text.getBytes(StandardCharsets.US_ASCII);
    }

    static byte[] text(byte[] pin) {
        return PinTransport.text(pin, SERIAL);
    }

    @BeforeAll
    static void discover() {
        assertEquals(0, Kavro.GetSlotList(KIND, null, null));
    }

    @BeforeEach
    void connect() {
        assertNotEquals(0, Kavro.ConnectToken(KIND, ADMIN));
    }

    @AfterEach
    void putThePinsBack() {
        if (!Arrays.equals(soPin, SO_PIN)) {
            assertEquals(0, Kavro.SetSoPin(KIND, ADMIN, text(soPin), text(SO_PIN)));
            soPin = SO_PIN;
        }
        if (!Arrays.equals(userPin, USER_PIN)) {
            assertEquals(0, Kavro.UnlockUserPin(KIND, ADMIN, text(SO_PIN), USER_PIN));
            userPin = USER_PIN;
        }
        // A right SO login gives back any attempts used up.
        assertEquals(0, Kavro.VerifySoPin(KIND, ADMIN, SO_PIN));
        assertEquals(0, Kavro.DisconnectToken(KIND, ADMIN));
    }

    /** Changes the SO PIN and checks that the token took it; the old one no longer works. */
    void changeSoPin(byte[] to) {
        assertEquals(0, Kavro.SetSoPin(KIND, ADMIN, text(soPin), text(to)));
        byte[] was = soPin;
        soPin = to;
        assertEquals(2, Kavro.VerifySoPin(KIND, ADMIN, was));
        assertEquals(0, Kavro.VerifySoPin(KIND, ADMIN, to));
    }

    @Test
    void theTransportKeyIsTheSerialTheTokenGives() {
        assertEquals(SERIAL, Kavro.RetrieveSerial(KIND, ADMIN));
    }

    @Test
    void setSoPinDecryptsBothPinsAndLeavesTheTokenLoggedOut() {
        assertEquals(0, Kavro.Login(KIND, ADMIN, USER_PIN));
        assertEquals(0, Kavro.SetSoPin(KIND, ADMIN, text(SO_PIN), text(bytes("11223344"))));
        soPin = bytes("11223344");
        assertEquals("nobody", LoginProbe.loggedIn(KIND, ADMIN, USER_PIN));
        assertEquals(0, Kavro.VerifySoPin(KIND, ADMIN, bytes("11223344")), "the token took the new PIN");
        changeSoPin(SO_PIN);
    }

    @Test
    void pinsOfSixteenAndTwentyBytesSurviveTheTransport() {
        changeSoPin(bytes("0123456789abcdef"));
        changeSoPin(bytes("0123456789abcdefghij"));
        changeSoPin(SO_PIN);
    }

    @Test
    void aWrongSoPinGivesTheAttemptsLeftAndChangesNothing() {
        assertEquals(2, Kavro.SetSoPin(KIND, ADMIN, text(bytes("99999999")), text(bytes("11223344"))));
        assertEquals(1, Kavro.UnlockUserPin(KIND, ADMIN, text(bytes("99999999")), bytes("11223344")));
        assertEquals(0, Kavro.VerifySoPin(KIND, ADMIN, SO_PIN));
        assertEquals(0, Kavro.Login(KIND, ADMIN, USER_PIN));
        assertEquals(0, Kavro.Logout(KIND, ADMIN));
    }

    @Test
    void aTextMadeUnderAnotherTokensSerialDecryptsToAWrongPin() {
        byte[] underMain = PinTransport.text(SO_PIN, TokenStore.serial("main"));
        assertEquals(2, Kavro.SetSoPin(KIND, ADMIN, underMain, text(bytes("11223344"))));
        assertEquals(0, Kavro.VerifySoPin(KIND, ADMIN, SO_PIN));
    }

    @Test
    void unlockUserPinGivesTheUserANewPinOnTheSoAuthority() {
        byte[] newPin = bytes("13579135");
        assertEquals(0, Kavro.Login(KIND, ADMIN, USER_PIN));
        assertEquals(0, Kavro.UnlockUserPin(KIND, ADMIN, text(SO_PIN), newPin));
        userPin = newPin;
        assertEquals("nobody", LoginProbe.loggedIn(KIND, ADMIN, newPin));
        assertEquals(4001, Kavro.Login(KIND, ADMIN, USER_PIN), "the old PIN is gone");
        assertEquals(0, Kavro.Login(KIND, ADMIN, newPin));
        assertEquals(0, Kavro.Logout(KIND, ADMIN));
        assertEquals(0, Kavro.UnlockUserPin(KIND, ADMIN, text(SO_PIN), USER_PIN));
        userPin = USER_PIN;
        assertEquals(0, Kavro.Login(KIND, ADMIN, USER_PIN));
        assertEquals(0, Kavro.Logout(KIND, ADMIN));
    }
}
