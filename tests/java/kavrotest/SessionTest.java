package kavrotest;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import Brelmont.Kavro;
import java.nio.charset.StandardCharsets;
import java.util.List;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Nested;
import org.junit.jupiter.api.Test;

/**
 * Sessions, login and logout against the mock module: which calls are made,
 * with which handle, and how C_Login results become result codes. The slot
 * registry lives as long as the JVM, so every test uses slot ids of its own.
 */
class SessionTest {
    static final int KIND = 1;
    static final MockModule MOCK = MockModule.forKind(KIND);
    static final byte[] USER_PIN = bytes("1234");
    static final byte[] SO_PIN = bytes("87654321");

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

    /** Scripts the slots, registers them with a discovery and starts a fresh journal. */
    static void discover(String slots) {
        MOCK.run(slots);
        assertEquals(0, Kavro.GetSlotList(KIND, null, null));
        MOCK.clearJournal();
    }

    @BeforeEach
    void freshMock() {
        MOCK.reset();
    }

    @Nested
    class Sessions {
        @Test
        void connectOpensAReadWriteSerialSessionAndReturnsItsHandle() {
            discover("slot 1001");
            int session = Kavro.ConnectToken(KIND, 1001);
            assertNotEquals(0, session);
            assertEquals(List.of("C_OpenSession slot=1001 flags=6 application=null notify=null"), MOCK.journal());
            assertEquals(String.valueOf(session), MOCK.state(1001, "handles"));
        }

        @Test
        void twoConnectsLeaveBothSessionsOpenAndOneDisconnectClosesOnlyTheSecond() {
            discover("slot 1002");
            int first = Kavro.ConnectToken(KIND, 1002);
            int second = Kavro.ConnectToken(KIND, 1002);
            assertNotEquals(first, second);
            assertEquals("2", MOCK.state(1002, "sessions"));
            MOCK.clearJournal();
            assertEquals(0, Kavro.DisconnectToken(KIND, 1002));
            assertEquals(List.of("C_CloseSession session=" + second), MOCK.journal());
            assertEquals(String.valueOf(first), MOCK.state(1002, "handles"));
        }

        @Test
        void aSecondDisconnectHasNothingToCloseAndCallsNothing() {
            discover("slot 1003");
            Kavro.ConnectToken(KIND, 1003);
            assertEquals(0, Kavro.DisconnectToken(KIND, 1003));
            MOCK.clearJournal();
            assertEquals(0, Kavro.DisconnectToken(KIND, 1003));
            assertEquals(List.of(), MOCK.journal());
        }

        @Test
        void aFailedConnectGives0AndKeepsTheHandleTheSlotHad() {
            discover("slot 1004");
            int session = Kavro.ConnectToken(KIND, 1004);
            MOCK.run("fail C_OpenSession 0x30");
            assertEquals(0, Kavro.ConnectToken(KIND, 1004));
            MOCK.clearJournal();
            assertEquals(0, Kavro.DisconnectToken(KIND, 1004));
            assertEquals(List.of("C_CloseSession session=" + session), MOCK.journal());
        }

        @Test
        void aFailingCloseIsReportedAndTheHandleForgottenAllTheSame() {
            discover("slot 1005");
            Kavro.ConnectToken(KIND, 1005);
            MOCK.run("fail C_CloseSession 0x30");
            assertEquals(0x30, Kavro.DisconnectToken(KIND, 1005));
            MOCK.clearJournal();
            assertEquals(0, Kavro.DisconnectToken(KIND, 1005));
            assertEquals(List.of(), MOCK.journal());
        }

