package demo;

import Brelmont.Kavro;
import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.Properties;

/**
 * A second token, initialised with InitToken: SoftHSM2 always offers one
 * free slot holding an uninitialised token whose serial is 16 blanks, and
 * those 16 blanks are the key of the SO PIN's transport text. After
 * InitToken the token has a serial of its own and no session; the new user
 * PIN is proved by logging in with it.
 *
 * SoftHSM2 keeps the slot id of the initialised token in this process and
 * offers a new free slot at the next discovery; a later process finds both
 * under other ids. scripts/run-demo makes a fresh token store on every run.
 */
final class InitTokenSteps {
    private static final String BLANK_SERIAL = " ".repeat(16);
    private static final String LABEL = "KavroSecond";

    private InitTokenSteps() {
    }

    static void run(Report report, Properties tokens) {
        report.section("A second token, initialised with InitToken");
        final int kind = Walkthrough.KIND;
        byte[] soPin = tokens.getProperty("so.pin").getBytes(StandardCharsets.US_ASCII);
        byte[] userPin = "97531864".getBytes(StandardCharsets.US_ASCII);

        int[] slots = slotsWithAToken(report);
        int free = Arrays.stream(slots).filter(id -> BLANK_SERIAL.equals(Kavro.RetrieveSerial(kind, id)))
                .findFirst().orElse(0);
        if (!report.check("the free slot is found: its token's serial is 16 blanks (slot "
                + Integer.toUnsignedString(free) + ")", Arrays.stream(slots).anyMatch(id -> id == free))) {
            return;
        }
        String blank = report.serial("RetrieveSerial: the uninitialised token's serial, the transport key",
                Kavro.RetrieveSerial(kind, free), BLANK_SERIAL);
        if (blank == null || blank.length() != 16) {
            return;
        }
        byte[] soText = PinTransport.text(soPin, blank);
        report.note("SO PIN transport text under 16 blanks: "
                + new String(soText, 0, soText.length - 1, StandardCharsets.US_ASCII));
        report.step("InitToken: label \"" + LABEL + "\", the SO PIN as a transport text, a first user PIN",
                Kavro.InitToken(kind, free, soText, userPin, LABEL), 0);
        report.serial("RetrieveSerial: the initialised token has a serial of its own",
                Kavro.RetrieveSerial(kind, free), null);
        report.step("DisconnectToken: InitToken left no session, so there is nothing to close",
                Kavro.DisconnectToken(kind, free), 0);
        report.session("ConnectToken: a session on the new token", Kavro.ConnectToken(kind, free));
        report.step("Login with the new user PIN", Kavro.Login(kind, free, userPin), 0);
        report.step("Logout", Kavro.Logout(kind, free), 0);
        report.step("VerifySoPin with the SO PIN it was given", Kavro.VerifySoPin(kind, free, soPin), 0);
        report.step("DisconnectToken", Kavro.DisconnectToken(kind, free), 0);

        int[] after = slotsWithAToken(report);
        report.check("the token keeps its slot id in this process, and SoftHSM2 offers a new free slot ("
                + after.length + " slots with a token, " + slots.length + " before)",
                Arrays.stream(after).anyMatch(id -> id == free) && after.length == slots.length + 1);
    }

    private static int[] slotsWithAToken(Report report) {
        int[] ids = new int[16];
        int[] count = {0};
        report.step("GetSlotList: the slots that hold a token", Kavro.GetSlotList(Walkthrough.KIND, ids, count), 0);
        report.note(count[0] + " slot(s) with a token: " + SlotSteps.unsigned(Arrays.copyOf(ids, Math.min(count[0],
                ids.length))));
        return Arrays.copyOf(ids, Math.min(count[0], ids.length));
    }
}
