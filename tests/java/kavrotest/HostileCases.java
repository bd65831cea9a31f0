package kavrotest;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.util.ArrayList;
import java.util.Arrays;
import java.util.LinkedHashSet;
import java.util.List;
import java.util.Map;
import java.util.Objects;
import java.util.Set;
import java.util.TreeMap;
import java.util.function.Function;

/**
 * The machinery of a table of hostile calls: a row per native method (its
 * valid arguments and the rules that make hostile variants of them), the
 * expected outcome of each variant, and the check of one call.
 *
 * A case checks the result, the module calls (none at all where a refusal
 * must come first), that no input array changed, and that every output
 * array holds what the contract gives: untouched on failure unless the
 * contract writes it. The JVM living on and -Xcheck:jni staying silent are
 * checked by the run itself.
 */
final class HostileCases {
    private HostileCases() {
    }

    /** Where a case's arguments come from: the module kind, slot, keys and texts of one token. */
    abstract static class Fixture {
        final String name;
        int kind;
        int slot;
        String tokenSerial;
        int privateKey;
        int publicKey;
        /** Serial content of the certificate of privateKey and publicKey. */
        byte[] serial;
        /** A signature of DATA made with privateKey under signMechanism 0. */
        byte[] signature;
        /** DATA encrypted with publicKey. */
        byte[] cipher;
        /** Size of signatures and ciphertexts, and the room offered for them. */
        int room;
        /** Slot ids registered in this JVM (the registry is process-wide), which no "unknown slot" case may use. */
        static final Set<Integer> REGISTERED = new LinkedHashSet<>();

        Fixture(String name) {
            this.name = name;
        }

        /** Brings the token into the state every case starts from. */
        abstract void prepare();

        /** Names of the module calls since prepare(), or null where the module keeps no journal. */
        abstract List<String> calls();

        byte[] transportText(String pin) {
            return PinTransport.text(pin, tokenSerial);
        }
    }

    /** What a method returns: a result code, a session handle, or a String. */
    enum Returns { CODE, HANDLE, TEXT }

    /** Matches a handle other than 0. */
    static final Object NONZERO = new Object() {
        @Override
        public String toString() {
            return "a handle other than 0";
        }
    };

    /** The outcome a case must have. */
    static final class Expect {
        final Object result;
        final boolean success;
        /** Exact module calls; null: not checked; REACHES: at least one. */
        final List<String> calls;
        final Map<Integer, Object> written = new TreeMap<>();

        static final List<String> REACHES = List.of("(some module call)");

        private Expect(Object result, boolean success, List<String> calls) {
            this.result = result;
            this.success = success;
            this.calls = calls;
        }

        /** Refused before any module call: nothing written. */
        static Expect refused(Object result) {
            return new Expect(result, false, List.of());
        }

        /** A failure after the module was called: outputs untouched unless written. */
        static Expect fails(Object result) {
            return new Expect(result, false, REACHES);
        }

        /** A success: outputs checked only where written. */
        static Expect succeeds(Object result) {
            return new Expect(result, true, REACHES);
        }

        /** Exactly these module calls, in this order. */
        Expect calls(String... names) {
            Expect copy = new Expect(result, success, List.of(names));
            copy.written.putAll(written);
            return copy;
        }

        /** No check of the module calls. */
        Expect anyCalls() {
            Expect copy = new Expect(result, success, null);
            copy.written.putAll(written);
            return copy;
        }

        /** Argument index holds this value afterwards. */
        Expect writes(int index, Object value) {
            Expect copy = new Expect(result, success, calls);
            copy.written.putAll(written);
            copy.written.put(index, value);
            return copy;
        }
    }

    /** Calls the native method with the arguments. */
    interface Invoker {
        Object call(Object[] args);
    }

    /** One call: its name, arguments and outcome, all drawn from the fixture after it is prepared. */
    static final class Case {
        final Method method;
        final String name;
        final Function<Fixture, Object[]> arguments;
        final Function<Fixture, Expect> expect;
        /** Meaningful on every token, not only on the mock's (refusals before any module call always are). */
        final boolean portable;

        Case(Method method, String name, Function<Fixture, Object[]> arguments, Function<Fixture, Expect> expect,
                boolean portable) {
            this.method = method;
            this.name = name;
            this.arguments = arguments;
            this.expect = expect;
            this.portable = portable;
        }

        boolean portableTo(Fixture fixture) {
            List<String> calls = expect.apply(fixture).calls;
            return portable || (calls != null && calls.isEmpty());
        }