        @Test
        void aWideSessionHandleIsKeptWholeAndConnectAnswersAStandIn() {
            assumeTrue(MockModule.ULONG_BYTES == 8, "CK_ULONG is 32 bits here: no handle is wider than a Java int");
            discover("slot 1010; slot 1011");
            // The stand-in is the low 32 bits, or 1 where those are 0: never 0, which means failure.
            for (long[] wide : new long[][] {{1010, 0x100000005L, 5}, {1011, 0x7700000000L, 1}}) {
                int slot = (int) wide[0];
                MOCK.run("set session.handle " + wide[1]);
                assertEquals((int) wide[2], Kavro.ConnectToken(KIND, slot));
                assertEquals(0, Kavro.Login(KIND, slot, USER_PIN.clone()));
                assertEquals(0, Kavro.DisconnectToken(KIND, slot));
                assertEquals(List.of("C_OpenSession", "C_Login", "C_CloseSession"), MOCK.callNames());
                assertEquals(List.of("C_Login session=" + wide[1] + " user=1 pin=" + hex(USER_PIN)),
                        MOCK.calls("C_Login"));
                assertEquals(List.of("C_CloseSession session=" + wide[1]), MOCK.calls("C_CloseSession"));
                assertEquals("0", MOCK.state(slot, "sessions"));
                MOCK.clearJournal();
            }
        }

        @Test
        void aWriteProtectedTokenIsOpenedReadOnlyAndItsWritesAnswerTheModulesCode() {
            discover("slot 1012 writeprotected=1");
            int session = Kavro.ConnectToken(KIND, 1012);
            assertNotEquals(0, session);
            assertEquals(List.of("C_OpenSession slot=1012 flags=6 application=null notify=null",
                    "C_OpenSession slot=1012 flags=4 application=null notify=null"), MOCK.journal());
            assertEquals(String.valueOf(session), MOCK.state(1012, "handles"));
            assertEquals("MOCK000000001012", Kavro.RetrieveSerial(KIND, 1012));
            assertEquals(0xB5, Kavro.SetUserPin(KIND, 1012, USER_PIN.clone(), bytes("5678")),
                    "CKR_SESSION_READ_ONLY");
            assertEquals(0, Kavro.DisconnectToken(KIND, 1012));
            assertEquals("0", MOCK.state(1012, "sessions"));
        }

        @Test
        void connectAnswers0ForAnUnknownKindOrSlotWithoutOpeningAnything() {
            discover("slot 1006");
            MOCK.run("slot 1007");  // on the module, but no discovery has seen it
            for (int kind : new int[] {5, -1, 100}) {
                assertEquals(0, Kavro.ConnectToken(kind, 1006), "kind " + kind);
            }
            assertEquals(0, Kavro.ConnectToken(KIND, 1007));
            assertEquals(List.of(), MOCK.calls("C_OpenSession"));
        }

        @Test
        void logoutPassesTheModulesResultThrough() {
            discover("slot 1008; slot 1009");
            Kavro.ConnectToken(KIND, 1008);
            assertEquals(0x101, Kavro.Logout(KIND, 1008), "CKR_USER_NOT_LOGGED_IN");
            assertEquals(0, Kavro.Login(KIND, 1008, USER_PIN));
            assertEquals(0, Kavro.Logout(KIND, 1008));
            assertEquals("none", MOCK.state(1008, "login"));
            MOCK.clearJournal();
            assertEquals(0xB3, Kavro.Logout(KIND, 1009), "no session: the module's answer to handle 0");
            assertEquals(List.of("C_Logout session=0"), MOCK.journal());
        }
    }

    @Nested
    class LoginMapping {
        @Test
        void theRightPinGives0AndSoDoesASecondLoginWhileLoggedIn() {
            discover("slot 1101");
            int session = Kavro.ConnectToken(KIND, 1101);
            byte[] pin = USER_PIN.clone();
            assertEquals(0, Kavro.Login(KIND, 1101, pin));
            assertEquals(0, Kavro.Login(KIND, 1101, pin), "CKR_USER_ALREADY_LOGGED_IN becomes 0");
            assertEquals(List.of("C_OpenSession", "C_Login", "C_Login"), MOCK.callNames());
            assertEquals("C_Login session=" + session + " user=1 pin=31323334", MOCK.calls("C_Login").get(0));
            assertEquals("user", MOCK.state(1101, "login"));
            assertArrayEquals(USER_PIN, pin, "the PIN array is given back unchanged");
        }

