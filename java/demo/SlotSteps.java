package demo;

import Brelmont.Kavro;
import java.util.Arrays;
import java.util.Properties;

/** Starting the module and finding the slots. */
final class SlotSteps {
    private SlotSteps() {
    }

    static void run(Report report, Properties tokens) {
        report.section("Module and slots");
        report.step("Initialize: load and start the token module", Kavro.Initialize(Walkthrough.KIND), 0);
        int[] slotIds = new int[16];
        int[] slotCount = {0};
        report.step("GetSlotList: find the slots that hold a token",
                Kavro.GetSlotList(Walkthrough.KIND, slotIds, slotCount), 0);
        int[] found = Arrays.copyOf(slotIds, Math.min(slotCount[0], slotIds.length));
        report.note(slotCount[0] + " slot(s) with a token: " + unsigned(found));
        int main = (int) Long.parseLong(tokens.getProperty("main.slot"));
        report.check("the token \"KavroMain\" is among them (slot " + Integer.toUnsignedString(main) + ")",
                Arrays.stream(found).anyMatch(id -> id == main));
    }

    static String unsigned(int[] ids) {
        StringBuilder text = new StringBuilder();
        for (int id : ids) {
            text.append(text.length() == 0 ? "" : ", ").append(Integer.toUnsignedString(id));
        }
        return text.toString();
    }
}
