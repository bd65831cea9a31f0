package kavrotest;

import static kavrotest.MockToken.derInteger;
import static kavrotest.MockToken.hex;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import Brelmont.Kavro;
import java.util.List;
import org.junit.jupiter.api.Test;

/** EnumPrivateKey, EnumPublicKey and their by-certificate twins against the mock. */
class KeyLookupMockTest {
    private static final int KIND = 2;
    private static final int CKR_DEVICE_ERROR = 0x30;

    private static int enumPrivate(MockToken token, int ordinal, int[] handle) {
        return Kavro.EnumPrivateKey(KIND, token.slot, ordinal, handle);
    }

    private static int enumPublic(MockToken token, int ordinal, int[] handle) {
        return Kavro.EnumPublicKey(KIND, token.slot, ordinal, handle);
    }

    private static int privateBySerial(MockToken token, String serialHex, int[] handle) {
        byte[] serial = hex(serialHex);
        return Kavro.EnumPrivateKeyByCertSerial(KIND, token.slot, serial, serial.length, handle);
    }

    private static int publicBySerial(MockToken token, String serialHex, int[] handle) {
        byte[] serial = hex(serialHex);
        return Kavro.EnumPublicKeyByCertSerial(KIND, token.slot, serial, serial.length, handle);
    }

    @Test
    void ordinalsCountKeysOfTheClassInTheModulesOrder() {
        MockToken token = MockToken.connect(KIND);
        int private2 = token.privateKey("02", "handle=520");
        int public1 = token.publicKey("01", "handle=505");
        int private1 = token.privateKey("01", "handle=510");
        token.certificate("01", "020101", "handle=500");
        int public2 = token.publicKey("02", "handle=530");
        int[] handle = {-1};
        assertEquals(0, enumPrivate(token, 1, handle));
        assertEquals(private1, handle[0]);
        assertEquals(0, enumPrivate(token, 2, handle));
        assertEquals(private2, handle[0]);
        assertEquals(0, enumPublic(token, 1, handle));
        assertEquals(public1, handle[0]);
        assertEquals(0, enumPublic(token, 2, handle));
        assertEquals(public2, handle[0]);
        // The key class template: CKO_PRIVATE_KEY (3) or CKO_PUBLIC_KEY (2), on the token.
        List<String> init = token.mock.calls("C_FindObjectsInit");
        assertTrue(init.get(0).endsWith("count=2 template=0x0=" + MockModule.ulongOctets(3) + ",0x1=01"), init.get(0));
        assertTrue(init.get(2).endsWith("count=2 template=0x0=" + MockModule.ulongOctets(2) + ",0x1=01"), init.get(2));
        token.assertSearchesClosed();
    }

    @Test
    void ordinalZeroIsRefusedWithoutAModuleCall() {
        MockToken token = MockToken.connect(KIND);
        token.privateKey("01");
        token.publicKey("01");
        int[] handle = {-7};
        assertEquals(1011, enumPrivate(token, 0, handle));
        assertEquals(1011, enumPublic(token, 0, handle));
        assertArrayEquals(new int[] {-7}, handle);
        assertEquals(List.of(), token.mock.journal());
    }

    @Test
    void anOrdinalBeyondTheKeysClearsOnlyThePublicHandle() {
        MockToken token = MockToken.connect(KIND);
        token.privateKey("01");
        token.privateKey("02");
        token.publicKey("01");
        int[] handle = {-7};
        assertEquals(1011, enumPrivate(token, 3, handle));
        assertArrayEquals(new int[] {-7}, handle);
        assertEquals(1011, enumPublic(token, 2, handle));
        assertArrayEquals(new int[] {0}, handle);
        assertEquals(3 + 2, token.mock.calls("C_FindObjects").size());
        token.assertSearchesClosed();
    }

    @Test
    void aNegativeOrdinalIsRefusedWithoutASearchAndLeavesTheHandle() {
        MockToken token = MockToken.connect(KIND);
        token.privateKey("01");
        token.publicKey("01");
        int[] handle = {-7};
        assertEquals(1011, enumPrivate(token, -1, handle));
        assertEquals(1011, enumPublic(token, Integer.MIN_VALUE, handle));
        assertArrayEquals(new int[] {-7}, handle);
        assertEquals(List.of(), token.mock.callNames());
    }

