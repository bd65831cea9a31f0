package kavrotest;

import static kavrotest.HostileCases.Expect.fails;
import static kavrotest.HostileCases.Expect.refused;
import static kavrotest.HostileCases.Expect.succeeds;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;

import Brelmont.Kavro;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Set;
import java.util.TreeSet;
import java.util.function.Function;
import java.util.stream.Collectors;
import java.util.stream.Stream;
import kavrotest.HostileCases.Case;
import kavrotest.HostileCases.Expect;
import kavrotest.HostileCases.Fixture;
import kavrotest.HostileCases.Returns;
import org.junit.jupiter.api.DynamicTest;
import org.junit.jupiter.api.MethodOrderer;
import org.junit.jupiter.api.Order;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestFactory;
import org.junit.jupiter.api.TestMethodOrder;

/**
 * Hostile Java input for every token method, as one table: a row per
 * method with its valid call and the rules that vary it (missing arrays,
 * lengths outside their arrays, selectors at their extremes, PIN texts,
 * labels and serials of hostile sizes, byte[][] with missing or short
 * elements). Every case runs on a freshly scripted mock token, where the
 * journal shows which refusals come before any module call; the cases that
 * hold on any token run again on SoftHSM2 (kind 0).
 *
 * The mock token: serial HOSTILE-TOKEN-01, certificates 01 to 04 with
 * serial contents of 8, 1, 100 and 10,000 octets, each with a key pair of
 * the same CKA_ID. Handles: certificates 101-104, private keys 201-204,
 * public keys 301-304, in the module's search order.
 */
@TestMethodOrder(MethodOrderer.OrderAnnotation.class)
class HostileInputTest {
    static final int MOCK_KIND = 1;
    static final int MOCK_SLOT = 8801;
    static final String MOCK_SERIAL = "HOSTILE-TOKEN-01";
    static final String USER_PIN = "1234";
    static final String SO_PIN = "87654321";
    static final String NEW_SO_PIN = "11223344";
    static final String NEW_USER_PIN = "5678";
    static final byte[] DATA = {1, 2, 3, 4, 5, 6, 7, 8};
    /** The room offered for signatures, digests' neighbours and ciphertexts. */
    static final int ROOM = 256;
    static final int MOCK_SIGNATURE = 128;

    static final int CKR_KEY_HANDLE_INVALID = 0x60;
    static final int CKR_ENCRYPTED_DATA_INVALID = 0x40;
    static final int CKR_USER_NOT_LOGGED_IN = 0x101;
    static final int CKR_SIGNATURE_INVALID = 0xC0;
    static final int CKR_SIGNATURE_LEN_RANGE = 0xC1;
    static final int CKR_BUFFER_TOO_SMALL = 0x150;

    /** The serial contents of the mock's certificates 01 to 04. */
    static final byte[][] MOCK_SERIALS = {MockToken.hex("0102030405060708"), {7}, pattern(100, 3), pattern(10000, 5)};

    static final String[] LOOKUP = {"C_FindObjectsInit", "C_FindObjects", "C_GetAttributeValue",
        "C_GetAttributeValue", "C_FindObjectsFinal", "C_FindObjectsInit", "C_FindObjects", "C_FindObjectsFinal"};

    static byte[] pattern(int length, int step) {
        byte[] bytes = new byte[length];
        for (int i = 0; i < length; i++) {
            bytes[i] = (byte) (0x11 + i * step);
        }
        return bytes;
    }

    static byte[] bytes(String text) {
        return text.getBytes(StandardCharsets.ISO_8859_1);
    }

    static byte[] filled(int length, int value) {
        byte[] bytes = new byte[length];
        Arrays.fill(bytes, (byte) value);
        return bytes;
    }

    static int[] ints(int... values) {
        return values;
    }

    static Object[] args(Object... values) {
        return values;
    }

    static int i(Object[] args, int index) {
        return (Integer) args[index];
    }

    static byte[] b(Object[] args, int index) {
        return (byte[]) args[index];
    }

    static int[] n(Object[] args, int index) {
        return (int[]) args[index];
    }

    static String[] concat(String[] first, String... more) {
        String[] all = Arrays.copyOf(first, first.length + more.length);
        System.arraycopy(more, 0, all, first.length, more.length);
        return all;
    }

    static String[] repeat(int times, String... names) {
        String[] all = new String[0];
        for (int i = 0; i < times; i++) {
            all = concat(all, names);
        }
        return all;
    }

    // --- fixtures ---

    /** The mock token, scripted afresh before every case. */
    static final class MockFixture extends Fixture {
        final MockModule mock = MockModule.forKind(MOCK_KIND);

        MockFixture() {
            super("the mock");
            kind = MOCK_KIND;
            slot = MOCK_SLOT;
            tokenSerial = MOCK_SERIAL;
            privateKey = 201;
            publicKey = 301;
            serial = MOCK_SERIALS[0];
            room = ROOM;
        }