        @Test
        void aWrongUserPinGives4001AndALockedOne164WithoutAskingForThePinStatus() {
            discover("slot 1102 usertries=2");
            Kavro.ConnectToken(KIND, 1102);
            assertEquals(4001, Kavro.Login(KIND, 1102, bytes("0000")), "CKR_PIN_INCORRECT becomes 4001");
            assertEquals(164, Kavro.Login(KIND, 1102, bytes("0000")), "the last attempt: CKR_PIN_LOCKED");
            assertEquals(164, Kavro.Login(KIND, 1102, USER_PIN), "locked: the right PIN too");
            assertEquals(List.of(), MOCK.calls("GetPinStatus"));
        }

        @Test
        void everyOtherLoginResultGives4001ForBothUserKinds() {
            discover("slot 1103");
            Kavro.ConnectToken(KIND, 1103);
            for (String rv : new String[] {"0x30", "0xA1", "0xA2", "0xB3", "0x103", "0x104", "0x5"}) {
                MOCK.run("fail C_Login " + rv + " times=2");
                assertEquals(4001, Kavro.Login(KIND, 1103, USER_PIN), rv);
                assertEquals(4001, Kavro.VerifySoPin(KIND, 1103, SO_PIN), rv);
            }
            assertEquals(List.of(), MOCK.calls("GetPinStatus"));
        }

        @Test
        void loginMakesNoLogoutFirstSoASecurityOfficerStillLoggedInGets4001() {
            discover("slot 1104");
            Kavro.ConnectToken(KIND, 1104);
            // VerifySoPin's closing logout fails: the security officer stays logged in.
            MOCK.run("fail C_Logout 0x30 skip=1");
            assertEquals(0, Kavro.VerifySoPin(KIND, 1104, SO_PIN));
            assertEquals("so", MOCK.state(1104, "login"));
            MOCK.clearJournal();
            assertEquals(4001, Kavro.Login(KIND, 1104, USER_PIN), "CKR_USER_ANOTHER_ALREADY_LOGGED_IN");
            assertEquals(List.of("C_Login"), MOCK.callNames());
        }

        @Test
        void aWrongSoPinGivesTheAttemptsLeftThatThePinStatusRecordHolds() {
            discover("slot 1105 sotries=5");
            Kavro.ConnectToken(KIND, 1105);
            assertEquals(4, Kavro.VerifySoPin(KIND, 1105, bytes("00000000")));
            assertEquals(3, Kavro.VerifySoPin(KIND, 1105, bytes("00000000")));
            // Asked for by slot id, not by session.
            assertEquals(List.of("GetPinStatus slot=1105", "GetPinStatus slot=1105"), MOCK.calls("GetPinStatus"));
            assertEquals(0, Kavro.VerifySoPin(KIND, 1105, SO_PIN));
        }

        @Test
        void theAttemptsCountIsAnUnsignedByte() {
            discover("slot 1106");
            Kavro.ConnectToken(KIND, 1106);
            MOCK.run("set pinstatus.sotries 200");
            assertEquals(200, Kavro.VerifySoPin(KIND, 1106, bytes("00000000")));
            MOCK.run("set pinstatus.sotries 255");
            assertEquals(255, Kavro.VerifySoPin(KIND, 1106, bytes("00000000")));
        }

        @Test
        void noAttemptsLeftOrALockedPinGive164() {
            discover("slot 1107 sotries=1");
            Kavro.ConnectToken(KIND, 1107);
            MOCK.run("fail C_Login 0xA0; set pinstatus.sotries 0");
            assertEquals(164, Kavro.VerifySoPin(KIND, 1107, bytes("00000000")), "CKR_PIN_INCORRECT, 0 left");
            MOCK.run("set pinstatus.sotries -1");
            MOCK.clearJournal();
            assertEquals(164, Kavro.VerifySoPin(KIND, 1107, bytes("00000000")), "CKR_PIN_LOCKED from C_Login");
            assertEquals(List.of(), MOCK.calls("GetPinStatus"));
        }

