package kavrotest;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;

import Brelmont.Kavro;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.Base64;
import java.util.List;
import java.util.stream.Collectors;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Nested;
import org.junit.jupiter.api.Test;

/**
 * PIN administration against the mock module: the PKCS #11 sequences, what
 * each operation leaves behind, and the PIN transport texts, made here with
 * javax.crypto and java.util.Base64. The slot registry lives as long as the
 * JVM, so every test uses slot ids of its own.
 */
class PinAdminTest {
    static final int KIND = 3;
    static final MockModule MOCK = MockModule.forKind(KIND);
    static final String SO_PIN = "87654321";
    static final String USER_PIN = "1234";

    static byte[] bytes(String text) {
        return text.getBytes(StandardCharsets.ISO_8859_1);
    }

    static String hex(byte[] bytes) {
        StringBuilder text = new StringBuilder();
        for (byte b : bytes) {
            text.append(String.format("%02x", b & 0xFF));
        }
        return text.toString();
    }

    static String hex(String text) {
        return hex(bytes(text));
    }

    /** A slot whose token has a 16-character serial, discovered and connected; the journal starts afresh. */
    static int connected(int slot, String options) {
        MOCK.run("slot " + slot + " serial=" + serial(slot) + " " + options);
        assertEquals(0, Kavro.GetSlotList(KIND, null, null));
        int session = Kavro.ConnectToken(KIND, slot);
        MOCK.clearJournal();
        return session;
    }

    static int connected(int slot) {
        return connected(slot, "");
    }

    static String serial(int slot) {
        return String.format("KAVRO-PIN-%06d", slot);
    }

    static byte[] text(String pin, int slot) {
        return PinTransport.text(pin, serial(slot));
    }

    /** What the mock received in the given field of each call to the function. */
    static List<String> received(String function, String field) {
        return MOCK.calls(function).stream().map(line -> {
            for (String part : line.split(" ")) {
                if (part.startsWith(field + "=")) {
                    return part.substring(field.length() + 1);
                }
            }
            return "?";
        }).collect(Collectors.toList());
    }

    @BeforeEach
    void freshMock() {
        MOCK.reset();
    }

    @Nested
    class Sequences {
        @Test
        void setSoPinLogsInAsSoChangesThePinAndLogsOut() {
            int session = connected(3001);
            byte[] oldText = text(SO_PIN, 3001);
            byte[] newText = text("11223344", 3001);
            byte[] oldCopy = oldText.clone();
            byte[] newCopy = newText.clone();
            assertEquals(0, Kavro.SetSoPin(KIND, 3001, oldText, newText));
            assertEquals(List.of("C_GetTokenInfo slot=3001", "C_Logout session=" + session,
                    "C_Login session=" + session + " user=0 pin=" + hex(SO_PIN),
                    "C_SetPIN session=" + session + " old=" + hex(SO_PIN) + " new=" + hex("11223344"),
                    "C_Logout session=" + session), MOCK.journal());
            assertEquals(hex("11223344"), MOCK.state(3001, "sopin"));
            assertEquals("none", MOCK.state(3001, "login"));
            assertArrayEquals(oldCopy, oldText, "the PIN arrays are given back unchanged");
            assertArrayEquals(newCopy, newText);
        }

        @Test
        void unlockUserPinSetsTheWholeArrayAsTheNewUserPinAndLogsOut() {
            int session = connected(3002, "usertries=0");
            byte[] newUserPin = {'4', '3', '2', '1', 0};
            assertEquals(0, Kavro.UnlockUserPin(KIND, 3002, text(SO_PIN, 3002), newUserPin));
            assertEquals(List.of("C_GetTokenInfo", "C_Logout", "C_Login", "C_InitPIN", "C_Logout"),
                    MOCK.callNames());
            assertEquals(List.of("0"), received("C_Login", "user"));
            assertEquals(List.of(String.valueOf(session)), received("C_InitPIN", "session"));
            assertEquals("3433323100", MOCK.state(3002, "userpin"), "a trailing zero byte is part of the PIN");
            assertEquals("3", MOCK.state(3002, "usertries"), "the locked user PIN is unlocked");
            assertEquals("none", MOCK.state(3002, "login"));
            assertArrayEquals(new byte[] {'4', '3', '2', '1', 0}, newUserPin);
        }

