package kavrotest;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNotEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import Brelmont.Kavro;
import java.util.List;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;

/**
 * Slot discovery against the mock module. The slot registry lives as long
 * as the JVM, so every test uses slot ids of its own. A registered slot is
 * recognised by DisconnectToken answering 0 (no session: no module call)
 * where an unknown one answers 1002.
 */
class DiscoveryTest {
    private final MockModule mock = MockModule.forKind(1);
    private final MockModule other = MockModule.forKind(2);

    @BeforeEach
    void freshMocks() {
        mock.reset();
        other.reset();
    }

    private static boolean registered(int slotId) {
        return Kavro.DisconnectToken(1, slotId) != 1002;
    }

    @Test
    void onlySlotsWithATokenAreReportedButEverySlotIsRegistered() {
        mock.run("slot 101 token=0; slot 102; slot 103 token=0");
        int[] ids = {-5, -5, -5};
        int[] count = {-5};
        assertEquals(0, Kavro.GetSlotList(1, ids, count));
        assertArrayEquals(new int[] {102, -5, -5}, ids);
        assertArrayEquals(new int[] {1}, count);
        assertTrue(registered(101) && registered(102) && registered(103));
        assertEquals(List.of("C_GetSlotList", "C_GetSlotList", "C_GetTokenInfo", "C_GetTokenInfo",
                "C_GetTokenInfo"), mock.callNames().subList(0, 5));
        assertEquals(List.of("C_GetSlotList tokenPresent=0 list=null count=0",
                "C_GetSlotList tokenPresent=0 list=set count=3"), mock.calls("C_GetSlotList"));
    }

    @Test
    void aModuleWithoutSlotsWritesNothingAndRegistersNothing() {
        int[] ids = {-5};
        int[] count = {-5};
        assertEquals(1012, Kavro.GetSlotList(1, ids, count));
        assertArrayEquals(new int[] {-5}, ids);
        assertArrayEquals(new int[] {-5}, count);
        assertEquals(1, mock.calls("C_GetSlotList").size());
    }

    @Test
    void slotsWithoutTokensGive1012AndACountOfZero() {
        mock.run("slot 201 token=0; slot 202 token=0");
        int[] ids = {-5, -5};
        int[] count = {-5};
        assertEquals(1012, Kavro.GetSlotList(1, ids, count));
        assertArrayEquals(new int[] {-5, -5}, ids);
        assertArrayEquals(new int[] {0}, count);
        assertTrue(registered(201) && registered(202));
    }

    @Test
    void discoveryRunsWithBothArraysNull() {
        mock.run("slot 301 token=0");
        assertEquals(1012, Kavro.GetSlotList(1, null, null));
        assertTrue(registered(301));
        mock.run("slot 302");
        assertEquals(0, Kavro.GetSlotList(1, null, null));
        assertTrue(registered(302));
        assertEquals(0, Kavro.GetSlotList(1, null, new int[0]), "an empty count array is written nowhere");
    }

    @Test
    void slotIdsWithTheTopBitSetAreRegisteredAndFound() {
        mock.run("slot 0x80000001; slot 0x7FFFFFFF; slot 0xFFFFFFFE; slot 0");
        int[] ids = new int[4];
        int[] count = {0};
        assertEquals(0, Kavro.GetSlotList(1, ids, count));
        assertArrayEquals(new int[] {0x80000001, 0x7FFFFFFF, 0xFFFFFFFE, 0}, ids);
        mock.clearJournal();
        for (int id : ids) {
            assertNotEquals(0, Kavro.ConnectToken(1, id), "slot " + Integer.toUnsignedString(id));
        }
        assertEquals(List.of("2147483649", "2147483647", "4294967294", "0"),
                mock.calls("C_OpenSession").stream().map(line -> line.split(" ")[1].substring(5))
                        .collect(java.util.stream.Collectors.toList()));
        for (int id : ids) {
            assertEquals(0, Kavro.DisconnectToken(1, id));
        }
        assertEquals(1002, Kavro.DisconnectToken(1, 0x80000002));
    }

    @Test
    void eachKindKeepsItsOwnSlotUnderAnIdBothModulesUse() {
        mock.run("slot 401");
        other.run("slot 401; slot 402");
        assertEquals(0, Kavro.GetSlotList(1, null, null));
        assertEquals(0, Kavro.GetSlotList(2, null, null));
        int mine = Kavro.ConnectToken(1, 401);
        int theirs = Kavro.ConnectToken(2, 401);
        assertNotEquals(0, mine);
        assertNotEquals(0, theirs);
        mock.clearJournal();
        other.clearJournal();
        assertEquals(0, Kavro.DisconnectToken(2, 401));
        assertEquals(List.of("C_CloseSession session=" + theirs), other.journal());
        assertEquals(List.of(), mock.journal(), "kind 2's call never reaches kind 1's module");
        assertEquals("1", mock.state(401, "sessions"), "kind 1's session stays open");
        assertEquals(0, Kavro.DisconnectToken(1, 401));
        assertEquals(List.of("C_CloseSession session=" + mine), mock.journal());
        assertEquals(1002, Kavro.DisconnectToken(1, 402), "a slot only kind 2 listed is unknown to kind 1");
        assertEquals(0, Kavro.ConnectToken(1, 402));
        assertEquals("1002", Kavro.RetrieveSerial(1, 402));
    }

