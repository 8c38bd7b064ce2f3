package corvaletest.mock;

import static org.junit.jupiter.api.Assertions.*;
import static org.junit.jupiter.api.DynamicTest.dynamicTest;

import corvaletest.Child;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.stream.Stream;
import org.junit.jupiter.api.DynamicTest;
import org.junit.jupiter.api.TestFactory;

/**
 * A value object whose getter throws stops the native at once: no further JNI
 * call (-Xcheck:jni is on in the child), no module call, a Java null, and the
 * getter's exception reaches the caller as it was thrown. Every native and
 * every value object it reads, in one child JVM; one test per shape.
 */
class GetterThrowsTest {

    @TestFactory
    Stream<DynamicTest> aThrowingGetterStopsTheNativeBeforeTheModule() throws Exception {
        Child.Result r = new Child().classpathFirst(Child.broken("getters-throw"))
                .run(GetterThrowsScenario.class.getName());
        assertFalse(r.stdout.contains("WARNING") || r.err().contains("WARNING"), r.toString());
        assertEquals(0, r.exit, r.toString());
        Map<String, List<String>> byShape = new LinkedHashMap<>();
        int cases = 0;
        for (String line : r.stdout.split("\n")) {
            String[] words = line.split(" ");
            if (words[0].equals("ok") || words[0].equals("FAIL")) {
                byShape.computeIfAbsent(words[1], k -> new ArrayList<>()).add(line);
                ++cases;
            }
        }
        assertTrue(r.stdout.endsWith("cases " + cases + "\n") && cases > 100, r.toString());
        return byShape.entrySet().stream().map(e -> dynamicTest(e.getKey(), () -> assertEquals(List.of(),
                e.getValue().stream().filter(l -> !l.startsWith("ok ")).toList(), String.join("\n", e.getValue()))));
    }
}
