package kavrotest;

import Brelmont.Kavro;
import java.util.Arrays;

/**
 * One store or module call in a JVM of its own, for tests that need an
 * environment (HOME, DISPLAY, a terminal or none, the bridge's settings)
 * other than their own JVM's, or its standard error. Prints "key=value"
 * lines: the result, and the call's duration in ms.
 *
 *   initialize KIND
 *   list
 *   sign SOURCE SERIAL|- DATA          (hex)
 *   verify SOURCE CERTIFICATE|- DATA SIGNATURE
 */
public final class StoreChild {
    private StoreChild() {
    }

    public static void main(String[] args) {
        long start = System.nanoTime();
        switch (args[0]) {
            case "initialize":
                System.out.println("initialize=" + Kavro.Initialize(Integer.parseInt(args[1])));
                break;
            case "list": {
                byte[] serial = Kavro.ListCertByCSP();
                System.out.println("list=" + (serial == null ? "null" : StoreFiles.hex(serial)));
                break;
            }
            case "sign": {
                byte[] serial = bytes(args[2]);
                byte[] data = StoreFiles.unhex(args[3]);
                byte[] signature = new byte[1024];
                int[] signatureLength = {0};
                int result = Kavro.SignByCSP(Integer.parseInt(args[1]), serial, serial == null ? 0 : serial.length, 0,
                        data, data.length, signature, signatureLength);
                System.out.println("sign=" + result);
                System.out.println("signature=" + StoreFiles.hex(Arrays.copyOf(signature, signatureLength[0])));
                break;
            }
            case "verify": {
                byte[] certificate = bytes(args[2]);
                byte[] data = StoreFiles.unhex(args[3]);
                byte[] signature = StoreFiles.unhex(args[4]);
                System.out.println("verify=" + Kavro.VerifyByCSP(Integer.parseInt(args[1]), certificate,
                        certificate == null ? 0 : certificate.length, 0, data, data.length, signature,
                        signature.length));
                break;
            }
            default:
                throw new IllegalArgumentException(args[0]);
        }
        System.out.println("ms=" + (System.nanoTime() - start) / 1_000_000);
    }

    private static byte[] bytes(String hex) {
        return hex.equals("-") ? null : StoreFiles.unhex(hex);
    }
}