        @Override
        void prepare() {
            mock.reset();
            StringBuilder script = new StringBuilder("slot " + MOCK_SLOT + " serial=" + MOCK_SERIAL + " userpin="
                    + USER_PIN + " sopin=" + SO_PIN);
            for (int n = 1; n <= 4; n++) {
                // The first two octets of CKA_SERIAL_NUMBER are dropped unread; "02ff" stands for any header.
                String id = "0" + n;
                script.append("\nobject " + MOCK_SLOT + " class=cert handle=" + (100 + n) + " id=hex:" + id
                        + " serial=hex:02ff" + MockToken.hex(MOCK_SERIALS[n - 1], MOCK_SERIALS[n - 1].length));
                script.append("\nobject " + MOCK_SLOT + " class=private handle=" + (200 + n) + " id=hex:" + id);
                script.append("\nobject " + MOCK_SLOT + " class=public handle=" + (300 + n) + " id=hex:" + id);
            }
            mock.run(script.toString());
            int[] ids = new int[4];
            int[] count = {0};
            assertEquals(0, Kavro.GetSlotList(kind, ids, count));
            for (int n = 0; n < count[0]; n++) {
                REGISTERED.add(ids[n]);
            }
            assertNotEquals(0, Kavro.ConnectToken(kind, slot));
            if (signature == null) {
                // The mock's signatures and ciphertexts depend on key, data and mechanism only.
                byte[] made = new byte[ROOM];
                int[] length = {0};
                assertEquals(0, Kavro.Sign(kind, slot, privateKey, 0, DATA, DATA.length, made, length));
                signature = Arrays.copyOf(made, length[0]);
                assertEquals(0, Kavro.Encrypt(kind, slot, publicKey, 0, DATA, DATA.length, made, length));
                cipher = Arrays.copyOf(made, length[0]);
            }
            mock.clearJournal();
        }

        @Override
        List<String> calls() {
            return mock.callNames();
        }
    }

    /** The SoftHSM2 token KavroMain through the bridge, connected and logged in once. */
    static final class SoftHsmFixture extends Fixture {
        SoftHsmFixture() {
            super("SoftHSM2");
            kind = TokenStore.KIND;
            slot = TokenStore.slot("main");
            tokenSerial = TokenStore.serial("main");
            room = ROOM;
            int[] ids = new int[16];
            int[] count = {0};
            assertEquals(0, Kavro.GetSlotList(kind, ids, count));
            for (int n = 0; n < count[0]; n++) {
                REGISTERED.add(ids[n]);
            }
            assertNotEquals(0, Kavro.ConnectToken(kind, slot));
            assertEquals(0, Kavro.Login(kind, slot, TokenStore.userPin()));
            serial = SoftHsmObjects.serial("01");
            int[] handle = {0};
            assertEquals(0, Kavro.EnumPrivateKeyByCertSerial(kind, slot, serial, serial.length, handle));
            privateKey = handle[0];
            assertEquals(0, Kavro.EnumPublicKeyByCertSerial(kind, slot, serial, serial.length, handle));
            publicKey = handle[0];
            byte[] made = new byte[ROOM];
            int[] length = {0};
            assertEquals(0, Kavro.Sign(kind, slot, privateKey, 0, DATA, DATA.length, made, length));
            signature = Arrays.copyOf(made, length[0]);
            assertEquals(0, Kavro.Encrypt(kind, slot, publicKey, 0, DATA, DATA.length, made, length));
            cipher = Arrays.copyOf(made, length[0]);
        }

        @Override
        void prepare() {
        }

        @Override
        List<String> calls() {
            return null;
        }
    }

    // --- rules shared by several rows ---

    /** Selector values and the outcome each gives. */
    static void selector(HostileCases.Method method, int index, String name, Expect outcome, boolean portable,
            int... values) {
        for (int value : values) {
            method.with(name + " " + value, index, fixture -> value, fixture -> outcome, portable);
        }
    }

    static final int[] EXTREMES_BUT_ZERO = {Integer.MIN_VALUE, -1, Integer.MAX_VALUE};

    /** Key handles no object has: the module refuses them at the Init call. */
    static void keyHandles(HostileCases.Method method, int index, Expect outcome) {
        selector(method, index, "keyHandle", outcome, false, Integer.MIN_VALUE, -1, 0, Integer.MAX_VALUE);
    }

