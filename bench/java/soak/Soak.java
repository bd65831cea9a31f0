package soak;

import Brelmont.Kavro;
import java.io.IOException;
import java.lang.management.ManagementFactory;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.TreeMap;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import javax.management.ObjectName;
import kavrotest.MockModule;
import kavrotest.PinTransport;

/**
 * Leak soak: a million calls of each method class against the mock module
 * (journal off) in one JVM, with native memory read after a warm-up and at
 * the end of each class. Native memory is read three ways: Native Memory
 * Tracking's committed total less the Java heap, and its Internal category
 * (where the JVM keeps array elements and string characters handed to
 * native code); glibc's bytes in use (everything malloc'd in the process,
 * kavro's and the mock's own heap included, which NMT does not see); and
 * the resident set (which also grows as the fixed Java heap is first
 * touched). The JIT compiler's workspace (NMT's Compiler and Arena Chunk)
 * comes and goes by megabytes while methods are compiled and its chunk pool
 * is cleaned; it is shown apart and left out of the NMT and malloc growth.
 *
 * Every call's result is checked, so that a class measures the path it
 * names. Exit status 1 when a class grew by 1 MiB or more in NMT or in the
 * malloc'd bytes.
 *
 * Usage: Soak [calls per class, default 1000000]
 */
public final class Soak {
    static {
        System.load(System.getProperty("kavro.soak.native"));
    }

    private static final int KIND = 1;
    private static final int SLOT = 9901;
    private static final int SESSION_SLOT = 9902;
    private static final int PIN_SLOT = 9903;
    private static final String PIN_SERIAL = "SOAK-PIN-TOKEN-1";
    private static final String SO_PIN = "87654321";
    private static final String OTHER_SO_PIN = "11223344";
    private static final byte[] USER_PIN = "1234".getBytes(StandardCharsets.US_ASCII);
    private static final byte[] DATA = "soak data, thirty-two octets....".getBytes(StandardCharsets.US_ASCII);
    private static final byte[] SERIAL = {1, 2, 3, 4, 5, 6, 7, 8};
    private static final long LIMIT = 1L << 20;

    private static native long mallocInUse();

    /** One call of a class; i counts the calls of the class. */
    private interface Call {
        void run(int i);
    }

    private static final class MethodClass {
        final String name;
        final String methods;
        final Call call;

        MethodClass(String name, String methods, Call call) {
            this.name = name;
            this.methods = methods;
            this.call = call;
        }
    }

    /** Native memory at one moment, in bytes. */
    private static final class Memory {
        final long nmt;
        final long internal;
        final long malloc;
        final long rss;
        /** NMT's committed bytes per category. */
        final Map<String, Long> categories;

        Memory(long nmt, long internal, long malloc, long rss, Map<String, Long> categories) {
            this.nmt = nmt;
            this.internal = internal;
            this.malloc = malloc;
            this.rss = rss;
            this.categories = categories;
        }

        /** The JIT compiler's workspace: NMT's Compiler and Arena Chunk. */
        long jit() {
            return categories.getOrDefault("Compiler", 0L) + categories.getOrDefault("Arena Chunk", 0L);
        }
    }

    private static void check(boolean ok, String what) {
        if (!ok) {
            throw new IllegalStateException("unexpected result: " + what);
        }
    }

    private static void expect(int want, int got, String what) {
        check(want == got, what + " gave " + got + ", not " + want);
    }

    // --- the token and the method classes ---

    private final MockModule mock = MockModule.forKind(KIND);
    private final int[] ids = new int[4];
    private final int[] count = new int[1];
    private int privateKey;
    private int publicKey;
    private byte[] signature;
    private byte[] cipher;

