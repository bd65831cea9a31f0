package bench;

import Brelmont.Kavro;
import java.io.BufferedReader;
import java.io.FileInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.security.KeyStore;
import java.security.MessageDigest;
import java.security.PrivateKey;
import java.security.Provider;
import java.security.PublicKey;
import java.security.Security;
import java.security.Signature;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.Properties;
import javax.crypto.Cipher;
import kavrotest.MockModule;
import sun.security.pkcs11.wrapper.CK_ATTRIBUTE;
import sun.security.pkcs11.wrapper.PKCS11;
import sun.security.pkcs11.wrapper.PKCS11Constants;

/**
 * kavro against the module called straight from C and against the JDK's
 * SunPKCS11 provider, on one SoftHSM2 token with an RSA-2048 key; then
 * kavro's own floor against the mock module, and discovery scale.
 *
 * Usage: KavroBench tokens.properties raw_bench softhsm_module report.md full|quick [operation,...]
 * With operations named, only they are measured and printed; the report is left alone.
 */
public final class KavroBench {
    private static final int KIND = 0;
    private static final int MOCK_KIND = 1;
    private static final int SCALE_KIND = 2;

    private final Properties tokens;
    private final String rawBench;
    private final String module;
    private final Timer timer;
    private final int slot;
    private final byte[] pin;
    private final byte[] serial;
    private final X509Certificate certificate;

    private final byte[] data64 = new byte[64];
    private final byte[] data32 = new byte[32];
    private final byte[] data1m = new byte[1 << 20];

    private KavroBench(String[] args) throws Exception {
        tokens = new Properties();
        try (InputStream in = new FileInputStream(args[0])) {
            tokens.load(in);
        }
        rawBench = args[1];
        module = args[2];
        boolean quick = args.length > 4 && args[4].equals("quick");
        timer = quick ? new Timer(100, 100, 5) : new Timer(1000, 500, 11);
        slot = (int) Long.parseLong(tokens.getProperty("main.slot"));
        pin = tokens.getProperty("user.pin").getBytes(StandardCharsets.US_ASCII);
        byte[] der = Files.readAllBytes(Paths.get(tokens.getProperty("certs.dir"), "cert01.der"));
        certificate = (X509Certificate) CertificateFactory.getInstance("X.509")
                .generateCertificate(new java.io.ByteArrayInputStream(der));
        serial = certificate.getSerialNumber().toByteArray();
        for (int i = 0; i < data1m.length; i++) {
            data1m[i] = (byte) (i * 31);
        }
        System.arraycopy(data1m, 0, data64, 0, 64);
        System.arraycopy(data1m, 64, data32, 0, 32);
    }

    public static void main(String[] args) throws Exception {
        KavroBench bench = new KavroBench(args);
        if (args.length > 5) {
            bench.run(Paths.get(args[3]), args[5].split(","), false);
        } else {
            bench.run(Paths.get(args[3]));
        }
    }

    private static void require(boolean condition, String what) {
        if (!condition) {
            throw new IllegalStateException("check failed: " + what);
        }
    }

    private static void expect(int code, String what) {
        require(code == 0, what + " returned " + code);
    }

    // --- the three columns on SoftHSM2 ---

    private static final String[] OPERATIONS = {
        "serial", "digest64", "digest1m", "sign", "verify", "findkey", "encrypt", "decrypt",
    };

    private static final Map<String, String> TITLES = new LinkedHashMap<>();

    static {
        TITLES.put("serial", "token info / serial");
        TITLES.put("digest64", "SHA-1 digest, 64 bytes");
        TITLES.put("digest1m", "SHA-1 digest, 1 MiB");
        TITLES.put("sign", "sign 64 bytes, CKM_SHA1_RSA_PKCS");
        TITLES.put("verify", "verify 64 bytes, CKM_SHA1_RSA_PKCS");
        TITLES.put("findkey", "find private key by certificate serial");
        TITLES.put("encrypt", "RSA encrypt 32 bytes (CKM_RSA_PKCS)");
        TITLES.put("decrypt", "RSA decrypt 32 bytes (CKM_RSA_PKCS)");
    }

