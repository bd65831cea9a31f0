package kavrotest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import Brelmont.Kavro;
import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.stream.IntStream;
import org.junit.jupiter.api.BeforeAll;
import org.junit.jupiter.api.MethodOrderer;
import org.junit.jupiter.api.Order;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestMethodOrder;

/**
 * InitToken on SoftHSM2's free slot, with SO PIN transport texts made by
 * javax.crypto.
 *
 * Initialising the free token changes slot ids: in the process that does
 * it, the token keeps the free slot's id, its serial turns from 16 blanks
 * into a generated one, and the next size query of C_GetSlotList adds a new
 * free slot; every later process finds the token under an id derived from
 * its new serial and the free slot under another id. So this class works on
 * a private copy of the run's token store (SOFTHSM2_CONF points into its
 * work folder), and the other classes keep the ids in tokens.properties.
 * The tests build on each other and run in order.
 */
@TestMethodOrder(MethodOrderer.OrderAnnotation.class)
class SoftHsmInitTokenTest {
    static final int KIND = TokenStore.KIND;
    static final int FREE = TokenStore.slot("free");
    static final String BLANK_SERIAL = " ".repeat(16);
    static final byte[] SO_PIN = bytes("13572468");
    static final byte[] USER_PIN = bytes("11112222");

    /** The free slot that discovery adds once the first free token is initialised. */
    static int nextFree;

    static byte[] bytes(String text) {
        return text.getBytes(StandardCharsets.US_ASCII);
    }

    @BeforeAll
    static void copyTheTokenStore() throws IOException {
        TokenStore.privateCopy();
        assertEquals(0, Kavro.GetSlotList(KIND, null, null));
    }

    static int[] slotsWithAToken() {
        int[] ids = new int[16];
        int[] count = {0};
        assertEquals(0, Kavro.GetSlotList(KIND, ids, count));
        return Arrays.copyOf(ids, count[0]);
    }

    @Test
    @Order(1)
    void theFreeSlotHoldsATokenWithABlankSerialThatTakesNoSession() {
        assertEquals(3, slotsWithAToken().length);
        assertEquals(BLANK_SERIAL, Kavro.RetrieveSerial(KIND, FREE));
        assertEquals(0, Kavro.ConnectToken(KIND, FREE), "SoftHSM2: CKR_TOKEN_NOT_RECOGNIZED");
    }

    @Test
    @Order(2)
    void initTokenDecryptsTheSoPinUnderTheBlankSerialAndTheTokenAcceptsBothPins() {
        byte[] userPin = USER_PIN.clone();
        assertEquals(0, Kavro.InitToken(KIND, FREE, PinTransport.text(SO_PIN, BLANK_SERIAL), userPin, "KavroFresh"));
        assertEquals(0, Kavro.DisconnectToken(KIND, FREE), "no session left");
        assertEquals(0xB3, Kavro.Logout(KIND, FREE), "handle 0: CKR_SESSION_HANDLE_INVALID");
        String serial = Kavro.RetrieveSerial(KIND, FREE);
        assertTrue(serial.matches("[0-9a-f]{16}"), "a generated serial under the same slot id: " + serial);
        assertNotEquals(0, Kavro.ConnectToken(KIND, FREE));
        assertEquals(0, Kavro.Login(KIND, FREE, USER_PIN));
        assertEquals(0, Kavro.VerifySoPin(KIND, FREE, SO_PIN));
        assertEquals(2, Kavro.VerifySoPin(KIND, FREE, USER_PIN));
        assertEquals(0, Kavro.VerifySoPin(KIND, FREE, SO_PIN));
        assertEquals(0, Kavro.DisconnectToken(KIND, FREE));
        assertTrue(Arrays.equals(USER_PIN, userPin));
    }

    @Test
    @Order(3)
    void theInitialisedTokenKeepsItsSlotIdAndDiscoveryFindsANewFreeSlot() {
        int[] slots = slotsWithAToken();
        assertEquals(4, slots.length);
        assertTrue(IntStream.of(slots).anyMatch(id -> id == FREE));
        int[] blank = IntStream.of(slots).filter(id -> Kavro.RetrieveSerial(KIND, id).equals(BLANK_SERIAL)).toArray();
        assertEquals(1, blank.length);
        nextFree = blank[0];
        assertNotEquals(FREE, nextFree);
    }

    @Test
    @Order(4)
    void reinitialisingWithAWrongSoPinReturnsCInitTokensOwnResult() {
        String serial = Kavro.RetrieveSerial(KIND, FREE);
        int session = Kavro.ConnectToken(KIND, FREE);
        assertNotEquals(0, session);
        assertEquals(0xA0, Kavro.InitToken(KIND, FREE, PinTransport.text(bytes("99999999"), serial), USER_PIN, "x"),
                "CKR_PIN_INCORRECT, not an attempts count");
        // The session was closed with all others, but the slot still holds its handle.
        assertEquals(0xB3, Kavro.DisconnectToken(KIND, FREE));
        assertEquals(0xA0, Kavro.InitToken(KIND, FREE, PinTransport.text(SO_PIN, BLANK_SERIAL), USER_PIN, "x"),
                "a text made under the serial the token had before decrypts to a wrong PIN");
        byte[] newUserPin = bytes("55556666");
        assertEquals(0, Kavro.InitToken(KIND, FREE, PinTransport.text(SO_PIN, serial), newUserPin, "KavroAgain"));
        assertNotEquals(0, Kavro.ConnectToken(KIND, FREE));
        assertEquals(4001, Kavro.Login(KIND, FREE, USER_PIN));
        assertEquals(0, Kavro.Login(KIND, FREE, newUserPin));
        assertEquals(0, Kavro.Logout(KIND, FREE));
        assertEquals(0, Kavro.DisconnectToken(KIND, FREE));
    }

    @Test
    @Order(5)
    void anEmptyUserPinReachesTheModuleWhichRefusesItAfterInitialisingTheToken() {
        assertEquals(0xA2, Kavro.InitToken(KIND, nextFree, PinTransport.text(SO_PIN, BLANK_SERIAL), new byte[0],
                "KavroEmpty"), "CKR_PIN_LEN_RANGE from C_InitPIN");
        assertEquals(0xB3, Kavro.Logout(KIND, nextFree), "no session left");
        assertTrue(Kavro.RetrieveSerial(KIND, nextFree).matches("[0-9a-f]{16}"), "initialised all the same");
    }
}