        String displayName() {
            return method.name + ": " + name;
        }

        /** Prepares the fixture, makes the call and checks everything the contract says about it. */
        void run(Fixture fixture) {
            fixture.prepare();
            Object[] args = arguments.apply(fixture);
            Expect wanted = expect.apply(fixture);
            Object[] before = deepCopy(args);
            Object result = method.invoker.call(args);
            String where = displayName() + " on " + fixture.name;
            if (wanted.result == NONZERO) {
                assertTrue(!Objects.equals(result, 0), where + ": result " + result);
            } else {
                assertEquals(wanted.result, result, where + ": result");
            }
            for (int i = 0; i < args.length; i++) {
                if (!(args[i] instanceof byte[] || args[i] instanceof int[] || args[i] instanceof byte[][])) {
                    continue;
                }
                if (wanted.written.containsKey(i)) {
                    assertTrue(Arrays.deepEquals(new Object[] {wanted.written.get(i)}, new Object[] {args[i]}),
                            where + ": argument " + i + " holds " + show(args[i]) + ", not "
                                    + show(wanted.written.get(i)));
                } else if (!method.outputs.contains(i) || !wanted.success) {
                    assertTrue(Arrays.deepEquals(new Object[] {before[i]}, new Object[] {args[i]}),
                            where + ": argument " + i + " was changed to " + show(args[i]));
                }
            }
            List<String> calls = fixture.calls();
            if (calls == null) {
                return;
            }
            assertSearchesEnded(calls, where);
            if (wanted.calls == null) {
                return;
            }
            if (wanted.calls == Expect.REACHES) {
                assertFalse(calls.isEmpty(), where + ": no module call was made");
            } else {
                assertEquals(wanted.calls, calls, where + ": module calls");
            }
        }
    }

    /** A row of the table: one native method, its valid call, and the rules that vary it. */
    static final class Method {
        final String name;
        final Returns returns;
        final Invoker invoker;
        final Function<Fixture, Object[]> valid;
        final Set<Integer> outputs = new LinkedHashSet<>();
        final List<Case> cases = new ArrayList<>();

        Method(String name, Returns returns, Function<Fixture, Object[]> valid, Invoker invoker) {
            this.name = name;
            this.returns = returns;
            this.valid = valid;
            this.invoker = invoker;
        }

        /** Arguments the method may write. */
        Method outputs(int... indices) {
            for (int index : indices) {
                outputs.add(index);
            }
            return this;
        }

        /** The result code as this method reports it: a code, a handle (0), or the code's text. */
        Object code(int code) {
            switch (returns) {
                case HANDLE:
                    return 0;
                case TEXT:
                    return String.valueOf(code);
                default:
                    return code;
            }
        }

        Method validCall(Function<Fixture, Expect> expect) {
            cases.add(new Case(this, "valid arguments", valid, expect, false));
            return this;
        }

        /** The case with argument index replaced by value(fixture). */
        Method with(String what, int index, Function<Fixture, Object> value, Function<Fixture, Expect> expect,
                boolean portable) {
            cases.add(new Case(this, what, fixture -> {
                Object[] args = valid.apply(fixture);
                args[index] = value.apply(fixture);
                return args;
            }, expect, portable));
            return this;
        }

        Method with(String what, int index, Object value, Expect expect) {
            return with(what, index, fixture -> copyOf(value), fixture -> expect, false);
        }

        /** A case whose arguments and outcome are worked out from the fixture. */
        Method custom(String what, Function<Fixture, Object[]> arguments, Function<Fixture, Expect> expect,
                boolean portable) {
            cases.add(new Case(this, what, arguments, expect, portable));
            return this;
        }

        /** The module kind at index 0: below, beyond and far outside 0 to 4, and kind 4, which has no library. */
        Method moduleKind() {
            for (int kind : new int[] {Integer.MIN_VALUE, -1, 4, 5, Integer.MAX_VALUE}) {
                with("moduleKind " + kind, 0, kind, Expect.refused(code(1001)));
            }
            return this;
        }

        /** The slot id at index 1: ids no discovery registered. */
        Method slotId() {
            for (int slot : new int[] {Integer.MIN_VALUE, -1, 0, Integer.MAX_VALUE}) {
                cases.add(new Case(this, "slotId " + Integer.toUnsignedString(slot), fixture -> {
                    Object[] args = valid.apply(fixture);
                    args[1] = Fixture.REGISTERED.contains(slot) ? unregistered() : slot;
                    return args;
                }, fixture -> Expect.refused(code(1002)), false));
            }
            return this;
        }

