package kavrotest;

import static kavrotest.MockToken.derInteger;
import static kavrotest.MockToken.hex;
import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import Brelmont.Kavro;
import Brelmont.KavroCertificates;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.Test;

/**
 * ListCertSerial and KavroCertificates.ReadCertificate against the mock:
 * counting, filling, module order, refusals and failed reads.
 */
class CertificateListingMockTest {
    private static final int KIND = 1;
    private static final int CKR_ATTRIBUTE_TYPE_INVALID = 0x12;
    private static final int CKR_FUNCTION_FAILED = 0x6;
    private static final int CKR_DEVICE_ERROR = 0x30;

    private static byte[][] filled(int count, int size) {
        byte[][] serials = new byte[count][size];
        for (byte[] serial : serials) {
            Arrays.fill(serial, (byte) 0x5A);
        }
        return serials;
    }

    private static int[] minusOnes(int count) {
        int[] values = new int[count];
        Arrays.fill(values, -1);
        return values;
    }

    @Test
    void serialsComeOutAsContentOctetsInTheModulesOrder() {
        MockToken token = MockToken.connect(KIND);
        // Handles decide the mock's order, not the order of creation.
        token.certificate("01", "020105", "handle=900");
        token.certificate("02", "0209008a01020304050607", "handle=300");
        token.certificate("03", "020180", "handle=600");
        byte[][] serials = filled(3, 12);
        int[] lengths = minusOnes(3);
        int[] count = {-1};
        assertEquals(0, Kavro.ListCertSerial(KIND, token.slot, serials, lengths, count));
        assertArrayEquals(new int[] {3}, count);
        assertArrayEquals(new int[] {9, 1, 1}, lengths);
        assertEquals("008a010203040506075a5a5a", hex(serials[0], 12));
        assertEquals("805a5a5a5a5a5a5a5a5a5a5a", hex(serials[1], 12), "bytes past a serial stay as they were");
        assertEquals("05", hex(serials[2], 1));
        // The certificate template, and one size query and one fetch per certificate.
        List<String> init = token.mock.calls("C_FindObjectsInit");
        assertEquals(1, init.size());
        assertTrue(init.get(0).contains("count=2"), init.get(0));
        assertTrue(init.get(0).endsWith("0x0=" + classValue(1) + ",0x1=01"), init.get(0));
        assertEquals(6, token.mock.calls("C_GetAttributeValue").size());
        token.assertSearchesClosed();
    }

    /** CKO_CERTIFICATE (1) as the native CK_OBJECT_CLASS bytes the mock journals. */
    static String classValue(int objectClass) {
        return MockModule.ulongOctets(objectClass);
    }

    @Test
    void countingReadsNoAttributeAndIsNotLimitedToTwenty() {
        MockToken token = MockToken.connect(KIND);
        for (int i = 0; i < 25; i++) {
            token.certificate(String.format("%02x", i), derInteger(String.format("%02x", i + 1)));
        }
        // A certificate that is no token object is not counted.
        token.certificate("77", "020177", "token=0");
        int[] count = {-1};
        assertEquals(0, Kavro.ListCertSerial(KIND, token.slot, null, null, count));
        assertEquals(25, count[0]);
        count[0] = -1;
        assertEquals(0, Kavro.ListCertSerial(KIND, token.slot, new byte[25][1], null, count));
        assertEquals(25, count[0]);
        count[0] = -1;
        assertEquals(0, Kavro.ListCertSerial(KIND, token.slot, null, new int[25], count));
        assertEquals(25, count[0]);
        assertEquals(0, token.mock.calls("C_GetAttributeValue").size());
        token.assertSearchesClosed();
    }

    @Test
    void moreThanTwentyCertificatesAndLongSerialsAreListedWhole() {
        MockToken token = MockToken.connect(KIND);
        StringBuilder long60 = new StringBuilder();
        for (int i = 0; i < 60; i++) {
            long60.append(String.format("%02x", i + 1));
        }
        for (int i = 0; i < 24; i++) {
            token.certificate(String.format("%02x", i), derInteger(String.format("%02x", i + 1)));
        }
        token.certificate("60", derInteger(long60.toString()));
        byte[][] serials = filled(25, 60);
        int[] lengths = minusOnes(25);
        int[] count = {-1};
        assertEquals(0, Kavro.ListCertSerial(KIND, token.slot, serials, lengths, count));
        assertEquals(25, count[0]);
        for (int i = 0; i < 24; i++) {
            assertEquals(1, lengths[i]);
            assertEquals(i + 1, serials[i][0]);
        }
        assertEquals(60, lengths[24]);
        assertEquals(long60.toString(), hex(serials[24], 60));
    }

