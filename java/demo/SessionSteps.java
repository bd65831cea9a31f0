package demo;

import Brelmont.Kavro;
import java.nio.charset.StandardCharsets;
import java.util.Properties;

/**
 * Sessions, login, the token serial and PIN administration. KavroMain is
 * left connected and logged in as the user; KavroAdmin's PINs are changed
 * and put back, and its session closed.
 */
final class SessionSteps {
    private SessionSteps() {
    }

    static void run(Report report, Properties tokens) {
        final int kind = Walkthrough.KIND;
        byte[] userPin = tokens.getProperty("user.pin").getBytes(StandardCharsets.US_ASCII);
        byte[] soPin = tokens.getProperty("so.pin").getBytes(StandardCharsets.US_ASCII);

        report.section("Session, login and serial on \"KavroMain\"");
        int main = (int) Long.parseLong(tokens.getProperty("main.slot"));
        report.session("ConnectToken: open a session", Kavro.ConnectToken(kind, main));
        report.step("Login with the user PIN", Kavro.Login(kind, main, userPin), 0);
        report.serial("RetrieveSerial: the token's serial", Kavro.RetrieveSerial(kind, main),
                tokens.getProperty("main.serial"));
        byte[] newUserPin = "24680246".getBytes(StandardCharsets.US_ASCII);
        report.step("SetUserPin: change the user PIN", Kavro.SetUserPin(kind, main, userPin, newUserPin), 0);
        report.step("SetUserPin: and back", Kavro.SetUserPin(kind, main, newUserPin, userPin), 0);
        report.step("Login again: still logged in as the user", Kavro.Login(kind, main, userPin), 0);

        report.section("Security officer on \"KavroAdmin\"");
        int admin = (int) Long.parseLong(tokens.getProperty("admin.slot"));
        report.session("ConnectToken", Kavro.ConnectToken(kind, admin));
        report.step("VerifySoPin with the plain SO PIN", Kavro.VerifySoPin(kind, admin, soPin), 0);
        String adminSerial = report.serial("RetrieveSerial: the key of the PIN transport",
                Kavro.RetrieveSerial(kind, admin), tokens.getProperty("admin.serial"));
        if (adminSerial == null || adminSerial.length() != 16) {
            return;
        }
        byte[] soText = PinTransport.text(soPin, adminSerial);
        byte[] newSoPin = "11223344".getBytes(StandardCharsets.US_ASCII);
        byte[] newSoText = PinTransport.text(newSoPin, adminSerial);
        report.note("SO PIN transport text made in Java: "
                + new String(soText, 0, soText.length - 1, StandardCharsets.US_ASCII));
        report.step("SetSoPin: the token takes the SO PIN as a transport text made in Java, and a new one",
                Kavro.SetSoPin(kind, admin, soText, newSoText), 0);
        report.step("VerifySoPin with the new SO PIN", Kavro.VerifySoPin(kind, admin, newSoPin), 0);
        report.step("SetSoPin: and back", Kavro.SetSoPin(kind, admin, newSoText, soText), 0);
        report.step("VerifySoPin with the SO PIN", Kavro.VerifySoPin(kind, admin, soPin), 0);
        report.step("UnlockUserPin: the SO gives the user a PIN", Kavro.UnlockUserPin(kind, admin, soText, userPin), 0);
        report.step("Login with that PIN", Kavro.Login(kind, admin, userPin), 0);
        report.step("Logout", Kavro.Logout(kind, admin), 0);
        report.step("DisconnectToken", Kavro.DisconnectToken(kind, admin), 0);
    }
}
