package Brelmont;

import java.io.NotSerializableException;
import java.io.ObjectOutputStream;
import java.math.BigInteger;
import java.security.PrivateKey;
import java.security.interfaces.RSAKey;

/**
 * An RSA private key that stays on its token, named by the serial content of
 * its certificate (the key shares the certificate's {@code CKA_ID}). It is
 * deliberately no {@code RSAPrivateKey}: only the Kavro provider's services
 * accept it, so the JCA's delayed provider selection hands every operation
 * with it to them. Nothing of the key leaves the token: no encoding, no
 * format, no serialization.
 */
final class KavroPrivateKey implements PrivateKey, RSAKey {
    private static final long serialVersionUID = 1L;

    private final transient KavroToken token;
    private final transient byte[] serial;
    private final transient BigInteger modulus;

    KavroPrivateKey(KavroToken token, byte[] serial, BigInteger modulus) {
        this.token = token;
        this.serial = serial.clone();
        this.modulus = modulus;
    }

    KavroToken token() {
        return token;
    }

    /** The certificate's serial content, as the ByCertSerial methods of Kavro take it. */
    byte[] serial() {
        return serial.clone();
    }

    /** The modulus in octets: the size of a signature, and the room a plaintext may need. */
    int size() {
        return (modulus.bitLength() + 7) / 8;
    }

    @Override
    public String getAlgorithm() {
        return "RSA";
    }

    @Override
    public String getFormat() {
        return null;
    }

    @Override
    public byte[] getEncoded() {
        return null;
    }

    @Override
    public BigInteger getModulus() {
        return modulus;
    }

    private void writeObject(ObjectOutputStream out) throws NotSerializableException {
        throw new NotSerializableException("a Kavro key stays on its token");
    }

    @Override
    public String toString() {
        return "Kavro RSA private key, " + modulus.bitLength() + " bits, certificate serial "
                + new BigInteger(serial).toString(16) + ", " + token;
    }
}
