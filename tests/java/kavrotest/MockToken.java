package kavrotest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import Brelmont.Kavro;
import java.util.List;

/**
 * One connected token on a freshly reset mock: a slot of its own (the slot
 * registry outlives the test), registered by GetSlotList, with a session
 * opened by ConnectToken. Objects are added through the mock; the module
 * returns them in handle order.
 */
final class MockToken {
    private static int nextSlot = 7000;

    final MockModule mock;
    final int kind;
    final int slot;

    private MockToken(MockModule mock, int kind, int slot) {
        this.mock = mock;
        this.kind = kind;
        this.slot = slot;
    }

    /** Resets the kind's mock and connects a new slot; the journal starts empty. */
    static MockToken connect(int kind) {
        MockModule mock = MockModule.forKind(kind).reset();
        int slot = nextSlot++;
        mock.run("slot " + slot);
        assertEquals(0, Kavro.GetSlotList(kind, null, null));
        assertNotEquals(0, Kavro.ConnectToken(kind, slot));
        mock.clearJournal();
        return new MockToken(mock, kind, slot);
    }

    /** A certificate with the given CKA_ID and CKA_SERIAL_NUMBER value (hex), plus options. */
    int certificate(String idHex, String serialNumberHex, String... options) {
        return mock.addObject("" + slot + " class=cert id=hex:" + idHex + " serial=hex:" + serialNumberHex + " "
                + String.join(" ", options));
    }

    int privateKey(String idHex, String... options) {
        return mock.addObject(slot + " class=private id=hex:" + idHex + " " + String.join(" ", options));
    }

    int publicKey(String idHex, String... options) {
        return mock.addObject(slot + " class=public id=hex:" + idHex + " " + String.join(" ", options));
    }

    /** The serial number attribute of a certificate whose serial content is the given hex. */
    static String derInteger(String contentHex) {
        return String.format("02%02x", contentHex.length() / 2) + contentHex;
    }

    /** Every object search in the journal was ended before the next began, and none is left open. */
    void assertSearchesClosed() {
        List<String> names = mock.callNames();
        boolean open = false;
        int searches = 0;
        for (String name : names) {
            if (name.equals("C_FindObjectsInit")) {
                assertTrue(!open, "a search began while another was open: " + names);
                open = true;
                searches++;
            } else if (name.equals("C_FindObjectsFinal")) {
                assertTrue(open, "C_FindObjectsFinal without a search: " + names);
                open = false;
            }
        }
        assertTrue(!open, "a search was left open: " + names);
        assertTrue(searches > 0, "no search was made: " + names);
    }

    static byte[] hex(String text) {
        byte[] bytes = new byte[text.length() / 2];
        for (int i = 0; i < bytes.length; i++) {
            bytes[i] = (byte) Integer.parseInt(text.substring(2 * i, 2 * i + 2), 16);
        }
        return bytes;
    }

    static String hex(byte[] bytes, int length) {
        StringBuilder text = new StringBuilder();
        for (int i = 0; i < length; i++) {
            text.append(String.format("%02x", bytes[i] & 0xFF));
        }
        return text.toString();
    }
}
