package kavrotest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;

import Brelmont.Kavro;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.file.StandardCopyOption;
import java.time.Duration;
import java.util.Map;
import org.junit.jupiter.api.Test;

/** HOME without an NSS database: the store cannot be opened, certificates given by Java still verify. */
class StoreNoDatabaseTest {
    private static final byte[] DATA = "no database".getBytes();

    private static int sign(int source, byte[] serial) {
        return Kavro.SignByCSP(source, serial, serial == null ? 0 : serial.length, 0, DATA, DATA.length,
                new byte[256], new int[1]);
    }

    private static int verify(int source, byte[] certificate) {
        byte[] signature = StoreFiles.reversed(StoreFiles.javaSignature("two", DATA));
        return Kavro.VerifyByCSP(source, certificate, certificate == null ? 0 : certificate.length, 0, DATA,
                DATA.length, signature, signature.length);
    }

    @Test
    void storeSourcesGive1301AndListingGivesNull() {
        byte[] serial = StoreFiles.serial("two");
        assertEquals(1301, sign(0, null));
        assertEquals(1301, sign(1, serial));
        assertEquals(1301, sign(1, null), "the store is opened before the serial is looked at");
        assertEquals(1301, verify(0, null));
        assertEquals(1301, verify(1, serial));
        assertNull(Kavro.ListCertByCSP());
    }

    @Test
    void refusalsThatComeBeforeTheStoreStillCome() {
        assertEquals(1003, sign(2, StoreFiles.serial("two")));
        assertEquals(1003, verify(5, StoreFiles.der("two")));
        byte[] serial = StoreFiles.serial("two");
        assertEquals(1003, Kavro.SignByCSP(1, serial, serial.length + 1, 0, DATA, DATA.length, new byte[256],
                new int[1]));
    }

    @Test
    void givenCertificatesNeedNoDatabase() {
        assertEquals(0, verify(2, new String(StoreFiles.pem("two")).strip().getBytes()));
        assertEquals(0, verify(3, StoreFiles.der("two")));
        assertEquals(0, verify(4, StoreFiles.file("two.der").toString().getBytes()));
    }

    @Test
    void withoutHomeThereIsNoStore() {
        Map<String, String> environment = ChildJvm.environment(StoreFiles.home("home"));
        environment.remove("HOME");
        assertEquals("null", ChildJvm.run(environment, "list").value("list"));
        assertEquals(1301, ChildJvm.run(environment, "sign", "1", StoreFiles.hex(StoreFiles.serial("two")),
                StoreFiles.hex(DATA)).code("sign"));
    }

    @Test
    void withoutItsBackendModuleTheLibraryAnswersWithoutAStore() throws Exception {
        // libkavro.so alone, without libkavro-nss.so beside it.
        Path alone = Files.createDirectories(Work.dir().resolve("alone")).resolve("libkavro.so");
        Files.copy(Paths.get(System.getProperty("brelmont.kavro.library")), alone,
                StandardCopyOption.REPLACE_EXISTING);
        Map<String, String> environment = ChildJvm.environment(StoreFiles.home("home"));
        String library = alone.toString();
        Duration limit = Duration.ofSeconds(60);
        assertEquals("null", ChildJvm.startWith(library, environment, "list").await(limit).value("list"));
        assertEquals(1301, ChildJvm.startWith(library, environment, "sign", "1",
                StoreFiles.hex(StoreFiles.serial("two")), StoreFiles.hex(DATA)).await(limit).code("sign"));
        // A valid certificate: without a provider to decode it, 1306, not 1302.
        byte[] signature = StoreFiles.reversed(StoreFiles.javaSignature("two", DATA));
        assertEquals(1306, ChildJvm.startWith(library, environment, "verify", "3", StoreFiles.hex(StoreFiles.der("two")),
                StoreFiles.hex(DATA), StoreFiles.hex(signature)).await(limit).code("verify"));
        assertEquals(1306, ChildJvm.startWith(library, environment, "verify", "4",
                StoreFiles.hex(StoreFiles.file("two.pem").toString().getBytes()), StoreFiles.hex(DATA),
                StoreFiles.hex(signature)).await(limit).code("verify"));
    }
}