    @Test
    void aSerialNumberShorterThanTwoOctetsHasAnEmptyContent() {
        MockToken token = MockToken.connect(KIND);
        token.certificate("01", "05");
        token.certificate("02", "0201");
        token.certificate("03", "020107");
        byte[][] serials = filled(3, 2);
        int[] lengths = minusOnes(3);
        int[] count = {-1};
        assertEquals(0, Kavro.ListCertSerial(KIND, token.slot, serials, lengths, count));
        assertArrayEquals(new int[] {0, 0, 1}, lengths);
        assertEquals("5a5a", hex(serials[0], 2));
        assertEquals("5a5a", hex(serials[1], 2));
        assertEquals("075a", hex(serials[2], 2));
        // Empty elements are long enough for empty serials.
        assertEquals(0, Kavro.ListCertSerial(KIND, token.slot, new byte[][] {{}, {}, {0}}, lengths, count));
    }

    @Test
    void aTokenWithoutCertificatesWritesOnlyTheCount() {
        MockToken token = MockToken.connect(KIND);
        token.privateKey("01");
        byte[][] serials = filled(1, 1);
        int[] lengths = minusOnes(1);
        int[] count = {-1};
        assertEquals(0, Kavro.ListCertSerial(KIND, token.slot, serials, lengths, count));
        assertArrayEquals(new int[] {0}, count);
        assertArrayEquals(new int[] {-1}, lengths);
        assertEquals(0x5A, serials[0][0]);
        token.assertSearchesClosed();
    }

    @Test
    void arraysTooShortForTheCertificatesAreRefusedWithTheTrueCount() {
        MockToken token = MockToken.connect(KIND);
        token.certificate("01", "020101");
        token.certificate("02", "020102");
        token.certificate("03", "020103");
        int[] count = {-1};
        byte[][] twoSerials = filled(2, 4);
        int[] lengths = minusOnes(3);
        assertEquals(1003, Kavro.ListCertSerial(KIND, token.slot, twoSerials, lengths, count));
        assertEquals(3, count[0]);
        assertArrayEquals(minusOnes(3), lengths);
        assertEquals(0x5A, twoSerials[0][0]);

        count[0] = -1;
        byte[][] serials = filled(3, 4);
        assertEquals(1003, Kavro.ListCertSerial(KIND, token.slot, serials, minusOnes(2), count));
        assertEquals(3, count[0]);
        assertEquals(0x5A, serials[0][0]);

        // Sized from the count, a second call succeeds.
        assertEquals(0, Kavro.ListCertSerial(KIND, token.slot, serials, lengths, count));
        assertArrayEquals(new int[] {1, 1, 1}, lengths);
        assertArrayEquals(new byte[] {1, 2, 3}, new byte[] {serials[0][0], serials[1][0], serials[2][0]});
    }

    @Test
    void everySerialsElementIsCheckedBeforeAnyIsWritten() {
        MockToken token = MockToken.connect(KIND);
        token.certificate("01", "020101");
        token.certificate("02", "02020202");
        token.certificate("03", "020103");
        byte[][][] unfit = {
            {{0x5A}, {0x5A}, null},          // the last element missing
            {{0x5A}, {0x5A}, {0x5A}},        // the second too short for two octets
            {{0x5A}, {0x5A, 0x5A}, {}},      // the last empty
        };
        for (byte[][] serials : unfit) {
            byte[][] before = Arrays.stream(serials).map(s -> s == null ? null : s.clone()).toArray(byte[][]::new);
            int[] lengths = minusOnes(3);
            int[] count = {-1};
            assertEquals(1003, Kavro.ListCertSerial(KIND, token.slot, serials, lengths, count));
            assertEquals(3, count[0]);
            assertArrayEquals(minusOnes(3), lengths);
            assertArrayEquals(before, serials);
        }
        token.assertSearchesClosed();
    }

    @Test
    void aFailedReadEndsTheListingWithTheModulesResult() {
        MockToken token = MockToken.connect(KIND);
        token.certificate("01", "020101");
        token.certificate("02", "020102", "failattr=CKA_SERIAL_NUMBER");
        token.certificate("03", "020103");
        byte[][] serials = filled(3, 1);
        int[] lengths = minusOnes(3);
        int[] count = {-1};
        assertEquals(CKR_ATTRIBUTE_TYPE_INVALID, Kavro.ListCertSerial(KIND, token.slot, serials, lengths, count));
        assertEquals(1, count[0], "certificates handled before the failure");
        assertArrayEquals(minusOnes(3), lengths);
        assertEquals(0x5A, serials[0][0], "no serial is copied out");
        // Counting reads no attribute, so it still sees all three.
        assertEquals(0, Kavro.ListCertSerial(KIND, token.slot, null, null, count));
        assertEquals(3, count[0]);
        token.assertSearchesClosed();
    }