        @Test
        void setUserPinReadsNoSerialAndLeavesTheUserLoggedIn() {
            int session = connected(3003);
            byte[] oldPin = bytes(USER_PIN);
            byte[] newPin = bytes("98765");
            assertEquals(0, Kavro.SetUserPin(KIND, 3003, oldPin, newPin));
            assertEquals(List.of("C_Logout session=" + session,
                    "C_Login session=" + session + " user=1 pin=" + hex(USER_PIN),
                    "C_SetPIN session=" + session + " old=" + hex(USER_PIN) + " new=" + hex("98765")),
                    MOCK.journal());
            assertEquals("user", MOCK.state(3003, "login"));
            assertEquals(hex("98765"), MOCK.state(3003, "userpin"));
            assertEquals(0, Kavro.Login(KIND, 3003, bytes("98765")), "already logged in");
            assertArrayEquals(bytes(USER_PIN), oldPin);
            assertArrayEquals(bytes("98765"), newPin);
        }

        @Test
        void initTokenRunsItsEightStepsAndLeavesTheSlotWithoutASession() {
            int session = connected(3004);
            byte[] userPin = bytes("5678");
            assertEquals(0, Kavro.InitToken(KIND, 3004, text(SO_PIN, 3004), userPin, "fresh label"));
            List<String> journal = MOCK.journal();
            String newSession = received("C_InitPIN", "session").get(0);
            assertEquals(List.of("C_GetTokenInfo slot=3004", "C_CloseAllSessions slot=3004",
                    "C_InitToken slot=3004 pin=" + hex(SO_PIN) + " label=" + hex("fresh label" + " ".repeat(21)),
                    "C_OpenSession slot=3004 flags=6 application=null notify=null",
                    "C_Logout session=" + newSession,
                    "C_Login session=" + newSession + " user=0 pin=" + hex(SO_PIN),
                    "C_InitPIN session=" + newSession + " pin=" + hex("5678"),
                    "C_Logout session=" + newSession,
                    "C_CloseSession session=" + newSession), journal);
            assertNotEquals(String.valueOf(session), newSession, "a session of its own");
            assertEquals("0", MOCK.state(3004, "sessions"));
            assertEquals(hex("5678"), MOCK.state(3004, "userpin"));
            assertEquals(hex("fresh label" + " ".repeat(21)), MOCK.state(3004, "label"));
            MOCK.clearJournal();
            assertEquals(0, Kavro.DisconnectToken(KIND, 3004), "session 0: nothing to close");
            assertEquals(List.of(), MOCK.journal());
            assertArrayEquals(bytes("5678"), userPin);
        }
    }

    @Nested
    class WhatIsLeftBehind {
        @Test
        void aWrongSoPinGivesTheAttemptsLeftAndChangesNothing() {
            connected(3101);
            assertEquals(2, Kavro.SetSoPin(KIND, 3101, text("00000000", 3101), text("11223344", 3101)));
            assertEquals(1, Kavro.UnlockUserPin(KIND, 3101, text("00000000", 3101), bytes("4321")));
            assertEquals(List.of(), MOCK.calls("C_SetPIN"));
            assertEquals(List.of(), MOCK.calls("C_InitPIN"));
            assertEquals(hex(SO_PIN), MOCK.state(3101, "sopin"));
            assertEquals(hex(USER_PIN), MOCK.state(3101, "userpin"));
            assertEquals("none", MOCK.state(3101, "login"));
            assertEquals(164, Kavro.SetSoPin(KIND, 3101, text("00000000", 3101), text("11223344", 3101)),
                    "the last attempt locks the PIN");
        }