    /** kavro on one slot: a session, a login, the key handles found once. */
    private final class KavroColumn {
        final int kind;
        final int slotId;
        final byte[] certSerial;
        final int privateKey;
        final int publicKey;
        final String expectedSerial;
        final byte[] digest = new byte[20];
        final int[] length = {0};
        final byte[] signature = new byte[512];
        final int[] signatureLength = {0};
        final byte[] ciphertext = new byte[512];
        final int[] ciphertextLength = {0};
        final byte[] plain = new byte[512];
        final int[] handle = {0};

        KavroColumn(int kind, int slotId, byte[] certSerial, byte[] userPin) {
            this.kind = kind;
            this.slotId = slotId;
            this.certSerial = certSerial;
            expect(Kavro.GetSlotList(kind, null, null), "GetSlotList");
            require(Kavro.ConnectToken(kind, slotId) != 0, "ConnectToken");
            expect(Kavro.Login(kind, slotId, userPin), "Login");
            int[] found = {0};
            expect(Kavro.EnumPrivateKeyByCertSerial(kind, slotId, certSerial, certSerial.length, found), "private key");
            privateKey = found[0];
            expect(Kavro.EnumPublicKeyByCertSerial(kind, slotId, certSerial, certSerial.length, found), "public key");
            publicKey = found[0];
            expectedSerial = Kavro.RetrieveSerial(kind, slotId);
            sign();
            encrypt();
        }

        Timer.Operation operation(String name) {
            switch (name) {
                case "serial": return () -> require(Kavro.RetrieveSerial(kind, slotId).equals(expectedSerial), "serial");
                case "digest64": return () -> digest(data64, 64);
                case "digest1m": return () -> digest(data1m, data1m.length);
                case "sign": return this::sign;
                case "verify": return () -> expect(Kavro.Verify(kind, slotId, publicKey, 0, data64, 64, signature,
                        signatureLength[0]), "Verify");
                case "findkey": return () -> {
                    expect(Kavro.EnumPrivateKeyByCertSerial(kind, slotId, certSerial, certSerial.length, handle),
                            "EnumPrivateKeyByCertSerial");
                    require(handle[0] == privateKey, "same key");
                };
                case "encrypt": return this::encrypt;
                case "decrypt": return () -> {
                    plain[0] = 0;
                    expect(Kavro.Decrypt(kind, slotId, privateKey, 0, ciphertext, ciphertextLength[0], plain, length),
                            "Decrypt");
                };
                default: throw new IllegalArgumentException(name);
            }
        }

        void digest(byte[] data, int dataLength) {
            length[0] = 0;
            expect(Kavro.Hash(kind, slotId, 0, data, dataLength, digest, length), "Hash");
        }

        void sign() {
            expect(Kavro.Sign(kind, slotId, privateKey, 0, data64, 64, signature, signatureLength), "Sign");
        }

        void encrypt() {
            expect(Kavro.Encrypt(kind, slotId, publicKey, 0, data32, 32, ciphertext, ciphertextLength), "Encrypt");
        }

        void close() {
            Kavro.Logout(kind, slotId);
            Kavro.DisconnectToken(kind, slotId);
        }
    }

    private Timer.Check softHsmCheck(String name, KavroColumn kavro) {
        return () -> {
            switch (name) {
                case "digest64":
                    require(Arrays.equals(Arrays.copyOf(kavro.digest, kavro.length[0]),
                            MessageDigest.getInstance("SHA-1").digest(data64)), "digest");
                    break;
                case "digest1m":
                    require(Arrays.equals(Arrays.copyOf(kavro.digest, kavro.length[0]),
                            MessageDigest.getInstance("SHA-1").digest(data1m)), "digest");
                    break;
                case "sign": {
                    Signature check = Signature.getInstance("SHA1withRSA");
                    check.initVerify(certificate.getPublicKey());
                    check.update(data64);
                    require(check.verify(Arrays.copyOf(kavro.signature, kavro.signatureLength[0])), "signature");
                    break;
                }
                case "encrypt": {
                    int[] length = {0};
                    byte[] plain = new byte[256];
                    expect(Kavro.Decrypt(kavro.kind, kavro.slotId, kavro.privateKey, 0, kavro.ciphertext,
                            kavro.ciphertextLength[0], plain, length), "Decrypt");
                    require(Arrays.equals(Arrays.copyOf(plain, length[0]), data32), "round trip");
                    break;
                }
                case "decrypt":
                    require(Arrays.equals(Arrays.copyOf(kavro.plain, kavro.length[0]), data32), "decrypt");
                    break;
                default:
                    break;
            }
        };
    }