    @Test
    void aFailedSearchStepPassesThroughAndClearsOnlyThePublicHandle() {
        MockToken token = MockToken.connect(KIND);
        token.privateKey("01");
        token.privateKey("02");
        token.publicKey("01");
        token.publicKey("02");
        token.mock.run("fail C_FindObjects " + CKR_DEVICE_ERROR + " skip=1");
        int[] handle = {-7};
        assertEquals(CKR_DEVICE_ERROR, enumPrivate(token, 2, handle));
        assertArrayEquals(new int[] {-7}, handle);
        token.mock.run("fail C_FindObjects " + CKR_DEVICE_ERROR + " skip=1");
        assertEquals(CKR_DEVICE_ERROR, enumPublic(token, 2, handle));
        assertArrayEquals(new int[] {0}, handle);
        token.assertSearchesClosed();
    }

    @Test
    void handlesJavaCannotCarryCountAsNotFound() {
        assumeTrue(MockModule.ULONG_BYTES == 8, "CK_ULONG is 32 bits here: no handle is wider than a Java int");
        MockToken token = MockToken.connect(KIND);
        token.certificate("01", "020101");
        token.mock.run("object " + token.slot + " class=private id=hex:01 handle=0x100000007");
        token.mock.run("object " + token.slot + " class=public id=hex:01 handle=0x100000008");
        int[] handle = {-7};
        assertEquals(1011, enumPrivate(token, 1, handle));
        assertArrayEquals(new int[] {-7}, handle);
        assertEquals(1011, enumPublic(token, 1, handle));
        assertArrayEquals(new int[] {0}, handle);
        handle[0] = -7;
        assertEquals(1007, privateBySerial(token, "01", handle));
        assertEquals(1007, publicBySerial(token, "01", handle));
        assertArrayEquals(new int[] {-7}, handle);
    }

    @Test
    void handlesUpToTwoToThe32MinusOneCrossAsTheyAre() {
        MockToken token = MockToken.connect(KIND);
        int[] handle = {-7};
        token.mock.run("object " + token.slot + " class=private id=hex:02 handle=0xFFFFFFFE");
        token.certificate("02", "020102");
        assertEquals(0, privateBySerial(token, "02", handle));
        assertEquals(0xFFFFFFFE, handle[0]);
    }

    @Test
    void theKeyIsTheOneSharingTheCertificatesId() {
        MockToken token = MockToken.connect(KIND);
        token.certificate("0a", derInteger("05"));
        token.certificate("0b", derInteger("0080a1b2c3"));
        token.privateKey("0a");
        int private0b = token.privateKey("0b");
        token.publicKey("0a");
        int public0b = token.publicKey("0b");
        int[] handle = {-7};
        assertEquals(0, privateBySerial(token, "0080a1b2c3", handle));
        assertEquals(private0b, handle[0]);
        assertEquals(0, publicBySerial(token, "0080a1b2c3", handle));
        assertEquals(public0b, handle[0]);
        // The key id template: class, on the token, the certificate's CKA_ID.
        List<String> init = token.mock.calls("C_FindObjectsInit");
        assertTrue(init.get(1).endsWith("count=3 template=0x0=" + MockModule.ulongOctets(3) + ",0x1=01,0x102=0b"),
                init.get(1));
        // One read of both attributes per certificate looked at: sizes, then values.
        String sizes = token.mock.calls("C_GetAttributeValue").get(0);
        assertTrue(sizes.endsWith("count=2 template=0x102=,0x82="), sizes);
        token.assertSearchesClosed();
    }

    @Test
    void serialsCompareExactlyInLengthAndOctets() {
        MockToken token = MockToken.connect(KIND);
        token.certificate("0b", derInteger("0080a1b2c3"));
        token.privateKey("0b");
        int[] handle = {-7};
        assertEquals(1006, privateBySerial(token, "80a1b2c3", handle), "without its leading 00");
        assertEquals(1006, privateBySerial(token, "0080a1b2c300", handle));
        assertEquals(1006, privateBySerial(token, "0080a1b2c4", handle));
        byte[] longer = hex("0080a1b2c3ff");
        assertEquals(0, Kavro.EnumPrivateKeyByCertSerial(KIND, token.slot, longer, 5, handle),
                "only serialLength octets are compared");
        token.assertSearchesClosed();
    }

    @Test
    void unknownSerialGives1006AndACertificateWithoutKey1007() {
        MockToken token = MockToken.connect(KIND);
        token.certificate("04", derInteger("0a0b"));
        token.privateKey("05");
        token.publicKey("05");
        int[] handle = {-7};
        assertEquals(1006, privateBySerial(token, "77", handle));
        assertEquals(1006, publicBySerial(token, "77", handle));
        assertEquals(1007, privateBySerial(token, "0a0b", handle));
        assertEquals(1007, publicBySerial(token, "0a0b", handle));
        assertArrayEquals(new int[] {-7}, handle);
        token.assertSearchesClosed();
        // No search is left open: a listing on the same session works.
        int[] count = {-1};
        assertEquals(0, Kavro.ListCertSerial(KIND, token.slot, null, null, count));
        assertEquals(1, count[0]);
    }