        @Test
        void aFailingSetPinOrInitPinIsReturnedAndTheTokenLoggedOut() {
            connected(3102);
            MOCK.run("fail C_SetPIN 0xA2; fail C_InitPIN 0xA2");
            assertEquals(0xA2, Kavro.SetSoPin(KIND, 3102, text(SO_PIN, 3102), text("1", 3102)));
            assertEquals("none", MOCK.state(3102, "login"));
            assertEquals(0xA2, Kavro.UnlockUserPin(KIND, 3102, text(SO_PIN, 3102), bytes("1")));
            assertEquals("none", MOCK.state(3102, "login"));
            assertEquals(List.of("C_GetTokenInfo", "C_Logout", "C_Login", "C_SetPIN", "C_Logout",
                    "C_GetTokenInfo", "C_Logout", "C_Login", "C_InitPIN", "C_Logout"), MOCK.callNames());
        }

        @Test
        void setUserPinWithAWrongOldPinGives4001AndLeavesTheTokenLoggedOut() {
            connected(3103);
            assertEquals(0, Kavro.Login(KIND, 3103, bytes(USER_PIN)));
            assertEquals(4001, Kavro.SetUserPin(KIND, 3103, bytes("0000"), bytes("9999")));
            assertEquals(List.of(), MOCK.calls("C_SetPIN"));
            assertEquals("none", MOCK.state(3103, "login"));
        }

        @Test
        void aFailingSetPinOfTheUserLeavesTheUserLoggedIn() {
            connected(3104);
            MOCK.run("fail C_SetPIN 0xA2");
            assertEquals(0xA2, Kavro.SetUserPin(KIND, 3104, bytes(USER_PIN), bytes("1")));
            assertEquals("user", MOCK.state(3104, "login"));
            assertEquals(hex(USER_PIN), MOCK.state(3104, "userpin"));
        }

        @Test
        void initTokenWithAWrongSoPinReturnsTheModulesOwnResult() {
            int session = connected(3105);
            assertEquals(0xA0, Kavro.InitToken(KIND, 3105, text("00000000", 3105), bytes("5678"), "x"),
                    "CKR_PIN_INCORRECT from C_InitToken, not an attempts count");
            assertEquals(List.of("C_GetTokenInfo", "C_CloseAllSessions", "C_InitToken"), MOCK.callNames());
            assertEquals("0", MOCK.state(3105, "sessions"));
            MOCK.clearJournal();
            // All sessions were closed, but the slot still holds its handle.
            assertEquals(0xB3, Kavro.DisconnectToken(KIND, 3105));
            assertEquals(List.of("C_CloseSession session=" + session), MOCK.journal());
        }

        @Test
        void initTokenWhoseLoginIsRefusedLeavesANewSessionOpenAndLoggedOut() {
            connected(3106);
            MOCK.run("fail C_Login 0xA0; set pinstatus.sotries 2");
            assertEquals(2, Kavro.InitToken(KIND, 3106, text(SO_PIN, 3106), bytes("5678"), "x"));
            assertEquals(List.of(), MOCK.calls("C_InitPIN"));
            assertEquals("1", MOCK.state(3106, "sessions"));
            assertEquals("none", MOCK.state(3106, "login"));
            String opened = MOCK.state(3106, "handles");
            MOCK.clearJournal();
            assertEquals(0, Kavro.DisconnectToken(KIND, 3106));
            assertEquals(List.of("C_CloseSession session=" + opened), MOCK.journal());
        }

        @Test
        void initTokenWhoseInitPinFailsLeavesNoSession() {
            connected(3107);
            MOCK.run("fail C_InitPIN 0xA2");
            assertEquals(0xA2, Kavro.InitToken(KIND, 3107, text(SO_PIN, 3107), bytes(""), "x"));
            assertEquals("0", MOCK.state(3107, "sessions"));
            assertEquals(List.of("C_InitPIN", "C_Logout", "C_CloseSession"),
                    MOCK.callNames().subList(6, 9));
        }
    }

    @Nested
    class TransportTexts {
        /** The SO PIN that reached C_Login, as hex, after a SetSoPin with the given old SO PIN text. */
        String soPinReceived(int slot, byte[] oldText) {
            Kavro.SetSoPin(KIND, slot, oldText, text("11223344", slot));
            List<String> pins = received("C_Login", "pin");
            MOCK.clearJournal();
            return pins.isEmpty() ? null : pins.get(pins.size() - 1);
        }