    private void script() {
        mock.reset();
        mock.run("set journal.off 1");
        mock.run("slot " + SLOT + "; slot " + SESSION_SLOT + "; slot " + PIN_SLOT + " serial=" + PIN_SERIAL
                + " sopin=" + SO_PIN);
        mock.run("object " + SLOT + " class=cert id=hex:01 serial=hex:0208" + hex(SERIAL));
        mock.run("object " + SLOT + " class=cert id=hex:02 serial=hex:020105");
        mock.run("object " + SLOT + " class=cert id=hex:03 serial=hex:0203aabbcc");
        privateKey = Integer.parseInt(mock.run("object " + SLOT + " class=private id=hex:01").trim());
        publicKey = Integer.parseInt(mock.run("object " + SLOT + " class=public id=hex:01").trim());
        mock.run("object " + SLOT + " class=private id=hex:02; object " + SLOT + " class=public id=hex:02");
        expect(0, Kavro.GetSlotList(KIND, ids, count), "GetSlotList");
        check(Kavro.ConnectToken(KIND, SLOT) != 0, "ConnectToken");
        check(Kavro.ConnectToken(KIND, PIN_SLOT) != 0, "ConnectToken");
        byte[] room = new byte[256];
        int[] length = {0};
        expect(0, Kavro.Sign(KIND, SLOT, privateKey, 0, DATA, DATA.length, room, length), "Sign");
        signature = Arrays.copyOf(room, length[0]);
        expect(0, Kavro.Encrypt(KIND, SLOT, publicKey, 0, DATA, DATA.length, room, length), "Encrypt");
        cipher = Arrays.copyOf(room, length[0]);
    }