    /**
     * A PIN transport text at index that carries pin: without its zero byte, trailed by rubbish up to 10,000
     * octets, or with a non-Base64 octet after every group, it is the same text; 10,000 Base64 characters or
     * nothing but non-Base64 octets are refused after the serial was read and before any login.
     */
    static void transportText(HostileCases.Method method, int index, String name, String pin,
            Function<Fixture, Expect> valid) {
        method.required(index, name);
        method.with(name + " without a terminating zero", index,
                f -> PinTransport.unterminated(bytes(pin), PinTransport.key(f.tokenSerial)), valid, false);
        method.with(name + " trailed by rubbish to 10,000 octets", index, f -> {
            byte[] text = f.transportText(pin);
            byte[] trailed = Arrays.copyOf(text, 10000);
            Arrays.fill(trailed, text.length, trailed.length, (byte) 0xA5);
            return trailed;
        }, valid, false);
        method.with(name + " with a non-Base64 octet after every group", index, f -> {
            byte[] text = PinTransport.unterminated(bytes(pin), PinTransport.key(f.tokenSerial));
            byte[] spread = new byte[text.length + text.length / 4 + 1];
            int at = 0;
            for (int k = 0; k < text.length; k++) {
                spread[at++] = text[k];
                if (k % 4 == 3) {
                    spread[at++] = (byte) (0x80 + k);
                }
            }
            return Arrays.copyOf(spread, at + 1);
        }, valid, false);
        byte[] tenThousand = new byte[10000];
        for (int k = 0; k < tenThousand.length; k++) {
            tenThousand[k] = (byte) "QUJD".charAt(k % 4);
        }
        method.with(name + " of 10,000 Base64 octets without a zero", index, tenThousand,
                fails(1003).calls("C_GetTokenInfo"));
        byte[] rubbish = new byte[17];
        for (int k = 0; k < 16; k++) {
            rubbish[k] = (byte) (0x80 + 7 * k);
        }
        method.with(name + " of non-Base64 octets only", index, rubbish, fails(-1).calls("C_GetTokenInfo"));
    }

    /** A plain PIN at index: empty and 10,000 octets reach the module like any other PIN. */
    static void plainPin(HostileCases.Method method, int index, String name, Expect outcome) {
        method.required(index, name);
        method.with(name + " empty", index, new byte[0], outcome);
        method.with(name + " of 10,000 octets", index, filled(10000, '9'), outcome);
    }

    /**
     * Serials of 0, 1, 100 and 10,000 octets at index (length at index + 1): each certificate's own serial
     * finds its key (number n = 1..4), the same serial with its last octet changed finds nothing.
     */
    static void serials(HostileCases.Method method, int index, Function<Integer, Expect> found, Expect notFound) {
        method.custom("serial of 0 octets", f -> {
            Object[] args = method.valid.apply(f);
            args[index] = new byte[0];
            args[index + 1] = 0;
            return args;
        }, f -> notFound, false);
        for (int n = 2; n <= 4; n++) {
            byte[] serial = MOCK_SERIALS[n - 1];
            int key = n;
            method.custom("serial of " + serial.length + " octets", f -> {
                Object[] args = method.valid.apply(f);
                args[index] = serial.clone();
                args[index + 1] = serial.length;
                return args;
            }, f -> found.apply(key), false);
            method.custom("serial of " + serial.length + " octets, last one changed", f -> {
                Object[] args = method.valid.apply(f);
                byte[] changed = serial.clone();
                changed[changed.length - 1] ^= 0x40;
                args[index] = changed;
                args[index + 1] = serial.length;
                return args;
            }, f -> notFound, false);
        }
        method.custom("serialLength one short of the serial", f -> {
            Object[] args = method.valid.apply(f);
            args[index + 1] = ((byte[]) args[index]).length - 1;
            return args;
        }, f -> notFound, false);
    }

    // --- the table ---

    static HostileCases.Method row(String name, Returns returns, Function<Fixture, Object[]> valid,
            HostileCases.Invoker invoker) {
        return new HostileCases.Method(name, returns, valid, invoker);
    }