        @Test
        void theSerialsTrailingBlanksArePartOfTheKey() {
            MOCK.run("slot 3201 serial=SHORT123");  // eight characters and eight blanks
            assertEquals(0, Kavro.GetSlotList(KIND, null, null));
            Kavro.ConnectToken(KIND, 3201);
            String serial = Kavro.RetrieveSerial(KIND, 3201);
            assertEquals("SHORT123        ", serial);
            byte[] withoutBlanks = Arrays.copyOf(bytes("SHORT123"), 16);
            MOCK.clearJournal();
            assertEquals(2, Kavro.UnlockUserPin(KIND, 3201, PinTransport.text(bytes(SO_PIN), withoutBlanks),
                    bytes("4321")), "blanks left out of the key: a wrong PIN");
            assertEquals(0, Kavro.UnlockUserPin(KIND, 3201, PinTransport.text(SO_PIN, serial), bytes("4321")));
            List<String> pins = received("C_Login", "pin");
            assertEquals(2, pins.size());
            assertNotEquals(hex(SO_PIN), pins.get(0));
            assertEquals(hex(SO_PIN), pins.get(1));
        }

        @Test
        void pinsOfSixteenAndTwentyBytesArriveWhole() {
            connected(3202);
            String sixteen = "0123456789abcdef";
            String twenty = "0123456789abcdefghij";
            assertEquals(0, Kavro.SetSoPin(KIND, 3202, text(SO_PIN, 3202), text(sixteen, 3202)));
            assertEquals(hex(sixteen), MOCK.state(3202, "sopin"));
            assertEquals(0, Kavro.SetSoPin(KIND, 3202, text(sixteen, 3202), text(twenty, 3202)));
            assertEquals(hex(twenty), MOCK.state(3202, "sopin"));
            assertEquals(List.of(hex(SO_PIN), hex(sixteen)), received("C_Login", "pin"));
        }

        @Test
        void aTextNeedsNoZeroTerminatorAndNothingAfterTheZeroIsRead() {
            connected(3203);
            byte[] unterminated = PinTransport.unterminated(bytes(SO_PIN), PinTransport.key(serial(3203)));
            assertEquals(hex(SO_PIN), soPinReceived(3203, unterminated));
            // Forty bytes: three blocks, 64 Base64 characters without "=";
            // "QUJD" after the zero would add three bytes if it were read.
            String forty = "0123456789012345678901234567890123456789";
            connected(3204, "sopin=" + forty);
            byte[] text = PinTransport.text(bytes(forty), PinTransport.key(serial(3204)));
            byte[] followed = Arrays.copyOf(text, text.length + 4);
            System.arraycopy(bytes("QUJD"), 0, followed, text.length, 4);
            assertEquals(hex(forty), soPinReceived(3204, followed));
        }

        @Test
        void anEmptyOrTooShortTextIsAnEmptyPinThatGoesToTheLogin() {
            connected(3205, "sotries=10");
            assertEquals("", soPinReceived(3205, new byte[] {0}));
            assertEquals("", soPinReceived(3205, new byte[0]));
            assertEquals("", soPinReceived(3205, PinTransport.raw("QUJ")));
            assertEquals(hex(SO_PIN), MOCK.state(3205, "sopin"));
        }

        @Test
        void aTextThatIsNotWholeBlocksGives1003AndNothingIsLoggedIn() {
            connected(3206);
            byte[] twentyFour = Base64.getEncoder().encode(new byte[24]);
            assertEquals(1003, Kavro.SetSoPin(KIND, 3206, PinTransport.raw(new String(twentyFour,
                    StandardCharsets.ISO_8859_1)), text("11223344", 3206)));
            assertEquals(List.of("C_GetTokenInfo"), MOCK.callNames());
        }

        @Test
        void aTextEndingInsideAGroupGivesMinus1() {
            connected(3207);
            assertEquals(-1, Kavro.UnlockUserPin(KIND, 3207, PinTransport.raw("QUJDQU\n\n"), bytes("1")));
            assertEquals(-1, Kavro.InitToken(KIND, 3207, PinTransport.raw("QUJDQU\r\n\r\n"), bytes("1"), "x"));
            assertEquals(List.of("C_GetTokenInfo", "C_GetTokenInfo"), MOCK.callNames());
        }