    /** The JDK's provider on the same module and slot, through its public API where it has one. */
    private final class SunColumn {
        final Provider provider;
        final PKCS11 wrapper;
        final long session;
        final PrivateKey privateKey;
        final PublicKey publicKey;
        final MessageDigest sha1;
        final Signature signer;
        final Signature verifier;
        final Cipher encryptor;
        final Cipher decryptor;
        byte[] digest;
        byte[] signature;
        byte[] ciphertext;
        byte[] plain;

        SunColumn() throws Exception {
            String config = "--name=bench\nlibrary=" + module + "\nslot=" + Integer.toUnsignedString(slot) + "\n";
            provider = Security.getProvider("SunPKCS11").configure(config);
            KeyStore store = KeyStore.getInstance("PKCS11", provider);
            store.load(null, new String(pin, StandardCharsets.US_ASCII).toCharArray());
            String alias = null;
            for (String name : java.util.Collections.list(store.aliases())) {
                if (store.isKeyEntry(name) && certificate.equals(store.getCertificate(name))) {
                    alias = name;
                }
            }
            require(alias != null, "key entry for the certificate");
            privateKey = (PrivateKey) store.getKey(alias, null);
            publicKey = store.getCertificate(alias).getPublicKey();
            wrapper = PKCS11.getInstance(module, "C_GetFunctionList", null, false);
            session = wrapper.C_OpenSession(Integer.toUnsignedLong(slot), PKCS11Constants.CKF_SERIAL_SESSION, null,
                    null);
            sha1 = MessageDigest.getInstance("SHA-1", provider);
            signer = Signature.getInstance("SHA1withRSA", provider);
            verifier = Signature.getInstance("SHA1withRSA", provider);
            encryptor = Cipher.getInstance("RSA/ECB/PKCS1Padding", provider);
            decryptor = Cipher.getInstance("RSA/ECB/PKCS1Padding", provider);
            encryptor.init(Cipher.ENCRYPT_MODE, publicKey);
            decryptor.init(Cipher.DECRYPT_MODE, privateKey);
            sign();
            ciphertext = encryptor.doFinal(data32);
        }

        void sign() throws Exception {
            signer.initSign(privateKey);
            signer.update(data64);
            signature = signer.sign();
        }

        Timer.Operation operation(String name) {
            switch (name) {
                case "serial": return () -> require(wrapper.C_GetTokenInfo(Integer.toUnsignedLong(slot))
                        .serialNumber.length == 16, "serial");
                case "digest64": return () -> digest = sha1.digest(data64);
                case "digest1m": return () -> digest = sha1.digest(data1m);
                case "sign": return this::sign;
                case "verify": return () -> {
                    verifier.initVerify(publicKey);
                    verifier.update(data64);
                    require(verifier.verify(signature), "verify");
                };
                case "findkey": return this::findKey;
                case "encrypt": return () -> ciphertext = encryptor.doFinal(data32);
                case "decrypt": return () -> plain = decryptor.doFinal(ciphertext);
                default: throw new IllegalArgumentException(name);
            }
        }