    private List<MethodClass> classes() {
        List<MethodClass> classes = new ArrayList<>();
        classes.add(new MethodClass("module and discovery", "Initialize, GetSlotList", i -> {
            if (i % 2 == 0) {
                expect(0, Kavro.Initialize(KIND), "Initialize");
            } else {
                expect(0, Kavro.GetSlotList(KIND, ids, count), "GetSlotList");
            }
        }));
        byte[] soPin = SO_PIN.getBytes(StandardCharsets.US_ASCII);
        classes.add(new MethodClass("sessions and login",
                "ConnectToken, Login, Logout, VerifySoPin, DisconnectToken", i -> {
                    switch (i % 5) {
                        case 0:
                            check(Kavro.ConnectToken(KIND, SESSION_SLOT) != 0, "ConnectToken");
                            break;
                        case 1:
                            expect(0, Kavro.Login(KIND, SESSION_SLOT, USER_PIN), "Login");
                            break;
                        case 2:
                            expect(0, Kavro.Logout(KIND, SESSION_SLOT), "Logout");
                            break;
                        case 3:
                            expect(0, Kavro.VerifySoPin(KIND, SESSION_SLOT, soPin), "VerifySoPin");
                            break;
                        default:
                            expect(0, Kavro.DisconnectToken(KIND, SESSION_SLOT), "DisconnectToken");
                            break;
                    }
                }));
        classes.add(new MethodClass("token serial", "RetrieveSerial", i ->
                check(Kavro.RetrieveSerial(KIND, PIN_SLOT).equals(PIN_SERIAL), "RetrieveSerial")));
        byte[] so = PinTransport.text(SO_PIN, PIN_SERIAL);
        byte[] otherSo = PinTransport.text(OTHER_SO_PIN, PIN_SERIAL);
        byte[] unlocked = "2468".getBytes(StandardCharsets.US_ASCII);
        byte[] changed = "1357".getBytes(StandardCharsets.US_ASCII);
        classes.add(new MethodClass("PIN administration",
                "SetSoPin (twice), UnlockUserPin, SetUserPin, InitToken, ConnectToken", i -> {
                    switch (i % 6) {
                        case 0:
                            expect(0, Kavro.SetSoPin(KIND, PIN_SLOT, so, otherSo), "SetSoPin");
                            break;
                        case 1:
                            expect(0, Kavro.SetSoPin(KIND, PIN_SLOT, otherSo, so), "SetSoPin");
                            break;
                        case 2:
                            expect(0, Kavro.UnlockUserPin(KIND, PIN_SLOT, so, unlocked), "UnlockUserPin");
                            break;
                        case 3:
                            expect(0, Kavro.SetUserPin(KIND, PIN_SLOT, unlocked, changed), "SetUserPin");
                            break;
                        case 4:
                            expect(0, Kavro.InitToken(KIND, PIN_SLOT, so, changed, "soak"), "InitToken");
                            break;
                        default:
                            check(Kavro.ConnectToken(KIND, PIN_SLOT) != 0, "ConnectToken");
                            break;
                    }
                }));
        byte[][] serials = new byte[3][8];
        int[] lengths = new int[3];
        classes.add(new MethodClass("certificate listing", "ListCertSerial (counting, filling)", i -> {
            expect(0, i % 2 == 0 ? Kavro.ListCertSerial(KIND, SLOT, null, null, count)
                    : Kavro.ListCertSerial(KIND, SLOT, serials, lengths, count), "ListCertSerial");
            expect(3, count[0], "certificate count");
        }));
        int[] handle = new int[1];
        classes.add(new MethodClass("key lookup",
                "EnumPrivateKey, EnumPublicKey, EnumPrivateKeyByCertSerial, EnumPublicKeyByCertSerial", i -> {
                    switch (i % 4) {
                        case 0:
                            expect(0, Kavro.EnumPrivateKey(KIND, SLOT, 2, handle), "EnumPrivateKey");
                            break;
                        case 1:
                            expect(0, Kavro.EnumPublicKey(KIND, SLOT, 2, handle), "EnumPublicKey");
                            break;
                        case 2:
                            expect(0, Kavro.EnumPrivateKeyByCertSerial(KIND, SLOT, SERIAL, SERIAL.length, handle),
                                    "EnumPrivateKeyByCertSerial");
                            expect(privateKey, handle[0], "private key handle");
                            break;
                        default:
                            expect(0, Kavro.EnumPublicKeyByCertSerial(KIND, SLOT, SERIAL, SERIAL.length, handle),
                                    "EnumPublicKeyByCertSerial");
                            expect(publicKey, handle[0], "public key handle");
                            break;
                    }
                }));
        byte[] room = new byte[256];
        int[] length = new int[1];
        classes.add(new MethodClass("signing and verification",
                "Sign, Verify, SignByCertSerial, VerifyByCertSerial", i -> {
                    switch (i % 4) {
                        case 0:
                            expect(0, Kavro.Sign(KIND, SLOT, privateKey, 0, DATA, DATA.length, room, length), "Sign");
                            break;
                        case 1:
                            expect(0, Kavro.Verify(KIND, SLOT, publicKey, 0, DATA, DATA.length, signature,
                                    signature.length), "Verify");
                            break;
                        case 2:
                            expect(0, Kavro.SignByCertSerial(KIND, SLOT, SERIAL, SERIAL.length, 0, DATA, DATA.length,
                                    room, length), "SignByCertSerial");
                            break;
                        default:
                            expect(0, Kavro.VerifyByCertSerial(KIND, SLOT, SERIAL, SERIAL.length, 0, DATA,
                                    DATA.length, signature, signature.length), "VerifyByCertSerial");
                            break;
                    }
                }));
        byte[] digest = new byte[20];
        classes.add(new MethodClass("digest and cipher", "Hash, Encrypt, Decrypt", i -> {
            switch (i % 3) {
                case 0:
                    expect(0, Kavro.Hash(KIND, SLOT, 0, DATA, DATA.length, digest, length), "Hash");
                    break;
                case 1:
                    expect(0, Kavro.Encrypt(KIND, SLOT, publicKey, 0, DATA, DATA.length, room, length), "Encrypt");
                    break;
                default:
                    expect(0, Kavro.Decrypt(KIND, SLOT, privateKey, 0, cipher, cipher.length, room, length),
                            "Decrypt");
                    break;
            }
        }));
        // Failures after Java data was taken: each must give every array and string back.
        byte[][] shortSerials = {new byte[8], new byte[0], new byte[2]};
        byte[] notBase64 = {(byte) 0x80, (byte) 0x81, (byte) 0x82, (byte) 0x83, (byte) 0x84, 0};
        byte[] otherSerial = {1, 2, 3, 4, 5, 6, 7, 9};
        byte[] badSignature = signature.clone();
        badSignature[0] ^= 1;
        classes.add(new MethodClass("failures after taking Java data",
                "ListCertSerial (short element), SetSoPin (not Base64), Sign (selector 4), Hash (type 3), "
                        + "EnumPrivateKeyByCertSerial (no such serial), Verify (bad signature)", i -> {
                    switch (i % 6) {
                        case 0:
                            expect(1003, Kavro.ListCertSerial(KIND, SLOT, shortSerials, lengths, count),
                                    "ListCertSerial");
                            break;
                        case 1:
                            expect(-1, Kavro.SetSoPin(KIND, PIN_SLOT, notBase64, so), "SetSoPin");
                            break;
                        case 2:
                            expect(1008, Kavro.Sign(KIND, SLOT, privateKey, 4, DATA, DATA.length, room, length),
                                    "Sign");
                            break;
                        case 3:
                            expect(1003, Kavro.Hash(KIND, SLOT, 3, DATA, DATA.length, digest, length), "Hash");
                            break;
                        case 4:
                            expect(1006, Kavro.EnumPrivateKeyByCertSerial(KIND, SLOT, otherSerial,
                                    otherSerial.length, handle), "EnumPrivateKeyByCertSerial");
                            break;
                        default:
                            expect(0xC0, Kavro.Verify(KIND, SLOT, publicKey, 0, DATA, DATA.length, badSignature,
                                    badSignature.length), "Verify");
                            break;
                    }
                }));
        return classes;
    }

