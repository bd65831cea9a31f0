package kavrotest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import Brelmont.Kavro;
import java.util.Arrays;
import java.util.stream.IntStream;
import org.junit.jupiter.api.Test;

/** Module kind 0 is the SoftHSM2 token store of this test run, reached through the module bridge. */
class SoftHsmSlotsTest {
    @Test
    void theInitialisedTokensAreFoundUnderTheirSlotIds() {
        assertEquals(0, Kavro.Initialize(TokenStore.KIND));
        int[] ids = new int[8];
        int[] count = {0};
        assertEquals(0, Kavro.GetSlotList(TokenStore.KIND, ids, count));
        // Two initialised tokens and the free slot's blank token.
        assertEquals(3, count[0]);
        int[] found = Arrays.copyOf(ids, count[0]);
        for (String token : new String[] {"main", "admin"}) {
            int slot = TokenStore.slot(token);
            assertTrue(IntStream.of(found).anyMatch(id -> id == slot), token + " slot in " + Arrays.toString(found));
        }
    }
}