        /** No public API finds a key by certificate serial: the low-level wrapper, the same calls as kavro. */
        void findKey() throws Exception {
            CK_ATTRIBUTE[] certificates = {
                new CK_ATTRIBUTE(PKCS11Constants.CKA_CLASS, PKCS11Constants.CKO_CERTIFICATE),
                new CK_ATTRIBUTE(PKCS11Constants.CKA_TOKEN, true),
            };
            byte[] id = null;
            wrapper.C_FindObjectsInit(session, certificates);
            try {
                long[] found;
                while (id == null && (found = wrapper.C_FindObjects(session, 1)).length == 1) {
                    CK_ATTRIBUTE[] values = {
                        new CK_ATTRIBUTE(PKCS11Constants.CKA_ID), new CK_ATTRIBUTE(PKCS11Constants.CKA_SERIAL_NUMBER),
                    };
                    wrapper.C_GetAttributeValue(session, found[0], values);
                    byte[] value = values[1].getByteArray();
                    if (value.length >= 2 && Arrays.equals(Arrays.copyOfRange(value, 2, value.length), serial)) {
                        id = values[0].getByteArray();
                    }
                }
            } finally {
                wrapper.C_FindObjectsFinal(session);
            }
            require(id != null, "certificate found");
            CK_ATTRIBUTE[] keys = {
                new CK_ATTRIBUTE(PKCS11Constants.CKA_CLASS, PKCS11Constants.CKO_PRIVATE_KEY),
                new CK_ATTRIBUTE(PKCS11Constants.CKA_TOKEN, true),
                new CK_ATTRIBUTE(PKCS11Constants.CKA_ID, id),
            };
            wrapper.C_FindObjectsInit(session, keys);
            try {
                require(wrapper.C_FindObjects(session, 1).length == 1, "key found");
            } finally {
                wrapper.C_FindObjectsFinal(session);
            }
        }

        Timer.Check check(String name) {
            return () -> {
                switch (name) {
                    case "digest64":
                        require(Arrays.equals(digest, MessageDigest.getInstance("SHA-1").digest(data64)), "digest");
                        break;
                    case "digest1m":
                        require(Arrays.equals(digest, MessageDigest.getInstance("SHA-1").digest(data1m)), "digest");
                        break;
                    case "sign": {
                        Signature check = Signature.getInstance("SHA1withRSA");
                        check.initVerify(certificate.getPublicKey());
                        check.update(data64);
                        require(check.verify(signature), "signature");
                        break;
                    }
                    case "encrypt":
                        require(Arrays.equals(decryptor.doFinal(ciphertext), data32), "round trip");
                        break;
                    case "decrypt":
                        require(Arrays.equals(plain, data32), "decrypt");
                        break;
                    default:
                        break;
                }
            };
        }
    }

    private double raw(String operation) throws Exception {
        List<String> command = List.of(rawBench, module, Integer.toUnsignedString(slot),
                new String(pin, StandardCharsets.US_ASCII), operation, hex(serial),
                Long.toString(timer.warmupMillis), Long.toString(timer.roundMillis), Integer.toString(timer.rounds));
        Process process = new ProcessBuilder(command).redirectErrorStream(true).start();
        String median = null;
        StringBuilder output = new StringBuilder();
        try (BufferedReader in = new BufferedReader(new InputStreamReader(process.getInputStream()))) {
            String line;
            while ((line = in.readLine()) != null) {
                output.append(line).append('\n');
                if (line.startsWith("median ")) {
                    median = line.substring(7);
                }
            }
        }
        require(process.waitFor() == 0 && median != null, "raw_bench " + operation + ": " + output);
        return Double.parseDouble(median);
    }

    private static String hex(byte[] bytes) {
        StringBuilder text = new StringBuilder();
        for (byte b : bytes) {
            text.append(String.format("%02x", b & 0xFF));
        }
        return text.toString();
    }

    // --- the floor: kavro against the mock module, beside an empty native call ---

    private Map<String, Double> mockFloor() throws Exception {
        MockModule mock = MockModule.forKind(MOCK_KIND);
        int mockSlot = 0x4242;
        mock.run("reset; set journal.off 1; set sign.length 256; set cipher.length 256; slot " + mockSlot
                + " userpin=1234; object " + mockSlot + " class=cert id=hex:01 serial=hex:0201" + hex(new byte[] {5})
                + "; object " + mockSlot + " class=private id=hex:01; object " + mockSlot + " class=public id=hex:01");
        KavroColumn kavro = new KavroColumn(MOCK_KIND, mockSlot, new byte[] {5}, "1234".getBytes());
        Map<String, Double> floor = new LinkedHashMap<>();
        floor.put("empty native call", timer.medianNanos(() -> EmptyNative.call(MOCK_KIND, mockSlot), () -> { }));
        for (String name : new String[] {"serial", "digest64", "sign", "verify", "findkey", "encrypt", "decrypt"}) {
            floor.put(TITLES.get(name).replace(", CKM_SHA1_RSA_PKCS", "").replace(" (CKM_RSA_PKCS)", ""),
                    timer.medianNanos(kavro.operation(name), () -> { }));
        }
        kavro.close();
        return floor;
    }