    // --- measuring ---

    private static final Pattern CATEGORY =
            Pattern.compile("^-\\s+(.+?) \\(reserved=(\\d+)KB, committed=(\\d+)KB\\)", Pattern.MULTILINE);
    private static final Pattern TOTAL =
            Pattern.compile("^Total: reserved=(\\d+)KB, committed=(\\d+)KB", Pattern.MULTILINE);

    private static String nativeMemorySummary() throws Exception {
        return (String) ManagementFactory.getPlatformMBeanServer().invoke(
                new ObjectName("com.sun.management:type=DiagnosticCommand"), "vmNativeMemory",
                new Object[] {new String[] {"summary", "scale=KB"}}, new String[] {String[].class.getName()});
    }

    private static Memory measure() throws Exception {
        System.gc();
        String summary = nativeMemorySummary();
        Matcher total = TOTAL.matcher(summary);
        check(total.find(), "no NMT total; run with -XX:NativeMemoryTracking=summary");
        long committed = Long.parseLong(total.group(2));
        long heap = 0;
        long internal = 0;
        Map<String, Long> categories = new TreeMap<>();
        Matcher category = CATEGORY.matcher(summary);
        while (category.find()) {
            categories.put(category.group(1), Long.parseLong(category.group(3)) * 1024);
            if (category.group(1).equals("Java Heap")) {
                heap = Long.parseLong(category.group(3));
            } else if (category.group(1).equals("Internal")) {
                internal = Long.parseLong(category.group(3));
            }
        }
        return new Memory((committed - heap) * 1024, internal * 1024, mallocInUse(), residentSet(), categories);
    }

    private static long residentSet() throws IOException {
        for (String line : Files.readAllLines(Paths.get("/proc/self/status"))) {
            if (line.startsWith("VmRSS:")) {
                return Long.parseLong(line.replaceAll("[^0-9]", "")) * 1024;
            }
        }
        return -1;
    }