    @Test
    void lengthsTheModuleCannotMeanAreFailedReads() {
        for (String fault : new String[] {"unavailable=CKA_SERIAL_NUMBER", "overlength=CKA_SERIAL_NUMBER"}) {
            MockToken token = MockToken.connect(KIND);
            token.certificate("01", "020101");
            token.certificate("02", "020102", fault);
            int[] count = {-1};
            int[] lengths = minusOnes(2);
            assertEquals(CKR_FUNCTION_FAILED,
                    Kavro.ListCertSerial(KIND, token.slot, filled(2, 1), lengths, count), fault);
            assertEquals(1, count[0]);
            assertArrayEquals(minusOnes(2), lengths);
            token.assertSearchesClosed();
        }
    }

    @Test
    void aFailedSearchStepReturnsItsResultAndTheCountSoFar() {
        MockToken token = MockToken.connect(KIND);
        token.certificate("01", "020101");
        token.certificate("02", "020102");
        token.certificate("03", "020103");
        token.mock.run("fail C_FindObjects " + CKR_DEVICE_ERROR + " skip=2");
        int[] count = {-1};
        assertEquals(CKR_DEVICE_ERROR, Kavro.ListCertSerial(KIND, token.slot, null, null, count));
        assertEquals(2, count[0]);
        token.assertSearchesClosed();

        // A search that did not start shows as the error of its first step.
        token.mock.run("fail C_FindObjectsInit 0x91");
        token.mock.clearJournal();
        count[0] = -1;
        assertEquals(0x91, Kavro.ListCertSerial(KIND, token.slot, filled(3, 1), new int[3], count));
        assertEquals(0, count[0]);
        assertEquals(List.of("C_FindObjectsInit", "C_FindObjects", "C_FindObjectsFinal"), token.mock.callNames());
    }

    @Test
    void countIsRequiredAndChecksComeInOrder() {
        MockToken token = MockToken.connect(KIND);
        token.certificate("01", "020101");
        byte[][] serials = filled(1, 1);
        int[] lengths = minusOnes(1);
        assertEquals(1003, Kavro.ListCertSerial(KIND, token.slot, serials, lengths, null));
        assertEquals(1003, Kavro.ListCertSerial(KIND, token.slot, serials, lengths, new int[0]));
        assertEquals(List.of(), token.mock.journal());
        int[] count = {-1};
        assertEquals(1002, Kavro.ListCertSerial(KIND, 6999, serials, lengths, count));
        assertEquals(1001, Kavro.ListCertSerial(5, 6999, null, null, null));
        assertEquals(-1, count[0]);
        assertEquals(-1, lengths[0]);
    }

    @Test
    void readCertificateGivesEachCertificateWholeInTheModulesOrder() {
        MockToken token = MockToken.connect(KIND);
        token.certificate("01", "020105", "handle=900", "value=hex:30820001aa", "label=signing");
        token.certificate("0203", "0209008a01020304050607", "handle=300", "value=hex:3003020101");
        byte[][] fields = new byte[KavroCertificates.FIELDS][];
        assertEquals(0, KavroCertificates.ReadCertificate(KIND, token.slot, 1, fields));
        assertEquals("3003020101", hex(fields[KavroCertificates.VALUE], 5));
        assertEquals(0, fields[KavroCertificates.LABEL].length, "no label: an empty one");
        assertEquals("0203", hex(fields[KavroCertificates.ID], 2));
        assertEquals("008a01020304050607", hex(fields[KavroCertificates.SERIAL], 9),
                "the serial content the ByCertSerial methods compare");
        assertEquals(0, KavroCertificates.ReadCertificate(KIND, token.slot, 2, fields));
        assertEquals("signing", new String(fields[KavroCertificates.LABEL], java.nio.charset.StandardCharsets.UTF_8));
        assertEquals(5, fields[KavroCertificates.VALUE].length);
        token.assertSearchesClosed();

        byte[][] untouched = new byte[KavroCertificates.FIELDS][];
        for (int ordinal : new int[] {3, 0, -1, Integer.MIN_VALUE}) {
            assertEquals(1011, KavroCertificates.ReadCertificate(KIND, token.slot, ordinal, untouched), "" + ordinal);
        }
        assertEquals(1003, KavroCertificates.ReadCertificate(KIND, token.slot, 1, null));
        assertEquals(1003, KavroCertificates.ReadCertificate(KIND, token.slot, 1, new byte[3][]));
        assertEquals(1002, KavroCertificates.ReadCertificate(KIND, 0x7FFF0001, 1, untouched));
        assertEquals(1001, KavroCertificates.ReadCertificate(7, token.slot, 1, untouched));
        assertArrayEquals(new byte[KavroCertificates.FIELDS][], untouched, "written only on success");
        token.mock.run("fail C_GetAttributeValue 0x30");
        assertEquals(CKR_DEVICE_ERROR, KavroCertificates.ReadCertificate(KIND, token.slot, 1, untouched));
    }
}