    private Map<Integer, Double> discoveryScale() throws Exception {
        MockModule mock = MockModule.forKind(SCALE_KIND);
        Map<Integer, Double> perSlot = new LinkedHashMap<>();
        int base = 0x10000;
        for (int slots : new int[] {1, 100, 10_000}) {
            StringBuilder script = new StringBuilder("reset; set journal.off 1");
            for (int i = 0; i < slots; i++) {
                script.append("; slot ").append(base + i);
            }
            mock.run(script.toString());
            base += 0x100000;
            int[] ids = new int[slots];
            int[] count = {0};
            double call = timer.medianNanos(() -> expect(Kavro.GetSlotList(SCALE_KIND, ids, count), "GetSlotList"),
                    () -> require(count[0] == slots, "all slots found"));
            perSlot.put(slots, call / slots);
        }
        return perSlot;
    }

    // --- throughput: threads at once, on one slot and spread over four ---

    static final int[] THREADS = {1, 2, 4, 8};

    /** One thread's operation on the slot with the given index; false when its result is wrong. */
    interface ThreadWork {
        boolean run() throws Exception;
    }

    interface ThreadWorkFactory {
        ThreadWork forThread(int slotIndex) throws Exception;
    }

    /**
     * The two columns' operations per second, all threads together, in
     * interleaved rounds: each round runs one column's threads and then the
     * other's (which goes first alternates), each after a short warm-up of
     * its own, so that a machine whose speed drifts during the run weighs on
     * both alike. The median round of each column counts. Thread t works on
     * slot t % slots.
     */
    private double[] throughput(int threads, int slots, ThreadWorkFactory first, ThreadWorkFactory second)
            throws Exception {
        int rounds = Math.max(3, timer.rounds / 2);
        double[][] perSecond = new double[2][rounds];
        ThreadWorkFactory[] columns = {first, second};
        for (int round = 0; round < rounds; round++) {
            for (int turn = 0; turn < 2; turn++) {
                int column = (round + turn) % 2;
                perSecond[column][round] = segment(threads, slots, columns[column]);
            }
        }
        double[] medians = new double[2];
        for (int column = 0; column < 2; column++) {
            Arrays.sort(perSecond[column]);
            medians[column] = perSecond[column][rounds / 2];
        }
        return medians;
    }

    /** One column's threads for one round: started, warmed up, counted over a round, stopped. */
    private double segment(int threads, int slots, ThreadWorkFactory factory) throws Exception {
        java.util.concurrent.atomic.AtomicLongArray counts = new java.util.concurrent.atomic.AtomicLongArray(threads);
        java.util.concurrent.atomic.AtomicBoolean stop = new java.util.concurrent.atomic.AtomicBoolean();
        java.util.concurrent.ConcurrentLinkedQueue<String> failures = new java.util.concurrent.ConcurrentLinkedQueue<>();
        List<Thread> workers = new ArrayList<>();
        for (int t = 0; t < threads; t++) {
            int thread = t;
            ThreadWork work = factory.forThread(t % slots);
            workers.add(new Thread(() -> {
                try {
                    while (!stop.get()) {
                        if (!work.run()) {
                            failures.add("thread " + thread + ": a wrong result");
                            return;
                        }
                        counts.incrementAndGet(thread);
                    }
                } catch (Exception e) {
                    failures.add("thread " + thread + ": " + e);
                }
            }));
        }
        workers.forEach(Thread::start);
        Thread.sleep(Math.max(100, timer.warmupMillis / 4));
        long before = total(counts);
        long start = System.nanoTime();
        Thread.sleep(timer.roundMillis);
        double perSecond = (total(counts) - before) * 1e9 / (System.nanoTime() - start);
        stop.set(true);
        for (Thread worker : workers) {
            worker.join();
        }
        require(failures.isEmpty(), "throughput: " + failures);
        return perSecond;
    }

    private static long total(java.util.concurrent.atomic.AtomicLongArray counts) {
        long sum = 0;
        for (int i = 0; i < counts.length(); i++) {
            sum += counts.get(i);
        }
        return sum;
    }