    static List<HostileCases.Method> table() {
        List<HostileCases.Method> table = new ArrayList<>();
        table.add(row("Initialize", Returns.CODE, f -> args(f.kind), a -> Kavro.Initialize(i(a, 0)))
                .validCall(f -> succeeds(0).calls())
                .moduleKind());

        table.add(row("GetSlotList", Returns.CODE, f -> args(f.kind, ints(-7, -7, -7), ints(-7)),
                a -> Kavro.GetSlotList(i(a, 0), n(a, 1), n(a, 2)))
                .outputs(1, 2)
                .validCall(f -> succeeds(0).writes(1, ints(MOCK_SLOT, -7, -7)).writes(2, ints(1)))
                .moduleKind()
                .with("slotIds null", 1, null, succeeds(0).writes(2, ints(1)))
                .with("slotCount null", 2, null, succeeds(0).writes(1, ints(MOCK_SLOT, -7, -7)))
                .with("slotIds without an element", 1, new int[0], succeeds(0).writes(2, ints(1)))
                .with("slotCount without an element", 2, new int[0],
                        succeeds(0).writes(1, ints(MOCK_SLOT, -7, -7)))
                .custom("both arrays null", f -> args(f.kind, null, null), f -> succeeds(0), false));

        table.add(row("ConnectToken", Returns.HANDLE, f -> args(f.kind, f.slot),
                a -> Kavro.ConnectToken(i(a, 0), i(a, 1)))
                .validCall(f -> succeeds(HostileCases.NONZERO).calls("C_OpenSession"))
                .moduleKind()
                .slotId());

        table.add(row("DisconnectToken", Returns.CODE, f -> args(f.kind, f.slot),
                a -> Kavro.DisconnectToken(i(a, 0), i(a, 1)))
                .validCall(f -> succeeds(0).calls("C_CloseSession"))
                .moduleKind()
                .slotId());

        HostileCases.Method login = row("Login", Returns.CODE, f -> args(f.kind, f.slot, bytes(USER_PIN)),
                a -> Kavro.Login(i(a, 0), i(a, 1), b(a, 2)))
                .validCall(f -> succeeds(0).calls("C_Login"))
                .moduleKind()
                .slotId()
                .precedence();
        plainPin(login, 2, "pin", fails(4001).calls("C_Login"));
        table.add(login);

        table.add(row("Logout", Returns.CODE, f -> args(f.kind, f.slot), a -> Kavro.Logout(i(a, 0), i(a, 1)))
                .validCall(f -> fails(CKR_USER_NOT_LOGGED_IN).calls("C_Logout"))
                .moduleKind()
                .slotId());

        HostileCases.Method verifySoPin = row("VerifySoPin", Returns.CODE, f -> args(f.kind, f.slot, bytes(SO_PIN)),
                a -> Kavro.VerifySoPin(i(a, 0), i(a, 1), b(a, 2)))
                .validCall(f -> succeeds(0).calls("C_Logout", "C_Login", "C_Logout"))
                .moduleKind()
                .slotId()
                .precedence();
        plainPin(verifySoPin, 2, "soPin", fails(2).calls("C_Logout", "C_Login", "GetPinStatus", "C_Logout"));
        table.add(verifySoPin);

        table.add(row("RetrieveSerial", Returns.TEXT, f -> args(f.kind, f.slot),
                a -> Kavro.RetrieveSerial(i(a, 0), i(a, 1)))
                .validCall(f -> succeeds(f.tokenSerial).calls("C_GetTokenInfo"))
                .moduleKind()
                .slotId());

        Function<Fixture, Expect> soPinChanged = f -> succeeds(0).calls("C_GetTokenInfo", "C_Logout", "C_Login",
                "C_SetPIN", "C_Logout");
        HostileCases.Method setSoPin = row("SetSoPin", Returns.CODE,
                f -> args(f.kind, f.slot, f.transportText(SO_PIN), f.transportText(NEW_SO_PIN)),
                a -> Kavro.SetSoPin(i(a, 0), i(a, 1), b(a, 2), b(a, 3)))
                .validCall(soPinChanged)
                .moduleKind()
                .slotId()
                .precedence();
        transportText(setSoPin, 2, "oldSoPin", SO_PIN, soPinChanged);
        transportText(setSoPin, 3, "newSoPin", NEW_SO_PIN, soPinChanged);
        table.add(setSoPin);

        Expect unlocked = succeeds(0).calls("C_GetTokenInfo", "C_Logout", "C_Login", "C_InitPIN", "C_Logout");
        HostileCases.Method unlockUserPin = row("UnlockUserPin", Returns.CODE,
                f -> args(f.kind, f.slot, f.transportText(SO_PIN), bytes(NEW_USER_PIN)),
                a -> Kavro.UnlockUserPin(i(a, 0), i(a, 1), b(a, 2), b(a, 3)))
                .validCall(f -> unlocked)
                .moduleKind()
                .slotId()
                .precedence();
        transportText(unlockUserPin, 2, "soPin", SO_PIN, f -> unlocked);
        plainPin(unlockUserPin, 3, "newUserPin", unlocked);
        table.add(unlockUserPin);

        Expect userPinChanged = succeeds(0).calls("C_Logout", "C_Login", "C_SetPIN");
        HostileCases.Method setUserPin = row("SetUserPin", Returns.CODE,
                f -> args(f.kind, f.slot, bytes(USER_PIN), bytes(NEW_USER_PIN)),
                a -> Kavro.SetUserPin(i(a, 0), i(a, 1), b(a, 2), b(a, 3)))
                .validCall(f -> userPinChanged)
                .moduleKind()
                .slotId()
                .precedence();
        plainPin(setUserPin, 2, "oldUserPin", fails(4001).calls("C_Logout", "C_Login"));
        plainPin(setUserPin, 3, "newUserPin", userPinChanged);
        table.add(setUserPin);

        Expect initialised = succeeds(0).calls("C_GetTokenInfo", "C_CloseAllSessions", "C_InitToken",
                "C_OpenSession", "C_Logout", "C_Login", "C_InitPIN", "C_Logout", "C_CloseSession");
        HostileCases.Method initToken = row("InitToken", Returns.CODE,
                f -> args(f.kind, f.slot, f.transportText(SO_PIN), bytes(NEW_USER_PIN), "hostile label"),
                a -> Kavro.InitToken(i(a, 0), i(a, 1), b(a, 2), b(a, 3), (String) a[4]))
                .validCall(f -> initialised)
                .moduleKind()
                .slotId()
                .precedence();
        transportText(initToken, 2, "soPin", SO_PIN, f -> initialised);
        plainPin(initToken, 3, "userPin", initialised);
        initToken.with("label null", 4, null, refused(1003));
        String grin = new String(Character.toChars(0x1F600));
        String[][] labels = {{"", "0 octets"}, {"A".repeat(32), "32 octets"}, {"\u00e9".repeat(16), "16 x e-acute (32 octets)"},
            {grin.repeat(5), "5 x U+1F600 (30 octets of modified UTF-8)"}};
        for (String[] label : labels) {
            initToken.with("label of " + label[1], 4, label[0], initialised);
        }
        String[][] longLabels = {{"A".repeat(33), "33 octets"}, {"L".repeat(1000), "1,000 octets"},
            {"\u00e9".repeat(17), "17 x e-acute (34 octets)"}, {grin.repeat(6), "6 x U+1F600 (36 octets)"}};
        for (String[] label : longLabels) {
            initToken.with("label of " + label[1], 4, label[0], refused(1003));
        }
        table.add(initToken);

        table.add(listCertSerial());
        table.add(enumByOrdinal("EnumPrivateKey", 200, false));
        table.add(enumByOrdinal("EnumPublicKey", 300, true));
        table.add(enumBySerial("EnumPrivateKeyByCertSerial", 200));
        table.add(enumBySerial("EnumPublicKeyByCertSerial", 300));
        table.add(sign());
        table.add(signByCertSerial());
        table.add(verify());
        table.add(verifyByCertSerial());
        table.add(hash());
        table.add(cipher("Encrypt", true));
        table.add(cipher("Decrypt", false));
        return table;
    }

