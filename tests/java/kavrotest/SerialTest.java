package kavrotest;

import static org.junit.jupiter.api.Assertions.assertEquals;

import Brelmont.Kavro;
import java.nio.charset.StandardCharsets;
import java.util.List;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/**
 * RetrieveSerial against the mock module: the 16 serial bytes as the token
 * gives them, each byte one character (ISO-8859-1), up to a zero byte; the
 * result codes as text.
 */
class SerialTest {
    static final int KIND = 2;
    static final MockModule MOCK = MockModule.forKind(KIND);

    static void discover(String slots) {
        MOCK.run(slots);
        assertEquals(0, Kavro.GetSlotList(KIND, null, null));
        MOCK.clearJournal();
    }

    @BeforeEach
    void freshMock() {
        MOCK.reset();
    }

    @Test
    void theSerialKeepsItsBlankPaddingAndNeedsNoSession() {
        discover("slot 2001 serial=ABCD1234; slot 2002 serial=0123456789ABCDEF");
        assertEquals("ABCD1234        ", Kavro.RetrieveSerial(KIND, 2001));
        assertEquals("0123456789ABCDEF", Kavro.RetrieveSerial(KIND, 2002));
        assertEquals(List.of("C_GetTokenInfo slot=2001", "C_GetTokenInfo slot=2002"), MOCK.journal());
    }

    @Test
    void aZeroByteEndsTheSerial() {
        discover("slot 2011 serial=hex:41424300444546474849505152535455;"
                + " slot 2012 serial=hex:00414243444546474849505152535455;"
                + " slot 2013 serial=hex:414243444546474849505152535455");  // 15 bytes, blank-filled
        assertEquals("ABC", Kavro.RetrieveSerial(KIND, 2011));
        assertEquals("", Kavro.RetrieveSerial(KIND, 2012));
        assertEquals("ABCDEFGHIPQRSTU ", Kavro.RetrieveSerial(KIND, 2013));
    }

    @Test
    void octetsThatAreNotModifiedUtf8BecomeTheirIso88591Characters() {
        // Overlong zero, a lone continuation byte, 0xFF, an encoded surrogate,
        // a four-byte sequence, Latin-1 letters: none may reach the JVM as UTF-8.
        String hex = "C080FFEDA080F09F9880E9C3A941FE7F";
        discover("slot 2021 serial=hex:" + hex);
        byte[] octets = new byte[16];
        for (int i = 0; i < 16; i++) {
            octets[i] = (byte) Integer.parseInt(hex.substring(2 * i, 2 * i + 2), 16);
        }
        String serial = Kavro.RetrieveSerial(KIND, 2021);
        assertEquals(new String(octets, StandardCharsets.ISO_8859_1), serial);
        assertEquals(16, serial.length());
        assertEquals('\u00C0', serial.charAt(0));
        assertEquals('\u00E9', serial.charAt(10));
    }

    @Test
    void aFailingTokenInfoGivesTheText1004AndTheSlotStaysRegistered() {
        discover("slot 2031 serial=SERIAL2031");
        MOCK.run("fail C_GetTokenInfo 0x30");
        assertEquals("1004", Kavro.RetrieveSerial(KIND, 2031));
        assertEquals(0, Kavro.DisconnectToken(KIND, 2031), "still registered");
        assertEquals("SERIAL2031      ", Kavro.RetrieveSerial(KIND, 2031), "read afresh, not kept from before");
    }

    @Test
    void aPulledTokenGives1004UntilItIsBack() {
        discover("slot 2041 serial=SERIAL2041");
        MOCK.run("token 2041 present=0");
        assertEquals("1004", Kavro.RetrieveSerial(KIND, 2041));
        MOCK.run("token 2041 present=1");
        assertEquals("SERIAL2041      ", Kavro.RetrieveSerial(KIND, 2041));
    }

    @Test
    void anUnknownKindGivesTheText1001AndAnUnregisteredSlot1002() {
        discover("slot 2051");
        MOCK.run("slot 2052");  // on the module, but no discovery has seen it
        for (int kind : new int[] {5, -1, 100}) {
            assertEquals("1001", Kavro.RetrieveSerial(kind, 2051), "kind " + kind);
            assertEquals("1001", Kavro.RetrieveSerial(kind, 2059), "kind " + kind + ", unknown slot too");
        }
        assertEquals("1002", Kavro.RetrieveSerial(KIND, 2052));
        assertEquals(List.of(), MOCK.journal());
    }
}