        /**
         * Every array and String argument null at once: the module kind is judged first, then the slot,
         * then the arguments.
         */
        Method precedence() {
            cases.add(new Case(this, "every array null, moduleKind 5 and slotId unknown",
                    fixture -> withoutArrays(valid.apply(fixture), 5, unregistered()),
                    fixture -> Expect.refused(code(1001)), false));
            cases.add(new Case(this, "every array null and slotId unknown",
                    fixture -> withoutArrays(valid.apply(fixture), fixture.kind, unregistered()),
                    fixture -> Expect.refused(code(1002)), false));
            cases.add(new Case(this, "every array null",
                    fixture -> withoutArrays(valid.apply(fixture), fixture.kind, fixture.slot),
                    fixture -> Expect.refused(code(1003)), false));
            return this;
        }

        private static Object[] withoutArrays(Object[] args, int kind, int slot) {
            for (int i = 2; i < args.length; i++) {
                if (!(args[i] instanceof Integer)) {
                    args[i] = null;
                }
            }
            args[0] = kind;
            args[1] = slot;
            return args;
        }

        /** An array the method needs: null is refused. */
        Method required(int index, String name) {
            return with(name + " null", index, null, Expect.refused(code(1003)));
        }

        /** An int[] out-parameter the method needs: null and an array without an element are refused. */
        Method requiredOut(int index, String name) {
            required(index, name);
            return with(name + " without an element", index, new int[0], Expect.refused(code(1003)));
        }

        /**
         * A length at index describing the byte[] at arrayIndex: negative, one past the array and
         * Integer.MAX_VALUE are refused; 0 gives zeroOutcome.
         */
        Method length(int index, int arrayIndex, String name, Function<Fixture, Expect> zeroOutcome) {
            for (int value : new int[] {Integer.MIN_VALUE, -1, Integer.MAX_VALUE}) {
                with(name + " " + value, index, value, Expect.refused(code(1003)));
            }
            cases.add(new Case(this, name + " one past the array", fixture -> {
                Object[] args = valid.apply(fixture);
                args[index] = ((byte[]) args[arrayIndex]).length + 1;
                return args;
            }, fixture -> Expect.refused(code(1003)), false));
            cases.add(new Case(this, name + " 0", fixture -> {
                Object[] args = valid.apply(fixture);
                args[index] = 0;
                return args;
            }, zeroOutcome, false));
            return this;
        }

        Method length(int index, int arrayIndex, String name, Expect zeroOutcome) {
            return length(index, arrayIndex, name, fixture -> zeroOutcome);
        }
    }

    /** Every object search was ended before the next began, and none is left open. */
    static void assertSearchesEnded(List<String> calls, String where) {
        boolean open = false;
        for (String call : calls) {
            if (call.equals("C_FindObjectsInit")) {
                assertFalse(open, where + ": a search began while another was open: " + calls);
                open = true;
            } else if (call.equals("C_FindObjectsFinal")) {
                open = false;
            }
        }
        assertFalse(open, where + ": a search was left open: " + calls);
    }

    static int unregistered() {
        int slot = 0x7FFF0000;
        while (Fixture.REGISTERED.contains(slot)) {
            slot++;
        }
        return slot;
    }

    static Object copyOf(Object value) {
        return deepCopy(new Object[] {value})[0];
    }

    static Object[] deepCopy(Object[] args) {
        Object[] copy = new Object[args.length];
        for (int i = 0; i < args.length; i++) {
            Object arg = args[i];
            if (arg instanceof byte[]) {
                copy[i] = ((byte[]) arg).clone();
            } else if (arg instanceof int[]) {
                copy[i] = ((int[]) arg).clone();
            } else if (arg instanceof byte[][]) {
                byte[][] rows = ((byte[][]) arg).clone();
                for (int j = 0; j < rows.length; j++) {
                    rows[j] = rows[j] == null ? null : rows[j].clone();
                }
                copy[i] = rows;
            } else {
                copy[i] = arg;
            }
        }
        return copy;
    }

    static String show(Object value) {
        if (value instanceof int[]) {
            return Arrays.toString((int[]) value);
        }
        if (value instanceof byte[]) {
            byte[] bytes = (byte[]) value;
            return bytes.length > 16 ? "byte[" + bytes.length + "]" : Arrays.toString(bytes);
        }
        if (value instanceof byte[][]) {
            return "byte[" + ((byte[][]) value).length + "][]";
        }
        return String.valueOf(value);
    }
}
