package kavrotest;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import Brelmont.Kavro;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.MethodOrderer;
import org.junit.jupiter.api.Order;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.TestMethodOrder;

/** Starting token modules: each kind at most once per process, failures start over. */
@TestMethodOrder(MethodOrderer.OrderAnnotation.class)
class ModuleStartTest {
    private static final List<String> START = Arrays.asList("C_GetFunctionList", "E_GetAuxFunctionList",
            "C_Initialize");

    @Test
    @Order(1)
    void kindsOutsideTheTableAreRefusedByBothMethods() {
        for (int kind : new int[] {5, -1, 100, 1000, Integer.MIN_VALUE, Integer.MAX_VALUE}) {
            assertEquals(1001, Kavro.Initialize(kind), "kind " + kind);
            int[] ids = {-7, -7};
            int[] count = {-7};
            assertEquals(1001, Kavro.GetSlotList(kind, ids, count), "kind " + kind);
            assertArrayEquals(new int[] {-7, -7}, ids);
            assertArrayEquals(new int[] {-7}, count);
        }
    }

    @Test
    @Order(2)
    void aModuleStartsOnceAndASecondInitializeMakesNoModuleCall() {
        MockModule mock = MockModule.forKind(1).reset();
        assertEquals(0, Kavro.Initialize(1));
        assertEquals(START, mock.callNames());
        // Threads may call at once: the module is to lock with the system's own primitives.
        assertEquals("C_Initialize flags=0x2", mock.calls("C_Initialize").get(0));
        mock.clearJournal();
        assertEquals(0, Kavro.Initialize(1));
        assertEquals(List.of(), mock.journal());
    }

    @Test
    @Order(3)
    void aRefusedInitializeGives1001AndTheNextCallStartsOver() {
        MockModule mock = MockModule.forKind(2).reset();
        mock.run("fail C_Initialize 0x6 times=2");
        assertEquals(1001, Kavro.Initialize(2));
        assertEquals(START, mock.callNames());
        mock.clearJournal();
        assertEquals(1001, Kavro.GetSlotList(2, null, null));
        assertEquals(START, mock.callNames(), "the whole start is tried again");
        // A module that cannot lock (CKR_CANT_LOCK) is started for one thread at a time.
        mock.clearJournal();
        mock.run("fail C_Initialize 0xA times=1");
        assertEquals(0, Kavro.Initialize(2));
        assertEquals(List.of("C_Initialize flags=0x2", "C_Initialize args=null"), mock.calls("C_Initialize"));
    }

    /** Runs RetrieveSerial on two slots from two threads at once; returns how often calls met in the module. */
    private static long callsThatMet(MockModule mock, int kind, int... slots) throws InterruptedException {
        for (int slot : slots) {
            assertTrue(Kavro.ConnectToken(kind, slot) != 0);
        }
        mock.run("set journal.off 1; set overlap.window.us 2000");
        Thread[] threads = new Thread[slots.length];
        for (int t = 0; t < slots.length; t++) {
            int slot = slots[t];
            threads[t] = new Thread(() -> {
                for (int round = 0; round < 20; round++) {
                    Kavro.RetrieveSerial(kind, slot);
                }
            });
            threads[t].start();
        }
        for (Thread thread : threads) {
            thread.join();
        }
        mock.run("set overlap.window.us 0; set journal.off 0");
        return Long.parseLong(mock.run("module-overlaps").trim());
    }

    @Test
    @Order(4)
    void aModuleInitialisedBySomeoneElseCountsAsStartedAndIsCalledOneCallAtATime() throws Exception {
        MockModule mock = MockModule.forKind(3).reset();
        mock.run("initialise; slot 9; slot 10");
        assertEquals(0, Kavro.Initialize(3));
        assertEquals(START, mock.callNames());
        mock.clearJournal();
        assertEquals(0, Kavro.Initialize(3));
        assertEquals(List.of(), mock.journal());
        int[] ids = {0, 0};
        int[] count = {0};
        assertEquals(0, Kavro.GetSlotList(3, ids, count));
        assertArrayEquals(new int[] {9, 10}, ids);
        assertArrayEquals(new int[] {2}, count);
        // Its initialiser may have promised it one thread: calls on two slots never meet.
        assertEquals(0, callsThatMet(mock, 3, 9, 10));
        // A module kavro initialised with OS locking is called on both slots at once.
        MockModule own = MockModule.forKind(1).reset();
        own.run("slot 9; slot 10");
        assertEquals(0, Kavro.GetSlotList(1, null, null));
        assertTrue(callsThatMet(own, 1, 9, 10) > 0);
    }

    @Test
    @Order(5)
    void twoKindsStayStartedSideBySide() {
        MockModule mock = MockModule.forKind(3);
        assertEquals(0, Kavro.Initialize(0));
        mock.clearJournal();
        assertEquals(0, Kavro.Initialize(3));
        assertEquals(0, Kavro.Initialize(0));
        assertEquals(List.of(), mock.journal(), "kind 3 stays started after kind 0 was started");
        int[] count = {-1};
        assertEquals(0, Kavro.GetSlotList(0, null, count));
        assertTrue(count[0] >= 2);
    }

    @Test
    @Order(6)
    void aModuleFinalisedBehindKavrosBackWorksAgainAfterInitializeAndGetSlotList() {
        MockModule mock = MockModule.forKind(2).reset();
        mock.run("slot 21");
        assertEquals(0, Kavro.GetSlotList(2, null, null));
        assertTrue(Kavro.ConnectToken(2, 21) != 0);
        mock.run("finalise; journal-clear");
        byte[] digest = new byte[20];
        int[] length = {20};
        assertEquals(0x190, Kavro.Hash(2, 21, 0, new byte[64], 64, digest, length), "the call that saw it");
        mock.clearJournal();
        assertEquals(0, Kavro.Initialize(2));
        assertEquals(List.of("C_Initialize flags=0x2"), mock.journal(), "started again");
        mock.clearJournal();
        assertEquals(0, Kavro.DisconnectToken(2, 21), "the session that ended with the module is forgotten");
        assertEquals(List.of(), mock.journal());
        assertEquals(0, Kavro.GetSlotList(2, null, null));
        assertTrue(Kavro.ConnectToken(2, 21) != 0);
        length[0] = 20;
        assertEquals(0, Kavro.Hash(2, 21, 0, new byte[64], 64, digest, length));
        // A token call, not only Initialize, starts it again.
        mock.run("finalise");
        assertEquals(0x190, Kavro.Hash(2, 21, 0, new byte[64], 64, digest, length));
        mock.clearJournal();
        assertEquals(0, Kavro.GetSlotList(2, null, null));
        assertEquals(List.of("C_Initialize", "C_GetSlotList"), mock.callNames().subList(0, 2));
    }
}