    static HostileCases.Method listCertSerial() {
        int[] lengths = ints(8, 1, 100, 10000);
        String[] listing = concat(concat(new String[] {"C_FindObjectsInit"},
                repeat(4, "C_FindObjects", "C_GetAttributeValue", "C_GetAttributeValue")),
                "C_FindObjects", "C_FindObjectsFinal");
        String[] counting = concat(concat(new String[] {"C_FindObjectsInit"}, repeat(5, "C_FindObjects")),
                "C_FindObjectsFinal");
        HostileCases.Method method = row("ListCertSerial", Returns.CODE,
                f -> args(f.kind, f.slot, rows(4, 10000), ints(-7, -7, -7, -7), ints(-7)),
                a -> Kavro.ListCertSerial(i(a, 0), i(a, 1), (byte[][]) a[2], n(a, 3), n(a, 4)))
                .outputs(2, 3, 4)
                .validCall(f -> succeeds(0).writes(2, listed()).writes(3, lengths)
                        .writes(4, ints(4)).calls(listing))
                .moduleKind()
                .slotId()
                .precedence()
                .requiredOut(4, "count")
                .with("serials null (counting)", 2, null,
                        succeeds(0).writes(3, ints(-7, -7, -7, -7)).writes(4, ints(4)).calls(counting))
                .with("serialLengths null (counting)", 3, null,
                        succeeds(0).writes(2, rows(4, 10000)).writes(4, ints(4)).calls(counting));
        // Every element is checked before any is written: a refusal leaves all but the count untouched.
        Expect refusedWithCount = fails(1003).writes(4, ints(4)).calls(listing);
        method.with("serials with 3 elements for 4 certificates", 2, rows(3, 10000), refusedWithCount);
        method.with("serialLengths with 3 elements for 4 certificates", 3, ints(-7, -7, -7), refusedWithCount);
        byte[][] nullElement = rows(4, 10000);
        nullElement[2] = null;
        method.with("serials element 2 null", 2, nullElement, refusedWithCount);
        byte[][] shortLast = rows(4, 10000);
        shortLast[3] = new byte[9999];
        method.with("serials element 3 one octet short", 2, shortLast, refusedWithCount);
        byte[][] emptySecond = rows(4, 10000);
        emptySecond[1] = new byte[0];
        method.with("serials element 1 empty", 2, emptySecond, refusedWithCount);
        method.with("serials elements all empty", 2, rows(4, 0), refusedWithCount);
        method.with("serials elements all null", 2, new byte[4][], refusedWithCount);
        // Elements past the certificates are never looked at.
        byte[][] longer = Arrays.copyOf(rows(4, 10000), 6);
        byte[][] longerListed = Arrays.copyOf(listed(), 6);
        method.with("serials with 2 null elements past the certificates", 2, longer,
                succeeds(0).writes(2, longerListed).writes(3, lengths).writes(4, ints(4)).calls(listing));
        return method;
    }

