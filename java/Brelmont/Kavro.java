package Brelmont;

/**
 * PKCS #11 tokens and the user's personal certificate store, through the
 * native kavro library. Every method reports its outcome as a result code
 * (or, for three methods, a handle, a String or an array); none throws.
 */
public final class Kavro {
    static {
        String path = System.getProperty("brelmont.kavro.library");
        if (path != null) {
            System.load(path);
        } else {
            System.loadLibrary("kavro");
        }
    }

    private Kavro() {
    }

    public static native int Initialize(int moduleKind);

    public static native int GetSlotList(int moduleKind, int[] slotIds, int[] slotCount);

    public static native int ConnectToken(int moduleKind, int slotId);

    public static native int DisconnectToken(int moduleKind, int slotId);

    public static native int Login(int moduleKind, int slotId, byte[] pin);

    public static native int Logout(int moduleKind, int slotId);

    public static native int VerifySoPin(int moduleKind, int slotId, byte[] soPin);

    public static native String RetrieveSerial(int moduleKind, int slotId);

    public static native int SetSoPin(int moduleKind, int slotId, byte[] oldSoPin, byte[] newSoPin);

    public static native int UnlockUserPin(int moduleKind, int slotId, byte[] soPin, byte[] newUserPin);

    public static native int SetUserPin(int moduleKind, int slotId, byte[] oldUserPin, byte[] newUserPin);

    public static native int InitToken(int moduleKind, int slotId, byte[] soPin, byte[] userPin, String label);

    public static native int ListCertSerial(int moduleKind, int slotId, byte[][] serials, int[] serialLengths,
            int[] count);

    public static native int EnumPrivateKey(int moduleKind, int slotId, int ordinal, int[] handle);

    public static native int EnumPrivateKeyByCertSerial(int moduleKind, int slotId, byte[] serial,
            int serialLength, int[] handle);

    public static native int EnumPublicKey(int moduleKind, int slotId, int ordinal, int[] handle);

    public static native int EnumPublicKeyByCertSerial(int moduleKind, int slotId, byte[] serial,
            int serialLength, int[] handle);

    public static native int Sign(int moduleKind, int slotId, int keyHandle, int signMechanism, byte[] data,
            int dataLength, byte[] signature, int[] signatureLength);

    public static native int SignByCertSerial(int moduleKind, int slotId, byte[] serial, int serialLength,
            int signMechanism, byte[] data, int dataLength, byte[] signature, int[] signatureLength);

    public static native int Verify(int moduleKind, int slotId, int keyHandle, int signMechanism, byte[] data,
            int dataLength, byte[] signature, int signatureLength);

    public static native int VerifyByCertSerial(int moduleKind, int slotId, byte[] serial, int serialLength,
            int signMechanism, byte[] data, int dataLength, byte[] signature, int signatureLength);

    public static native int Hash(int moduleKind, int slotId, int hashType, byte[] data, int dataLength,
            byte[] digest, int[] digestLength);

    public static native int Encrypt(int moduleKind, int slotId, int keyHandle, int reserved, byte[] input,
            int inputLength, byte[] output, int[] outputLength);

    public static native int Decrypt(int moduleKind, int slotId, int keyHandle, int reserved, byte[] input,
            int inputLength, byte[] output, int[] outputLength);

    public static native byte[] ListCertByCSP();

    public static native int SignByCSP(int certSource, byte[] serial, int serialLength, int reserved, byte[] data,
            int dataLength, byte[] signature, int[] signatureLength);

    public static native int VerifyByCSP(int certSource, byte[] certificate, int certificateLength, int reserved,
            byte[] data, int dataLength, byte[] signature, int signatureLength);
}
