package Brelmont;

import java.io.ByteArrayOutputStream;
import java.security.AlgorithmParameters;
import java.security.InvalidAlgorithmParameterException;
import java.security.InvalidKeyException;
import java.security.Key;
import java.security.NoSuchAlgorithmException;
import java.security.SecureRandom;
import java.security.spec.AlgorithmParameterSpec;
import java.util.Arrays;
import javax.crypto.BadPaddingException;
import javax.crypto.Cipher;
import javax.crypto.CipherSpi;
import javax.crypto.IllegalBlockSizeException;
import javax.crypto.NoSuchPaddingException;
import javax.crypto.ShortBufferException;

/**
 * RSA/ECB/PKCS1Padding decryption with a {@link KavroPrivateKey}, on its
 * token. Encryption needs only the certificate's public key and stays with
 * the JDK's providers.
 */
final class KavroCipher extends CipherSpi {
    private final ByteArrayOutputStream input = new ByteArrayOutputStream();
    private KavroPrivateKey key;

    @Override
    protected void engineSetMode(String mode) throws NoSuchAlgorithmException {
        if (!mode.equalsIgnoreCase("ECB")) {
            throw new NoSuchAlgorithmException("Kavro's RSA cipher has no mode " + mode + ", only ECB");
        }
    }

    @Override
    protected void engineSetPadding(String padding) throws NoSuchPaddingException {
        if (!padding.equalsIgnoreCase("PKCS1Padding")) {
            throw new NoSuchPaddingException("Kavro's RSA cipher has no padding " + padding + ", only PKCS1Padding");
        }
    }

    @Override
    protected int engineGetBlockSize() {
        return 0;
    }

    @Override
    protected int engineGetOutputSize(int inputLen) {
        return key == null ? 0 : key.size();
    }

    @Override
    protected byte[] engineGetIV() {
        return null;
    }

    @Override
    protected AlgorithmParameters engineGetParameters() {
        return null;
    }

    @Override
    protected void engineInit(int opmode, Key key, SecureRandom random) throws InvalidKeyException {
        if (opmode != Cipher.DECRYPT_MODE) {
            throw new InvalidKeyException("Kavro decrypts only; the JDK's providers encrypt with the certificate's"
                    + " public key");
        }
        if (!(key instanceof KavroPrivateKey)) {
            throw new InvalidKeyException("Kavro decrypts with keys from a Kavro key store only, not with "
                    + (key == null ? "null" : key.getClass().getName()));
        }
        this.key = (KavroPrivateKey) key;
        input.reset();
    }

    @Override
    protected void engineInit(int opmode, Key key, AlgorithmParameterSpec params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        initWithout(params, opmode, key, random);
    }

    @Override
    protected void engineInit(int opmode, Key key, AlgorithmParameters params, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        initWithout(params, opmode, key, random);
    }

    private void initWithout(Object params, int opmode, Key key, SecureRandom random)
            throws InvalidKeyException, InvalidAlgorithmParameterException {
        if (params != null) {
            throw new InvalidAlgorithmParameterException("RSA/ECB/PKCS1Padding takes no parameters");
        }
        engineInit(opmode, key, random);
    }

    @Override
    protected byte[] engineUpdate(byte[] in, int inputOffset, int inputLen) {
        input.write(in, inputOffset, inputLen);
        return new byte[0];
    }

    @Override
    protected int engineUpdate(byte[] in, int inputOffset, int inputLen, byte[] output, int outputOffset) {
        input.write(in, inputOffset, inputLen);
        return 0;
    }

    @Override
    protected byte[] engineDoFinal(byte[] in, int inputOffset, int inputLen)
            throws IllegalBlockSizeException, BadPaddingException {
        if (in != null) {
            input.write(in, inputOffset, inputLen);
        }
        byte[] ciphertext = input.toByteArray();
        input.reset();
        if (ciphertext.length > key.size()) {
            throw new IllegalBlockSizeException(ciphertext.length + " octets of ciphertext, more than the "
                    + key.getModulus().bitLength() + "-bit key's " + key.size());
        }
        return key.token().decrypt(key.serial(), ciphertext, key.size());
    }

    @Override
    protected int engineDoFinal(byte[] in, int inputOffset, int inputLen, byte[] output, int outputOffset)
            throws ShortBufferException, IllegalBlockSizeException, BadPaddingException {
        byte[] buffered = input.toByteArray();
        byte[] plaintext = engineDoFinal(in, inputOffset, inputLen);
        try {
            if (output.length - outputOffset < plaintext.length) {
                // What was buffered before the call is kept, so that the call can be repeated with more room.
                input.write(buffered, 0, buffered.length);
                throw new ShortBufferException(plaintext.length + " octets of plaintext, room for "
                        + (output.length - outputOffset));
            }
            System.arraycopy(plaintext, 0, output, outputOffset, plaintext.length);
            return plaintext.length;
        } finally {
            Arrays.fill(plaintext, (byte) 0);
        }
    }

    @Override
    protected int engineGetKeySize(Key key) throws InvalidKeyException {
        if (!(key instanceof KavroPrivateKey)) {
            throw new InvalidKeyException("not a Kavro key");
        }
        return ((KavroPrivateKey) key).getModulus().bitLength();
    }
}