    /** Four rows of 10,000 octets 0x5A with the mock's serials written over their starts. */
    static byte[][] listed() {
        byte[][] rows = rows(4, 10000);
        for (int k = 0; k < MOCK_SERIALS.length; k++) {
            System.arraycopy(MOCK_SERIALS[k], 0, rows[k], 0, MOCK_SERIALS[k].length);
        }
        return rows;
    }

    /** count rows of length octets, each filled with 0x5A. */
    static byte[][] rows(int count, int length) {
        byte[][] rows = new byte[count][];
        for (int k = 0; k < count; k++) {
            rows[k] = filled(length, 0x5A);
        }
        return rows;
    }

    static HostileCases.Method enumByOrdinal(String name, int handleBase, boolean publicKeys) {
        boolean isPublic = publicKeys;
        HostileCases.Method method = row(name, Returns.CODE, f -> args(f.kind, f.slot, 1, ints(-7)),
                a -> isPublic ? Kavro.EnumPublicKey(i(a, 0), i(a, 1), i(a, 2), n(a, 3))
                        : Kavro.EnumPrivateKey(i(a, 0), i(a, 1), i(a, 2), n(a, 3)))
                .outputs(3)
                .validCall(f -> succeeds(0).writes(3, ints(handleBase + 1))
                        .calls("C_FindObjectsInit", "C_FindObjects", "C_FindObjectsFinal"))
                .moduleKind()
                .slotId()
                .precedence()
                .requiredOut(3, "handle");
        // Keys count from 1: an ordinal of 0 or below names none and is refused before any module call.
        selector(method, 2, "ordinal", refused(1011), true, Integer.MIN_VALUE, -1, 0);
        // One past the four keys of the class, and the largest ordinal: the search runs out after the fifth
        // C_FindObjects. The public-key search leaves 0 in the handle, the private-key search leaves it alone.
        Expect beyond = fails(1011).writes(3, ints(publicKeys ? 0 : -7))
                .calls(concat(concat(new String[] {"C_FindObjectsInit"}, repeat(5, "C_FindObjects")),
                        "C_FindObjectsFinal"));
        selector(method, 2, "ordinal", beyond, true, 5, Integer.MAX_VALUE);
        return method;
    }

    static HostileCases.Method enumBySerial(String name, int handleBase) {
        boolean isPublic = handleBase == 300;
        HostileCases.Method method = row(name, Returns.CODE, f -> args(f.kind, f.slot, f.serial.clone(),
                f.serial.length, ints(-7)),
                a -> isPublic ? Kavro.EnumPublicKeyByCertSerial(i(a, 0), i(a, 1), b(a, 2), i(a, 3), n(a, 4))
                        : Kavro.EnumPrivateKeyByCertSerial(i(a, 0), i(a, 1), b(a, 2), i(a, 3), n(a, 4)))
                .outputs(4)
                .validCall(f -> succeeds(0).writes(4, ints(handleBase + 1)).calls(LOOKUP))
                .moduleKind()
                .slotId()
                .precedence()
                .required(2, "serial")
                .requiredOut(4, "handle")
                .length(3, 2, "serialLength", fails(1006));
        serials(method, 2, n -> succeeds(0).writes(4, ints(handleBase + n)), fails(1006));
        return method;
    }

    static HostileCases.Method sign() {
        HostileCases.Method method = row("Sign", Returns.CODE,
                f -> args(f.kind, f.slot, f.privateKey, 0, DATA.clone(), DATA.length, new byte[ROOM], ints(-7)),
                a -> Kavro.Sign(i(a, 0), i(a, 1), i(a, 2), i(a, 3), b(a, 4), i(a, 5), b(a, 6), n(a, 7)))
                .outputs(6, 7)
                .validCall(f -> succeeds(0).writes(7, ints(f.signature.length)).calls("C_SignInit", "C_Sign"))
                .moduleKind()
                .slotId()
                .precedence()
                .required(4, "data")
                .required(6, "signature")
                .requiredOut(7, "signatureLength")
                .length(5, 4, "dataLength", refused(1003));
        selector(method, 3, "signMechanism", refused(1008), true, Integer.MIN_VALUE, -1, 4, Integer.MAX_VALUE);
        keyHandles(method, 2, fails(CKR_KEY_HANDLE_INVALID).calls("C_SignInit"));
        // Too small for the signature: the module's result, the length left as it was.
        method.with("signature array empty", 6, new byte[0], fails(CKR_BUFFER_TOO_SMALL).calls("C_SignInit", "C_Sign"));
        return method;
    }