    @Test
    void aShortIdArrayReceivesWhatFitsAndTheCountTellsTheTruth() {
        mock.run("slot 501; slot 502; slot 503");
        int[] ids = {-5};
        int[] count = {-5};
        assertEquals(0, Kavro.GetSlotList(1, ids, count));
        assertArrayEquals(new int[] {501}, ids);
        assertArrayEquals(new int[] {3}, count);
        count[0] = -5;
        assertEquals(0, Kavro.GetSlotList(1, new int[0], count));
        assertArrayEquals(new int[] {3}, count);
        assertTrue(registered(503));
    }

    @Test
    void slotsPluggedInBetweenTheTwoListCallsAreFetchedAgain() {
        mock.run("slot 601; set slotlist.growafterquery 2");
        int[] ids = new int[3];
        int[] count = {0};
        assertEquals(0, Kavro.GetSlotList(1, ids, count));
        assertEquals(3, count[0]);
        assertEquals(601, ids[0]);
        assertEquals(3, mock.calls("C_GetSlotList").size(), "size query, too-small fetch, fetch");
    }

    @Test
    void aFetchReportingMoreIdsThanItWasGivenRoomForVisitsOnlyTheRoom() {
        mock.run("slot 701; slot 702; set slotlist.fetchcount 5000");
        int[] ids = new int[10];
        int[] count = {0};
        assertEquals(0, Kavro.GetSlotList(1, ids, count));
        assertEquals(2, count[0]);
        assertEquals(2, mock.calls("C_GetTokenInfo").size());
    }

    @Test
    void aFetchReportingFewerIdsVisitsOnlyThose() {
        mock.run("slot 711; slot 712; set slotlist.fetchcount 1");
        int[] ids = {-5, -5};
        int[] count = {0};
        assertEquals(0, Kavro.GetSlotList(1, ids, count));
        assertArrayEquals(new int[] {711, -5}, ids);
        assertEquals(1, count[0]);
        assertTrue(registered(711));
        assertEquals(1002, Kavro.DisconnectToken(1, 712));
    }

    @Test
    void aSizeQueryReportingNoSlotsEndsTheDiscovery() {
        mock.run("slot 721; set slotlist.querycount 0");
        int[] count = {-5};
        assertEquals(1012, Kavro.GetSlotList(1, null, count));
        assertEquals(-5, count[0]);
        assertEquals(1002, Kavro.DisconnectToken(1, 721));
    }

    @Test
    void aFailedFetchRegistersAndReportsNothing() {
        // The size query counts three slots; the fetch fails and writes no id.
        assertEquals(0, Kavro.Initialize(1));
        mock.run("slot 0x3301; slot 0x3302; slot 0x3303; fail C_GetSlotList 0x5 skip=1; journal-clear");
        int[] ids = {-5, -5, -5};
        int[] count = {-5};
        assertEquals(1012, Kavro.GetSlotList(1, ids, count));
        assertArrayEquals(new int[] {-5, -5, -5}, ids);
        assertEquals(0, count[0]);
        assertEquals(List.of("C_GetSlotList", "C_GetSlotList"), mock.callNames(), "no token asked after it");
        assertEquals(1002, Kavro.DisconnectToken(1, 0), "no slot 0 made up from the unwritten ids");
    }

    @Test
    void aTokenThatFailsToAnswerIsCountedAsAbsentAndDiscoveryGoesOn() {
        mock.run("slot 801; slot 802; slot 803; fail C_GetTokenInfo 0x30 skip=1");
        int[] ids = {-5, -5, -5};
        int[] count = {0};
        assertEquals(0, Kavro.GetSlotList(1, ids, count));
        assertArrayEquals(new int[] {801, 803, -5}, ids);
        assertEquals(2, count[0]);
    }

    @Test
    void aSecondDiscoveryKeepsLiveSessionsAndDropsThoseOfGoneTokensWithoutClosingThem() {
        mock.run("slot 901; slot 902");
        assertEquals(0, Kavro.GetSlotList(1, null, null));
        int kept = Kavro.ConnectToken(1, 901);
        int dropped = Kavro.ConnectToken(1, 902);
        assertNotEquals(0, kept);
        assertNotEquals(0, dropped);
        mock.run("token 902 present=0");
        mock.clearJournal();
        int[] count = {0};
        assertEquals(0, Kavro.GetSlotList(1, null, count));
        assertEquals(1, count[0]);
        assertEquals(List.of(), mock.calls("C_CloseSession"), "discovery closes nothing");
        assertEquals(0, Kavro.DisconnectToken(1, 902));
        assertEquals(List.of(), mock.calls("C_CloseSession"), "the gone token's handle was dropped");
        assertEquals(0, Kavro.DisconnectToken(1, 901));
        assertEquals(List.of("C_CloseSession session=" + kept), mock.calls("C_CloseSession"));
    }
}
