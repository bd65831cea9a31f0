package kavrotest;

import Brelmont.Kavro;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;
import java.util.concurrent.CyclicBarrier;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;

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
 *   threads COUNT ROUNDS list|sign ...  (COUNT threads started at once, each making the
 *                                       call ROUNDS times; prints how often each result came)
 */
public final class StoreChild {
    private StoreChild() {
    }

    public static void main(String[] args) throws Exception {
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
            case "threads":
                System.out.println("threads=" + threads(Integer.parseInt(args[1]), Integer.parseInt(args[2]),
                        Arrays.copyOfRange(args, 3, args.length)));
                break;
            default:
                throw new IllegalArgumentException(args[0]);
        }
        System.out.println("ms=" + (System.nanoTime() - start) / 1_000_000);
    }

    private static Map<String, Integer> threads(int count, int rounds, String[] call) throws Exception {
        Map<String, Integer> results = new TreeMap<>();
        CyclicBarrier start = new CyclicBarrier(count);
        ExecutorService pool = Executors.newFixedThreadPool(count);
        try {
            List<Future<?>> threads = new ArrayList<>();
            for (int i = 0; i < count; i++) {
                threads.add(pool.submit(() -> {
                    start.await();
                    for (int round = 0; round < rounds; round++) {
                        String result = once(call);
                        synchronized (results) {
                            results.merge(result, 1, Integer::sum);
                        }
                    }
                    return null;
                }));
            }
            for (Future<?> thread : threads) {
                thread.get();
            }
        } finally {
            pool.shutdown();
        }
        return results;
    }

    /** A list or sign call's result: the serial or "null", the code. */
    private static String once(String[] call) {
        if (call[0].equals("list")) {
            byte[] serial = Kavro.ListCertByCSP();
            return serial == null ? "null" : StoreFiles.hex(serial);
        }
        byte[] serial = bytes(call[2]);
        byte[] data = StoreFiles.unhex(call[3]);
        return Integer.toString(Kavro.SignByCSP(Integer.parseInt(call[1]), serial, serial == null ? 0 : serial.length,
                0, data, data.length, new byte[1024], new int[1]));
    }

    private static byte[] bytes(String hex) {
        return hex.equals("-") ? null : StoreFiles.unhex(hex);
    }
}