        @Test
        void aValidOldAndAnUndecodableNewSoPinNeverLogIn() {
            connected(3208);
            assertEquals(-1, Kavro.SetSoPin(KIND, 3208, text(SO_PIN, 3208), PinTransport.raw("QUJDQU\n\n")));
            byte[] fiveBytes = Base64.getEncoder().encode(new byte[5]);
            assertEquals(1003, Kavro.SetSoPin(KIND, 3208, text(SO_PIN, 3208),
                    PinTransport.raw(new String(fiveBytes, StandardCharsets.ISO_8859_1))));
            assertEquals(List.of("C_GetTokenInfo", "C_GetTokenInfo"), MOCK.callNames());
        }

        @Test
        void aPinLongerThan200BytesOrADecodingLongerThan2048AreRefused() {
            connected(3209);
            byte[] key = PinTransport.key(serial(3209));
            byte[] longest = new byte[200];
            Arrays.fill(longest, (byte) 'p');
            assertEquals(hex(longest), soPinReceived(3209, PinTransport.text(longest, key)));
            byte[] tooLong = new byte[201];
            Arrays.fill(tooLong, (byte) 'p');
            assertEquals(1003, Kavro.SetSoPin(KIND, 3209, PinTransport.text(tooLong, key), text("1", 3209)));
            byte[] tooBig = Base64.getEncoder().encode(new byte[2064]);
            assertEquals(1003, Kavro.SetSoPin(KIND, 3209, PinTransport.raw(new String(tooBig,
                    StandardCharsets.ISO_8859_1)), text("1", 3209)));
            assertEquals(List.of(), MOCK.calls("C_Login"));
            // The largest decoding that fits: the SO PIN followed by zero bytes up to 2048.
            byte[] biggest = Base64.getEncoder().encode(PinTransport.ciphertext(Arrays.copyOf(bytes(SO_PIN), 2048), key));
            assertEquals(2732, biggest.length);
            assertEquals(hex(SO_PIN), soPinReceived(3209, PinTransport.raw(new String(biggest,
                    StandardCharsets.ISO_8859_1))));
            assertEquals(hex("11223344"), MOCK.state(3209, "sopin"));
        }
    }

    @Nested
    class Serial {
        @Test
        void aSerialShorterThan16CharactersGives1004AndLeavesThePinsAlone() {
            MOCK.run("slot 3301 serial=hex:4142434400454647484950515253545556");
            assertEquals(0, Kavro.GetSlotList(KIND, null, null));
            Kavro.ConnectToken(KIND, 3301);
            MOCK.clearJournal();
            byte[] key = PinTransport.key("ABCD\0EFGHIPQRSTU");
            assertEquals(1004, Kavro.SetSoPin(KIND, 3301, PinTransport.text(bytes(SO_PIN), key),
                    PinTransport.text(bytes("11223344"), key)));
            assertEquals(1004, Kavro.UnlockUserPin(KIND, 3301, PinTransport.text(bytes(SO_PIN), key), bytes("1")));
            assertEquals(1004, Kavro.InitToken(KIND, 3301, PinTransport.text(bytes(SO_PIN), key), bytes("1"), "x"));
            assertEquals(List.of("C_GetTokenInfo", "C_GetTokenInfo", "C_GetTokenInfo"), MOCK.callNames());
            assertEquals(hex(SO_PIN), MOCK.state(3301, "sopin"));
            assertEquals(hex(USER_PIN), MOCK.state(3301, "userpin"));
            assertEquals(0, Kavro.SetUserPin(KIND, 3301, bytes(USER_PIN), bytes("4321")), "needs no serial");
            assertEquals(hex("4321"), MOCK.state(3301, "userpin"));
        }

