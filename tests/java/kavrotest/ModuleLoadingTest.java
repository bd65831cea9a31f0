package kavrotest;

import static org.junit.jupiter.api.Assertions.assertEquals;

import Brelmont.Kavro;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardCopyOption;
import java.util.List;
import java.util.stream.Collectors;
import org.junit.jupiter.api.Test;

/**
 * Module libraries that cannot be used, seen from the loader's side. Runs in
 * a JVM of its own with LD_DEBUG=files tracing every library lookup, and with
 * kind 4 answered by a mock that lacks E_GetAuxFunctionList when the
 * no-aux directory comes first on the library path. Its current folder is
 * a folder of its own.
 */
class ModuleLoadingTest {
    private static long lookups(String fileName) throws IOException {
        Path trace = Work.dir().resolve("ld." + ProcessHandle.current().pid());
        if (!Files.exists(trace)) {
            return 0;
        }
        return Files.readAllLines(trace).stream().filter(line -> line.contains("file=" + fileName + " ")).count();
    }

    private static long anyModuleLookups() throws IOException {
        long total = 0;
        for (String name : MockModule.FILE_NAMES) {
            total += lookups(name);
        }
        return total;
    }

    @Test
    void kindsOutsideTheTableLoadNothing() throws IOException {
        long before = anyModuleLookups();
        for (int kind : new int[] {5, -1, 100, 1000}) {
            assertEquals(1001, Kavro.Initialize(kind));
            assertEquals(1001, Kavro.GetSlotList(kind, null, null));
        }
        assertEquals(before, anyModuleLookups());
    }

    @Test
    void aMissingLibraryIsLookedForTwicePerCallAndAgainOnTheNextCall() throws IOException {
        // talvis-ca.dll is missing from this JVM's library path.
        long before = lookups("talvis-ca.dll");
        assertEquals(1001, Kavro.Initialize(3));
        assertEquals(before + 2, lookups("talvis-ca.dll"));
        assertEquals(1001, Kavro.GetSlotList(3, new int[1], new int[1]));
        assertEquals(before + 4, lookups("talvis-ca.dll"));
        assertEquals(1001, Kavro.Initialize(3));
        assertEquals(before + 6, lookups("talvis-ca.dll"));
    }

    @Test
    void aModuleInTheCurrentFolderIsNotLoaded() throws IOException {
        // zelcsp11.dll is on no folder of this JVM's library path; a working
        // module of that name sits in the current folder.
        Path stray = Path.of(System.getProperty("user.dir"), "zelcsp11.dll");
        Files.copy(Path.of(System.getenv("KAVRO_STRAY_MODULE")), stray, StandardCopyOption.REPLACE_EXISTING);
        try {
            assertEquals(1001, Kavro.Initialize(0));
        } finally {
            Files.delete(stray);
        }
    }

    @Test
    void aModuleWithoutTheExtensionTableIsUnloadedAfterEachAttempt() throws IOException {
        Path journal = Path.of(System.getenv("KAVRO_MOCK_JOURNAL_FILE"));
        Files.deleteIfExists(journal);
        assertEquals(1001, Kavro.Initialize(4));
        int[] count = {-3};
        assertEquals(1001, Kavro.GetSlotList(4, null, count));
        assertEquals(-3, count[0]);
        assertEquals(1001, Kavro.Initialize(4));
        List<String> calls = Files.readAllLines(journal).stream().collect(Collectors.toList());
        List<String> once = List.of("load", "C_GetFunctionList", "unload");
        assertEquals(List.of(once, once, once).stream().flatMap(List::stream).collect(Collectors.toList()), calls);
    }
}