    private static String kib(long bytes) {
        return String.format(Locale.ROOT, "%,d", bytes / 1024);
    }

    private static String delta(long bytes) {
        return String.format(Locale.ROOT, "%+,d", Math.round(bytes / 1024.0));
    }

    private static String hex(byte[] bytes) {
        StringBuilder text = new StringBuilder();
        for (byte b : bytes) {
            text.append(String.format("%02x", b & 0xFF));
        }
        return text.toString();
    }

    public static void main(String[] args) throws Exception {
        int calls = args.length > 0 ? Integer.parseInt(args[0]) : 1_000_000;
        // Whole cycles of every class (2, 3, 4, 5 and 6 calls long).
        int warmup = (Math.max(calls / 20, 1000) + 59) / 60 * 60;
        Soak soak = new Soak();
        soak.script();
        System.out.printf(Locale.ROOT, "Leak soak: %,d calls per method class after %,d warm-up calls; mock module "
                + "(kind %d), journal off; %s %s.%n", calls, warmup, KIND, System.getProperty("java.vm.name"),
                System.getProperty("java.version"));
        System.out.println("Native memory in KiB. NMT: committed, less the Java heap and the JIT compiler's "
                + "workspace (Compiler, Arena Chunk); Internal: NMT's JNI array and string copies; malloc: glibc "
                + "bytes in use (kavro and the mock included), less the JIT workspace's change; JIT: the workspace's "
                + "change; RSS: resident set (the fixed Java heap included).");
        System.out.println();
        System.out.println("| method class | calls | s | NMT after warm-up | NMT growth | Internal growth "
                + "| malloc after warm-up | malloc growth | JIT | RSS growth |");
        System.out.println("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|");
        // Every class is warmed up before the first is measured, so that the JIT compiler's own memory
        // settles first; each class is warmed up again right before its run.
        List<MethodClass> classes = soak.classes();
        for (MethodClass methodClass : classes) {
            for (int i = 0; i < warmup; i++) {
                methodClass.call.run(i);
            }
        }
        Memory first = null;
        boolean grew = false;
        long started = System.nanoTime();
        for (MethodClass methodClass : classes) {
            for (int i = 0; i < warmup; i++) {
                methodClass.call.run(i);
            }
            Memory before = measure();
            if (first == null) {
                first = before;
            }
            long start = System.nanoTime();
            for (int i = 0; i < calls; i++) {
                methodClass.call.run(i);
            }
            double seconds = (System.nanoTime() - start) / 1e9;
            Memory after = measure();
            long jit = after.jit() - before.jit();
            long nmtGrowth = after.nmt - before.nmt - jit;
            long mallocGrowth = after.malloc - before.malloc - jit;
            System.out.printf(Locale.ROOT, "| %s (%s) | %,d | %.1f | %s | %s | %s | %s | %s | %s | %s |%n",
                    methodClass.name, methodClass.methods, calls, seconds, kib(before.nmt - before.jit()),
                    delta(nmtGrowth), delta(after.internal - before.internal), kib(before.malloc),
                    delta(mallocGrowth), delta(jit), delta(after.rss - before.rss));
            grew |= nmtGrowth >= LIMIT || mallocGrowth >= LIMIT;
        }
        Memory last = measure();
        System.out.println();
        long jit = last.jit() - first.jit();
        System.out.printf(Locale.ROOT, "Whole run: %.0f s; from the first measurement to the end: NMT %s KiB, "
                + "Internal %s KiB, malloc %s KiB, JIT %s KiB, RSS %s KiB.%n", (System.nanoTime() - started) / 1e9,
                delta(last.nmt - first.nmt - jit), delta(last.internal - first.internal),
                delta(last.malloc - first.malloc - jit), delta(jit), delta(last.rss - first.rss));
        System.out.println(grew ? "A method class grew by 1 MiB or more." : "Every method class grew by less than 1 MiB.");
        System.exit(grew ? 1 : 0);
    }
}