    static HostileCases.Method signByCertSerial() {
        HostileCases.Method method = row("SignByCertSerial", Returns.CODE,
                f -> args(f.kind, f.slot, f.serial.clone(), f.serial.length, 0, DATA.clone(), DATA.length,
                        new byte[ROOM], ints(-7)),
                a -> Kavro.SignByCertSerial(i(a, 0), i(a, 1), b(a, 2), i(a, 3), i(a, 4), b(a, 5), i(a, 6), b(a, 7),
                        n(a, 8)))
                .outputs(7, 8)
                .validCall(f -> succeeds(0).writes(8, ints(f.signature.length))
                        .calls(concat(LOOKUP, "C_SignInit", "C_Sign")))
                .moduleKind()
                .slotId()
                .precedence()
                .required(2, "serial")
                .required(5, "data")
                .required(7, "signature")
                .requiredOut(8, "signatureLength")
                // Whatever the result, the length goes back: the room when nothing was signed.
                .length(3, 2, "serialLength", fails(1006).writes(8, ints(ROOM)))
                .length(6, 5, "dataLength", succeeds(0).writes(8, ints(MOCK_SIGNATURE)));
        // The key is looked up before the selector is.
        selector(method, 4, "signMechanism", fails(1008).writes(8, ints(ROOM)).calls(LOOKUP), true,
                Integer.MIN_VALUE, -1, 4, Integer.MAX_VALUE);
        serials(method, 2, n -> succeeds(0).writes(8, ints(MOCK_SIGNATURE)), fails(1006).writes(8, ints(ROOM)));
        method.with("signature array empty", 7, new byte[0],
                fails(CKR_BUFFER_TOO_SMALL).writes(8, ints(MOCK_SIGNATURE)));
        return method;
    }

    static HostileCases.Method verify() {
        HostileCases.Method method = row("Verify", Returns.CODE,
                f -> args(f.kind, f.slot, f.publicKey, 0, DATA.clone(), DATA.length, f.signature.clone(),
                        f.signature.length),
                a -> Kavro.Verify(i(a, 0), i(a, 1), i(a, 2), i(a, 3), b(a, 4), i(a, 5), b(a, 6), i(a, 7)))
                .validCall(f -> succeeds(0).calls("C_VerifyInit", "C_Verify"))
                .moduleKind()
                .slotId()
                .precedence()
                .required(4, "data")
                .required(6, "signature")
                .length(5, 4, "dataLength", refused(1003))
                .length(7, 6, "signatureLength", fails(CKR_SIGNATURE_LEN_RANGE).calls("C_VerifyInit", "C_Verify"));
        selector(method, 3, "signMechanism", refused(1008), true, Integer.MIN_VALUE, -1, 4, Integer.MAX_VALUE);
        keyHandles(method, 2, fails(CKR_KEY_HANDLE_INVALID).calls("C_VerifyInit"));
        return method;
    }

    static HostileCases.Method verifyByCertSerial() {
        HostileCases.Method method = row("VerifyByCertSerial", Returns.CODE,
                f -> args(f.kind, f.slot, f.serial.clone(), f.serial.length, 0, DATA.clone(), DATA.length,
                        f.signature.clone(), f.signature.length),
                a -> Kavro.VerifyByCertSerial(i(a, 0), i(a, 1), b(a, 2), i(a, 3), i(a, 4), b(a, 5), i(a, 6),
                        b(a, 7), i(a, 8)))
                .validCall(f -> succeeds(0).calls(concat(LOOKUP, "C_VerifyInit", "C_Verify")))
                .moduleKind()
                .slotId()
                .precedence()
                .required(2, "serial")
                .required(5, "data")
                .required(7, "signature")
                .length(3, 2, "serialLength", fails(1006))
                // Empty data is verified as given: the signature was made over DATA.
                .length(6, 5, "dataLength", fails(CKR_SIGNATURE_INVALID))
                .length(8, 7, "signatureLength", fails(CKR_SIGNATURE_LEN_RANGE));
        selector(method, 4, "signMechanism", fails(1008).calls(LOOKUP), true,
                Integer.MIN_VALUE, -1, 4, Integer.MAX_VALUE);
        // The other certificates' keys are found; the signature is not theirs.
        serials(method, 2, n -> fails(CKR_SIGNATURE_INVALID), fails(1006));
        return method;
    }

