package Brelmont;

import static Brelmont.KavroMechanism.MD5_RSA_PKCS;
import static Brelmont.KavroMechanism.RSA_PKCS;
import static Brelmont.KavroMechanism.SHA1_RSA_PKCS;

import java.io.ByteArrayOutputStream;
import java.security.InvalidKeyException;
import java.security.InvalidParameterException;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.security.PrivateKey;
import java.security.ProviderException;
import java.security.PublicKey;
import java.security.SignatureException;
import java.security.SignatureSpi;
import java.util.HexFormat;

/**
 * RSA PKCS #1 v1.5 signatures with a {@link KavroPrivateKey}, made on its
 * token. SHA-1 and MD5 are hashed by the token (the data is collected and
 * signed in one call); the SHA-2 hashes are made here and their DigestInfo
 * signed as it is, as NONEwithRSA signs the data it is given. Verification
 * is left to the JDK's providers, which have the certificate's public key.
 */
final class KavroSignature extends SignatureSpi {
    /** What PKCS #1 v1.5 padding takes of the modulus at least. */
    private static final int PADDING = 11;

    /** The algorithms: how each reaches the token, with its OID for the JCA's aliases. */
    enum Scheme {
        SHA1withRSA(SHA1_RSA_PKCS, null, "", "1.2.840.113549.1.1.5"),
        MD5withRSA(MD5_RSA_PKCS, null, "", "1.2.840.113549.1.1.4"),
        SHA224withRSA(RSA_PKCS, "SHA-224", "302d300d06096086480165030402040500041c", "1.2.840.113549.1.1.14"),
        SHA256withRSA(RSA_PKCS, "SHA-256", "3031300d060960864801650304020105000420", "1.2.840.113549.1.1.11"),
        SHA384withRSA(RSA_PKCS, "SHA-384", "3041300d060960864801650304020205000430", "1.2.840.113549.1.1.12"),
        SHA512withRSA(RSA_PKCS, "SHA-512", "3051300d060960864801650304020305000440", "1.2.840.113549.1.1.13"),
        NONEwithRSA(RSA_PKCS, null, "", null);

        final int mechanism;
        /** The hash made here, or null when the token hashes or the data is signed as given. */
        final String digest;
        /** The DER of the DigestInfo before the hash (RFC 8017, section 9.2). */
        final byte[] digestInfoPrefix;
        final String oid;

        Scheme(int mechanism, String digest, String digestInfoPrefix, String oid) {
            this.mechanism = mechanism;
            this.digest = digest;
            this.digestInfoPrefix = HexFormat.of().parseHex(digestInfoPrefix);
            this.oid = oid;
        }
    }

    private final Scheme scheme;
    private final MessageDigest digest;
    /** The data, when the token hashes it or signs it as it is. */
    private final ByteArrayOutputStream data = new ByteArrayOutputStream();
    private KavroPrivateKey key;

    KavroSignature(Scheme scheme) {
        this.scheme = scheme;
        try {
            digest = scheme.digest == null ? null : MessageDigest.getInstance(scheme.digest);
        } catch (NoSuchAlgorithmException e) {
            throw new ProviderException(scheme.digest + " is missing from the JDK", e);
        }
    }

    @Override
    protected void engineInitSign(PrivateKey privateKey) throws InvalidKeyException {
        if (!(privateKey instanceof KavroPrivateKey)) {
            throw new InvalidKeyException("Kavro signs with keys from a Kavro key store only, not with "
                    + (privateKey == null ? "null" : privateKey.getClass().getName()));
        }
        key = (KavroPrivateKey) privateKey;
        reset();
    }

    @Override
    protected void engineInitVerify(PublicKey publicKey) throws InvalidKeyException {
        throw new InvalidKeyException("Kavro does not verify: the JDK's providers verify with the certificate's"
                + " public key");
    }

    private void reset() {
        data.reset();
        if (digest != null) {
            digest.reset();
        }
    }

    @Override
    protected void engineUpdate(byte b) {
        engineUpdate(new byte[] {b}, 0, 1);
    }

    @Override
    protected void engineUpdate(byte[] b, int off, int len) {
        if (digest != null) {
            digest.update(b, off, len);
        } else {
            data.write(b, off, len);
        }
    }

    @Override
    protected byte[] engineSign() throws SignatureException {
        byte[] input;
        if (digest != null) {
            byte[] hash = digest.digest();
            input = new byte[scheme.digestInfoPrefix.length + hash.length];
            System.arraycopy(scheme.digestInfoPrefix, 0, input, 0, scheme.digestInfoPrefix.length);
            System.arraycopy(hash, 0, input, scheme.digestInfoPrefix.length, hash.length);
        } else {
            input = data.toByteArray();
            data.reset();
        }
        if (scheme == Scheme.NONEwithRSA && input.length > key.size() - PADDING) {
            throw new SignatureException("NONEwithRSA: " + input.length + " octets of data, more than a "
                    + key.getModulus().bitLength() + "-bit key signs (" + (key.size() - PADDING) + ")");
        }
        return key.token().sign(key.serial(), scheme.mechanism, input, key.size());
    }

    @Override
    protected boolean engineVerify(byte[] sigBytes) throws SignatureException {
        throw new SignatureException("Kavro does not verify");
    }

    @Override
    @Deprecated
    protected void engineSetParameter(String param, Object value) {
        throw new InvalidParameterException(scheme + " takes no parameters");
    }

    @Override
    @Deprecated
    protected Object engineGetParameter(String param) {
        throw new InvalidParameterException(scheme + " takes no parameters");
    }
}