    @Test
    void withTwoCertificatesOfOneSerialTheFirstDecides() {
        MockToken token = MockToken.connect(KIND);
        token.certificate("01", derInteger("0c"));
        token.certificate("02", derInteger("0c"));
        token.privateKey("02");
        int[] handle = {-7};
        assertEquals(1007, privateBySerial(token, "0c", handle), "the first certificate's id has no key");
        int private1 = token.privateKey("01");
        assertEquals(0, privateBySerial(token, "0c", handle));
        assertEquals(private1, handle[0]);
    }

    @Test
    void aCertificateThatCannotBeReadEndsTheSearch() {
        for (String fault : new String[] {"failattr=CKA_ID", "failattr=CKA_SERIAL_NUMBER", "unavailable=CKA_ID",
                "overlength=CKA_SERIAL_NUMBER"}) {
            MockToken token = MockToken.connect(KIND);
            token.certificate("01", derInteger("01"), fault);
            token.certificate("02", derInteger("02"));
            token.privateKey("02");
            token.publicKey("02");
            int[] handle = {-7};
            assertEquals(1006, privateBySerial(token, "02", handle), fault);
            assertEquals(1006, publicBySerial(token, "02", handle), fault);
            assertArrayEquals(new int[] {-7}, handle);
            token.assertSearchesClosed();
        }
    }

    @Test
    void aFailingSearchForTheCertificateGives1006AndForTheKeyItsResult() {
        MockToken token = MockToken.connect(KIND);
        token.certificate("01", derInteger("01"));
        token.privateKey("01");
        int[] handle = {-7};
        token.mock.run("fail C_FindObjects " + CKR_DEVICE_ERROR);
        assertEquals(1006, privateBySerial(token, "01", handle));
        token.mock.run("fail C_FindObjects " + CKR_DEVICE_ERROR + " skip=1");
        assertEquals(CKR_DEVICE_ERROR, privateBySerial(token, "01", handle));
        assertArrayEquals(new int[] {-7}, handle);
        token.assertSearchesClosed();
    }

    @Test
    void idsAndSerialsLongerThanAnyFixedBufferAreMatchedWhole() {
        MockToken token = MockToken.connect(KIND);
        StringBuilder id = new StringBuilder();
        for (int i = 0; i < 300; i++) {
            id.append(String.format("%02x", i & 0xFF));
        }
        StringBuilder serial = new StringBuilder();
        for (int i = 0; i < 60; i++) {
            serial.append(String.format("%02x", 0xA0 ^ i));
        }
        token.certificate(id.toString(), derInteger(serial.toString()));
        // A key whose id agrees with the first 256 octets only must not be taken.
        token.privateKey(id.substring(0, 512));
        int key = token.privateKey(id.toString());
        int[] handle = {-7};
        assertEquals(0, privateBySerial(token, serial.toString(), handle));
        assertEquals(key, handle[0]);
    }

    @Test
    void aSerialNumberShorterThanTwoOctetsMatchesTheEmptySerial() {
        MockToken token = MockToken.connect(KIND);
        token.certificate("01", "05");
        int key = token.privateKey("01");
        int[] handle = {-7};
        assertEquals(0, Kavro.EnumPrivateKeyByCertSerial(KIND, token.slot, new byte[0], 0, handle));
        assertEquals(key, handle[0]);
        assertEquals(1006, privateBySerial(token, "05", handle));
    }

    @Test
    void missingArraysAreRefusedBeforeAnyModuleCall() {
        MockToken token = MockToken.connect(KIND);
        byte[] serial = {1};
        assertEquals(1003, Kavro.EnumPrivateKey(KIND, token.slot, 1, null));
        assertEquals(1003, Kavro.EnumPublicKey(KIND, token.slot, 1, new int[0]));
        assertEquals(1003, Kavro.EnumPrivateKeyByCertSerial(KIND, token.slot, null, 0, new int[1]));
        assertEquals(1003, Kavro.EnumPublicKeyByCertSerial(KIND, token.slot, serial, 1, null));
        assertEquals(1003, Kavro.EnumPublicKeyByCertSerial(KIND, token.slot, serial, 1, new int[0]));
        assertEquals(List.of(), token.mock.journal());
        assertEquals(1002, Kavro.EnumPrivateKey(KIND, 6998, 1, null));
        assertEquals(1001, Kavro.EnumPublicKeyByCertSerial(-1, 6998, null, 0, null));
    }
}