    static HostileCases.Method hash() {
        HostileCases.Method method = row("Hash", Returns.CODE,
                f -> args(f.kind, f.slot, 0, DATA.clone(), DATA.length, new byte[20], ints(-7)),
                a -> Kavro.Hash(i(a, 0), i(a, 1), i(a, 2), b(a, 3), i(a, 4), b(a, 5), n(a, 6)))
                .outputs(5, 6)
                .validCall(f -> succeeds(0).writes(6, ints(20)).calls("C_DigestInit", "C_Digest"))
                .moduleKind()
                .slotId()
                .precedence()
                .required(3, "data")
                .required(5, "digest")
                .requiredOut(6, "digestLength")
                .length(4, 3, "dataLength", succeeds(0).writes(6, ints(20)).calls("C_DigestInit", "C_Digest"));
        // Refused before any module call, with the room offered as the length.
        selector(method, 2, "hashType", refused(1003).writes(6, ints(20)), true,
                Integer.MIN_VALUE, -1, 3, Integer.MAX_VALUE);
        method.with("digest array empty", 5, new byte[0], fails(CKR_BUFFER_TOO_SMALL).writes(6, ints(20)));
        return method;
    }

    static HostileCases.Method cipher(String name, boolean encrypt) {
        HostileCases.Method method = row(name, Returns.CODE,
                f -> encrypt ? args(f.kind, f.slot, f.publicKey, 0, DATA.clone(), DATA.length, new byte[ROOM], ints(-7))
                        : args(f.kind, f.slot, f.privateKey, 0, f.cipher.clone(), f.cipher.length, new byte[ROOM],
                                ints(-7)),
                a -> encrypt ? Kavro.Encrypt(i(a, 0), i(a, 1), i(a, 2), i(a, 3), b(a, 4), i(a, 5), b(a, 6), n(a, 7))
                        : Kavro.Decrypt(i(a, 0), i(a, 1), i(a, 2), i(a, 3), b(a, 4), i(a, 5), b(a, 6), n(a, 7)))
                .outputs(6, 7);
        String init = encrypt ? "C_EncryptInit" : "C_DecryptInit";
        String run = encrypt ? "C_Encrypt" : "C_Decrypt";
        Function<Fixture, Expect> valid = encrypt
                ? f -> succeeds(0).writes(7, ints(f.cipher.length)).calls(init, run)
                : f -> succeeds(0).writes(6, Arrays.copyOf(DATA, ROOM)).writes(7, ints(DATA.length)).calls(init, run);
        method.validCall(valid)
                .moduleKind()
                .slotId()
                .precedence()
                .required(4, "input")
                .required(6, "output")
                .requiredOut(7, "outputLength")
                // Empty input goes to the module: the mock encrypts it, and no ciphertext is empty.
                .length(5, 4, "inputLength", encrypt ? succeeds(0).writes(7, ints(MOCK_SIGNATURE)).calls(init, run)
                        : fails(CKR_ENCRYPTED_DATA_INVALID).writes(7, ints(ROOM)).calls(init, run));
        keyHandles(method, 2, fails(CKR_KEY_HANDLE_INVALID).writes(7, ints(ROOM)).calls(init));
        for (int reserved : new int[] {Integer.MIN_VALUE, -1, Integer.MAX_VALUE}) {
            method.with("reserved " + reserved, 3, f -> reserved, valid, false);
        }
        method.with("output array empty", 6, new byte[0],
                fails(CKR_BUFFER_TOO_SMALL).writes(7, ints(encrypt ? MOCK_SIGNATURE : DATA.length)));
        return method;
    }

    // --- the runs ---

    /** The table has a row for every token method of the class; the system-store methods come later. */
    @Test
    @Order(0)
    void everyTokenMethodHasARow() {
        Set<String> natives = Arrays.stream(Kavro.class.getDeclaredMethods())
                .filter(m -> Modifier.isNative(m.getModifiers())).map(Method::getName)
                .collect(Collectors.toCollection(TreeSet::new));
        natives.removeAll(Set.of("ListCertByCSP", "SignByCSP", "VerifyByCSP"));
        Set<String> rows = table().stream().map(m -> m.name).collect(Collectors.toCollection(TreeSet::new));
        assertEquals(natives, rows);
        assertEquals(24, rows.size());
    }

    @TestFactory
    @Order(1)
    Stream<DynamicTest> onTheMock() {
        MockFixture fixture = new MockFixture();
        return table().stream().flatMap(m -> m.cases.stream())
                .map(c -> DynamicTest.dynamicTest(c.displayName(), () -> c.run(fixture)));
    }

    @TestFactory
    @Order(2)
    Stream<DynamicTest> onSoftHsm() {
        SoftHsmFixture fixture = new SoftHsmFixture();
        List<Case> cases = table().stream().flatMap(m -> m.cases.stream()).filter(c -> c.portableTo(fixture))
                .collect(Collectors.toList());
        return cases.stream().map(c -> DynamicTest.dynamicTest(c.displayName(), () -> c.run(fixture)));
    }
}