    /** One slot of the throughput runs: kavro's key and SunPKCS11's provider and key on it. */
    private final class ThroughputSlot {
        final int slotId;
        final Provider provider;
        final int kavroKey;
        final PrivateKey sunKey;
        final PublicKey publicKey;

        ThroughputSlot(int index, int slotId, String certificateFile) throws Exception {
            this.slotId = slotId;
            require(Kavro.ConnectToken(KIND, slotId) != 0, "ConnectToken " + slotId);
            expect(Kavro.Login(KIND, slotId, pin), "Login " + slotId);
            X509Certificate own = (X509Certificate) CertificateFactory.getInstance("X.509").generateCertificate(
                    Files.newInputStream(Paths.get(tokens.getProperty("certs.dir"), certificateFile)));
            publicKey = own.getPublicKey();
            byte[] ownSerial = own.getSerialNumber().toByteArray();
            int[] found = {0};
            expect(Kavro.EnumPrivateKeyByCertSerial(KIND, slotId, ownSerial, ownSerial.length, found), "key");
            kavroKey = found[0];
            // A provider per slot, with its own pool of sessions.
            provider = Security.getProvider("SunPKCS11").configure("--name=throughput" + index + "\nlibrary="
                    + module + "\nslot=" + Integer.toUnsignedString(slotId) + "\n");
            KeyStore store = KeyStore.getInstance("PKCS11", provider);
            store.load(null, new String(pin, StandardCharsets.US_ASCII).toCharArray());
            PrivateKey key = null;
            for (String alias : java.util.Collections.list(store.aliases())) {
                if (store.isKeyEntry(alias) && own.equals(store.getCertificate(alias))) {
                    key = (PrivateKey) store.getKey(alias, null);
                }
            }
            require(key != null, "SunPKCS11 key on slot " + slotId);
            sunKey = key;
        }

        boolean verifies(byte[] signature, int length) throws Exception {
            Signature check = Signature.getInstance("SHA1withRSA");
            check.initVerify(publicKey);
            check.update(data64);
            return check.verify(Arrays.copyOf(signature, length));
        }

        void close() {
            Kavro.Logout(KIND, slotId);
            Kavro.DisconnectToken(KIND, slotId);
        }
    }

    /** For each operation, rows by thread count: kavro and SunPKCS11 on one slot, then both over four slots. */
    private Map<String, Map<Integer, double[]>> throughputTables() throws Exception {
        String[] ids = {"main", "admin", "kavrobench3", "kavrobench4"};
        String[] certificates = {"cert01.der", "KavroAdmin.der", "KavroBench3.der", "KavroBench4.der"};
        ThroughputSlot[] slots = new ThroughputSlot[ids.length];
        for (int i = 0; i < ids.length; i++) {
            slots[i] = new ThroughputSlot(i, (int) Long.parseLong(tokens.getProperty(ids[i] + ".slot")),
                    certificates[i]);
        }
        byte[] expected = MessageDigest.getInstance("SHA-1").digest(data64);
        Map<String, ThreadWorkFactory[]> operations = new LinkedHashMap<>();
        operations.put("digest", new ThreadWorkFactory[] {
            index -> {
                byte[] digest = new byte[20];
                int[] length = {0};
                return () -> Kavro.Hash(KIND, slots[index].slotId, 0, data64, 64, digest, length) == 0
                        && Arrays.equals(digest, expected);
            },
            index -> {
                MessageDigest sha1 = MessageDigest.getInstance("SHA-1", slots[index].provider);
                return () -> Arrays.equals(sha1.digest(data64), expected);
            },
        });
        // Every signature is verified, with java.security, on the thread that made it.
        operations.put("sign", new ThreadWorkFactory[] {
            index -> {
                byte[] signature = new byte[256];
                int[] length = {0};
                ThroughputSlot slot = slots[index];
                return () -> Kavro.Sign(KIND, slot.slotId, slot.kavroKey, 0, data64, 64, signature, length) == 0
                        && slot.verifies(signature, length[0]);
            },
            index -> {
                Signature signer = Signature.getInstance("SHA1withRSA", slots[index].provider);
                ThroughputSlot slot = slots[index];
                return () -> {
                    signer.initSign(slot.sunKey);
                    signer.update(data64);
                    byte[] signature = signer.sign();
                    return slot.verifies(signature, signature.length);
                };
            },
        });
        Map<String, Map<Integer, double[]>> tables = new LinkedHashMap<>();
        for (Map.Entry<String, ThreadWorkFactory[]> operation : operations.entrySet()) {
            ThreadWorkFactory kavro = operation.getValue()[0];
            ThreadWorkFactory sun = operation.getValue()[1];
            Map<Integer, double[]> table = new LinkedHashMap<>();
            for (int threads : THREADS) {
                double[] oneSlot = throughput(threads, 1, kavro, sun);
                double[] fourSlots = throughput(threads, 4, kavro, sun);
                double[] row = {oneSlot[0], oneSlot[1], fourSlots[0], fourSlots[1]};
                System.out.printf(Locale.ROOT, "%s, %d threads: kavro %,.0f/s, SunPKCS11 %,.0f/s on one slot; "
                        + "kavro %,.0f/s, SunPKCS11 %,.0f/s over four%n", operation.getKey(), threads, row[0], row[1],
                        row[2], row[3]);
                table.put(threads, row);
            }
            tables.put(operation.getKey(), table);
        }
        for (ThroughputSlot slot : slots) {
            slot.close();
        }
        return tables;
    }