        @Test
        void aPinStatusEntryThatWritesNothingCountsAsNoAttemptsLeft() {
            discover("slot 1108");
            Kavro.ConnectToken(KIND, 1108);
            MOCK.run("set pinstatus.write 0");
            assertEquals(164, Kavro.VerifySoPin(KIND, 1108, bytes("00000000")));
        }

        @Test
        void loginBeforeAnyConnectCallsCLoginWithHandle0() {
            discover("slot 1109");
            assertEquals(4001, Kavro.Login(KIND, 1109, USER_PIN));
            assertEquals(List.of("C_Login session=0 user=1 pin=31323334"), MOCK.journal());
        }

        @Test
        void aPinIsEveryByteOfTheArrayAZeroByteAndNothingIncluded() {
            discover("slot 1110 userpin=hex:3100320000");
            Kavro.ConnectToken(KIND, 1110);
            assertEquals(4001, Kavro.Login(KIND, 1110, new byte[0]));
            assertEquals(0, Kavro.Login(KIND, 1110, new byte[] {'1', 0, '2', 0, 0}));
            assertEquals(List.of("C_Login", "C_Login"), MOCK.callNames().subList(1, 3));
            assertEquals(List.of("pin=", "pin=3100320000"), MOCK.calls("C_Login").stream()
                    .map(line -> line.substring(line.indexOf("pin="))).collect(java.util.stream.Collectors.toList()));
        }
    }

    @Nested
    class VerifySoPin {
        @Test
        void theRightSoPinGives0AndLeavesTheTokenLoggedOutWhateverWasBefore() {
            discover("slot 1201");
            int session = Kavro.ConnectToken(KIND, 1201);
            assertEquals(0, Kavro.Login(KIND, 1201, USER_PIN));
            MOCK.clearJournal();
            byte[] soPin = SO_PIN.clone();
            assertEquals(0, Kavro.VerifySoPin(KIND, 1201, soPin));
            assertEquals(List.of("C_Logout session=" + session, "C_Login session=" + session + " user=0 pin="
                    + hex(SO_PIN), "C_Logout session=" + session), MOCK.journal());
            assertEquals("none", MOCK.state(1201, "login"));
            assertArrayEquals(SO_PIN, soPin, "the PIN array is given back unchanged");
        }

        @Test
        void aWrongSoPinLeavesTheTokenLoggedOutToo() {
            discover("slot 1202");
            Kavro.ConnectToken(KIND, 1202);
            assertEquals(0, Kavro.Login(KIND, 1202, USER_PIN));
            assertEquals(2, Kavro.VerifySoPin(KIND, 1202, bytes("1")));
            assertEquals("none", MOCK.state(1202, "login"));
            assertEquals(List.of("C_Logout", "C_Login", "GetPinStatus", "C_Logout"),
                    MOCK.callNames().subList(2, 6));
        }
    }

    @Nested
    class Preamble {
        @Test
        void theModuleComesFirstThenTheSlotThenTheArgumentsAndNothingIsCalled() {
            discover("slot 1301");
            Kavro.ConnectToken(KIND, 1301);
            MOCK.clearJournal();
            for (int kind : new int[] {5, -1, 100}) {
                assertEquals(1001, Kavro.Login(kind, 1399, null));
                assertEquals(1001, Kavro.VerifySoPin(kind, 1399, null));
                assertEquals(1001, Kavro.Logout(kind, 1399));
                assertEquals(1001, Kavro.DisconnectToken(kind, 1399));
            }
            assertEquals(1002, Kavro.Login(KIND, 1399, null));
            assertEquals(1002, Kavro.VerifySoPin(KIND, 1399, null));
            assertEquals(1002, Kavro.Logout(KIND, 1399));
            assertEquals(1002, Kavro.DisconnectToken(KIND, 1399));
            assertEquals(1003, Kavro.Login(KIND, 1301, null));
            assertEquals(1003, Kavro.VerifySoPin(KIND, 1301, null));
            assertEquals(List.of(), MOCK.journal());
            assertEquals("none", MOCK.state(1301, "login"));
        }
    }
}
