package bench;

/** A native method that does nothing: the JVM's own cost of a JNI call. */
final class EmptyNative {
    private EmptyNative() {
    }

    static native int call(int moduleKind, int slotId);
}