    // --- the report ---

    private void run(Path report) throws Exception {
        run(report, OPERATIONS, true);
    }

    /**
     * With all of OPERATIONS the report is written; with some, they are only
     * printed; "mock" prints the mock module table alone, "threads" the
     * throughput tables alone.
     */
    private void run(Path report, String[] operations, boolean whole) throws Exception {
        System.load(System.getProperty("bench.native"));
        if (!whole && Arrays.asList(operations).contains("mock")) {
            mockFloor().forEach((name, ns) -> System.out.printf(Locale.ROOT, "mock %-40s %8.0f ns%n", name, ns));
            return;
        }
        if (!whole && Arrays.asList(operations).contains("threads")) {
            expect(Kavro.GetSlotList(KIND, null, null), "GetSlotList");
            throughputTables();
            return;
        }
        Map<String, double[]> results = new LinkedHashMap<>();
        KavroColumn kavro = new KavroColumn(KIND, slot, serial, pin);
        SunColumn sun = new SunColumn();
        for (String name : operations) {
            require(RawInJvm.setUp(module, slot, new String(pin, StandardCharsets.US_ASCII), name, hex(serial)),
                    "raw measurement in the JVM: " + name);
            Timer.Round rawInJvm = millis -> {
                double nanos = RawInJvm.round(millis);
                require(nanos > 0, "raw round in the JVM: " + name);
                return nanos;
            };
            double[] medians;
            try {
                medians = timer.medianNanos(List.of(Timer.of(kavro.operation(name), softHsmCheck(name, kavro)),
                        Timer.of(sun.operation(name), sun.check(name)), rawInJvm));
            } finally {
                RawInJvm.tearDown();
            }
            double r = raw(name);
            results.put(name, new double[] {medians[0], medians[1], r, medians[2]});
            System.out.printf(Locale.ROOT, "%-10s kavro %10.0f  SunPKCS11 %10.0f  raw %10.0f  raw in JVM %10.0f ns%n",
                    name, medians[0], medians[1], r, medians[2]);
        }
        kavro.close();
        if (!whole) {
            return;
        }
        Map<String, Map<Integer, double[]>> throughput = throughputTables();
        Map<String, Double> floor = mockFloor();
        floor.forEach((name, ns) -> System.out.printf(Locale.ROOT, "mock %-40s %8.0f ns%n", name, ns));
        Map<Integer, Double> scale = discoveryScale();
        scale.forEach((n, ns) -> System.out.printf(Locale.ROOT, "GetSlotList %6d slots: %8.1f ns per slot%n", n, ns));
        String kept = Files.exists(report) ? Report.keptSections(Files.readString(report)) : "";
        Files.writeString(report, Report.markdown(timer, TITLES, results, throughput, floor, scale) + kept);
        System.out.println("written: " + report);
    }
}