        @Test
        void anUnreadableSerialGives1004() {
            connected(3302);
            MOCK.run("fail C_GetTokenInfo 0x30 times=3");
            assertEquals(1004, Kavro.SetSoPin(KIND, 3302, text(SO_PIN, 3302), text("1", 3302)));
            assertEquals(1004, Kavro.UnlockUserPin(KIND, 3302, text(SO_PIN, 3302), bytes("1")));
            assertEquals(1004, Kavro.InitToken(KIND, 3302, text(SO_PIN, 3302), bytes("1"), "x"));
            assertEquals(List.of("C_GetTokenInfo", "C_GetTokenInfo", "C_GetTokenInfo"), MOCK.callNames());
        }
    }

    @Nested
    class Label {
        String labelReceived(int slot, String label) {
            MOCK.clearJournal();
            assertEquals(0, Kavro.InitToken(KIND, slot, text(SO_PIN, slot), bytes("1"), label));
            return received("C_InitToken", "label").get(0);
        }

        @Test
        void theLabelGoesToTheModuleAs32OctetsBlankPadded() {
            connected(3401);
            assertEquals(hex(" ".repeat(32)), labelReceived(3401, ""));
            assertEquals(hex("A".repeat(32)), labelReceived(3401, "A".repeat(32)));
            // Modified UTF-8 octets count, not characters.
            assertEquals(hex("\u00c3\u00a9".repeat(15) + "  "), labelReceived(3401, "\u00e9".repeat(15)));
            assertEquals("c080" + hex(" ".repeat(30)), labelReceived(3401, "\u0000"));
        }

        @Test
        void aMissingOrLongerLabelGives1003BeforeTheTokenIsAsked() {
            connected(3402);
            assertEquals(1003, Kavro.InitToken(KIND, 3402, text(SO_PIN, 3402), bytes("1"), null));
            assertEquals(1003, Kavro.InitToken(KIND, 3402, text(SO_PIN, 3402), bytes("1"), "A".repeat(33)));
            assertEquals(1003, Kavro.InitToken(KIND, 3402, text(SO_PIN, 3402), bytes("1"), "\u00e9".repeat(17)));
            assertEquals(List.of(), MOCK.journal());
        }
    }

    @Nested
    class Preamble {
        @Test
        void theModuleComesFirstThenTheSlotThenTheArgumentsThenTheSerial() {
            connected(3501);
            MOCK.run("fail C_GetTokenInfo 0x30 always");
            byte[] t = text(SO_PIN, 3501);
            byte[] p = bytes("1");
            for (int kind : new int[] {5, -1, 100}) {
                assertEquals(1001, Kavro.SetSoPin(kind, 3599, null, null));
                assertEquals(1001, Kavro.UnlockUserPin(kind, 3599, null, null));
                assertEquals(1001, Kavro.SetUserPin(kind, 3599, null, null));
                assertEquals(1001, Kavro.InitToken(kind, 3599, null, null, null));
            }
            assertEquals(1002, Kavro.SetSoPin(KIND, 3599, null, null));
            assertEquals(1002, Kavro.UnlockUserPin(KIND, 3599, null, null));
            assertEquals(1002, Kavro.SetUserPin(KIND, 3599, null, null));
            assertEquals(1002, Kavro.InitToken(KIND, 3599, null, null, null));
            assertEquals(1003, Kavro.SetSoPin(KIND, 3501, null, t));
            assertEquals(1003, Kavro.SetSoPin(KIND, 3501, t, null));
            assertEquals(1003, Kavro.UnlockUserPin(KIND, 3501, null, p));
            assertEquals(1003, Kavro.UnlockUserPin(KIND, 3501, t, null));
            assertEquals(1003, Kavro.SetUserPin(KIND, 3501, null, p));
            assertEquals(1003, Kavro.SetUserPin(KIND, 3501, p, null));
            assertEquals(1003, Kavro.InitToken(KIND, 3501, null, p, "x"));
            assertEquals(1003, Kavro.InitToken(KIND, 3501, t, null, "x"));
            assertEquals(1003, Kavro.InitToken(KIND, 3501, t, p, null));
            assertEquals(List.of(), MOCK.journal(), "nothing reaches the module, not even C_GetTokenInfo");
            assertEquals(1004, Kavro.SetSoPin(KIND, 3501, t, t));
        }
    }
}
