package Brelmont;

import java.io.ByteArrayInputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.security.GeneralSecurityException;
import java.security.Key;
import java.security.KeyStore;
import java.security.KeyStoreException;
import java.security.KeyStoreSpi;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.security.ProviderException;
import java.security.cert.Certificate;
import java.security.cert.CertificateException;
import java.security.cert.CertificateFactory;
import java.security.cert.X509Certificate;
import java.security.interfaces.RSAPublicKey;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.Date;
import java.util.Enumeration;
import java.util.HashMap;
import java.util.HexFormat;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.TreeMap;

/**
 * The key store of type "Kavro": the token's certificates that have a
 * private key, read when the store is loaded. Each becomes a key entry; the
 * other certificates serve only as issuers in the chains. Nothing is ever
 * written to the token.
 */
final class KavroKeyStore extends KeyStoreSpi {
    private static final String READ_ONLY = "a Kavro key store is read-only: it shows the token's keys";

    /** A certificate object of the token. */
    private static final class TokenCertificate {
        final X509Certificate certificate;
        final String label;
        final byte[] id;
        final byte[] serial;

        TokenCertificate(X509Certificate certificate, byte[][] fields) {
            this.certificate = certificate;
            this.label = new String(fields[KavroCertificates.LABEL], StandardCharsets.UTF_8);
            this.id = fields[KavroCertificates.ID];
            this.serial = fields[KavroCertificates.SERIAL];
        }
    }

    /** A key entry: the chain from the certificate up, and the key. */
    private static final class Entry {
        final X509Certificate[] chain;
        final KavroPrivateKey key;

        Entry(X509Certificate[] chain, KavroPrivateKey key) {
            this.chain = chain;
            this.key = key;
        }
    }

    private final KavroProvider provider;
    /** The entries by alias, in alias order; replaced whole by each load. */
    private volatile Map<String, Entry> entries = Collections.emptyMap();

    KavroKeyStore(KavroProvider provider) {
        this.provider = provider;
    }

    /**
     * Finds the provider's token, logs in with {@code password} unless it is
     * null, and reads the entries.
     */
    @Override
    public void engineLoad(InputStream stream, char[] password) throws IOException, CertificateException {
        if (stream != null) {
            throw new IOException("a Kavro key store is on the token: load it from a null stream"
                    + " (keytool and jarsigner: -keystore NONE)");
        }
        KavroToken token;
        try {
            token = provider.token();
        } catch (LinkageError e) {
            throw new ProviderException("the kavro native library cannot be loaded: " + e, e);
        }
        if (password != null) {
            token.logIn(password);
        }
        entries = read(token);
    }

    private static Map<String, Entry> read(KavroToken token) throws IOException, CertificateException {
        CertificateFactory factory = CertificateFactory.getInstance("X.509");
        List<TokenCertificate> all = new ArrayList<>();
        List<X509Certificate> certificates = new ArrayList<>();
        for (byte[][] fields : token.certificates()) {
            X509Certificate certificate;
            try {
                certificate = (X509Certificate) factory.generateCertificate(
                        new ByteArrayInputStream(fields[KavroCertificates.VALUE]));
            } catch (CertificateException e) {
                continue; // another application's object that is no X.509 certificate
            }
            all.add(new TokenCertificate(certificate, fields));
            if (!certificates.contains(certificate)) {
                certificates.add(certificate);
            }
        }
        Map<String, Integer> labels = new HashMap<>();
        for (TokenCertificate candidate : all) {
            labels.merge(candidate.label, 1, Integer::sum);
        }
        Map<String, List<TokenCertificate>> byAlias = new HashMap<>();
        List<X509Certificate> keyed = new ArrayList<>();
        for (TokenCertificate candidate : all) {
            // The same certificate twice under one CKA_ID is one entry.
            if (!keyed.contains(candidate.certificate) && hasKey(token, candidate, all)) {
                keyed.add(candidate.certificate);
                String label = candidate.label;
                String alias = label.isEmpty() || labels.get(label) > 1
                        ? candidate.certificate.getSerialNumber().toString(16) : label;
                byAlias.computeIfAbsent(alias, a -> new ArrayList<>()).add(candidate);
            }
        }
        Map<String, Entry> entries = new TreeMap<>();
        for (Map.Entry<String, List<TokenCertificate>> named : byAlias.entrySet()) {
            for (TokenCertificate entry : named.getValue()) {
                // Aliases shared by several entries take the start of the certificate's SHA-256: stable in every process.
                String alias = named.getValue().size() == 1 ? named.getKey()
                        : named.getKey() + "-" + fingerprint(entry.certificate);
                RSAPublicKey publicKey = (RSAPublicKey) entry.certificate.getPublicKey();
                entries.put(alias, new Entry(chain(entry.certificate, certificates),
                        new KavroPrivateKey(token, entry.serial, publicKey.getModulus())));
            }
        }
        return Collections.unmodifiableMap(new LinkedHashMap<>(entries));
    }

    /**
     * Whether the token holds the certificate's private key, as the signing
     * methods will find it: through the serial content, which must name this
     * certificate's CKA_ID alone. Certificates sharing a serial under
     * different CKA_IDs have no key entry, since the token would sign with
     * the key of whichever it finds first.
     */
    private static boolean hasKey(KavroToken token, TokenCertificate candidate, List<TokenCertificate> all)
            throws IOException {
        if (candidate.serial.length == 0 || !(candidate.certificate.getPublicKey() instanceof RSAPublicKey)) {
            return false;
        }
        for (TokenCertificate other : all) {
            if (Arrays.equals(other.serial, candidate.serial) && !Arrays.equals(other.id, candidate.id)) {
                return false;
            }
        }
        return token.hasPrivateKey(candidate.serial);
    }

    private static String fingerprint(X509Certificate certificate) throws CertificateException {
        try {
            byte[] hash = MessageDigest.getInstance("SHA-256").digest(certificate.getEncoded());
            return HexFormat.of().formatHex(hash, 0, 4);
        } catch (NoSuchAlgorithmException e) {
            throw new ProviderException(e);
        }
    }

    /** The certificate, then its issuers among the token's certificates as far as they go. */
    private static X509Certificate[] chain(X509Certificate leaf, List<X509Certificate> certificates) {
        List<X509Certificate> chain = new ArrayList<>(List.of(leaf));
        X509Certificate last = leaf;
        while (!last.getIssuerX500Principal().equals(last.getSubjectX500Principal())) {
            X509Certificate issuer = null;
            for (X509Certificate candidate : certificates) {
                if (!chain.contains(candidate)
                        && candidate.getSubjectX500Principal().equals(last.getIssuerX500Principal())
                        && signs(candidate, last)) {
                    issuer = candidate;
                    break;
                }
            }
            if (issuer == null) {
                break;
            }
            chain.add(issuer);
            last = issuer;
        }
        return chain.toArray(new X509Certificate[0]);
    }

    private static boolean signs(X509Certificate issuer, X509Certificate certificate) {
        try {
            certificate.verify(issuer.getPublicKey());
            return true;
        } catch (GeneralSecurityException e) {
            return false;
        }
    }

    /** The token's key; the password is not examined, the token having taken the PIN at load. */
    @Override
    public Key engineGetKey(String alias, char[] password) {
        Entry entry = entries.get(alias);
        return entry == null ? null : entry.key;
    }

    @Override
    public Certificate[] engineGetCertificateChain(String alias) {
        Entry entry = entries.get(alias);
        return entry == null ? null : entry.chain.clone();
    }

    @Override
    public Certificate engineGetCertificate(String alias) {
        Entry entry = entries.get(alias);
        return entry == null ? null : entry.chain[0];
    }

    /** The date the certificate became valid: a token records no creation date. */
    @Override
    public Date engineGetCreationDate(String alias) {
        Entry entry = entries.get(alias);
        return entry == null ? null : entry.chain[0].getNotBefore();
    }

    @Override
    public Enumeration<String> engineAliases() {
        return Collections.enumeration(entries.keySet());
    }

    @Override
    public boolean engineContainsAlias(String alias) {
        return entries.containsKey(alias);
    }

    @Override
    public int engineSize() {
        return entries.size();
    }

    @Override
    public boolean engineIsKeyEntry(String alias) {
        return entries.containsKey(alias);
    }

    @Override
    public boolean engineIsCertificateEntry(String alias) {
        return false;
    }

    @Override
    public String engineGetCertificateAlias(Certificate cert) {
        for (Map.Entry<String, Entry> entry : entries.entrySet()) {
            if (entry.getValue().chain[0].equals(cert)) {
                return entry.getKey();
            }
        }
        return null;
    }

    /** A key entry needs no password of its own: the token took the PIN at load. */
    @Override
    public KeyStore.Entry engineGetEntry(String alias, KeyStore.ProtectionParameter protection) {
        Entry entry = entries.get(alias);
        return entry == null ? null : new KeyStore.PrivateKeyEntry(entry.key, entry.chain.clone());
    }

    @Override
    public void engineSetKeyEntry(String alias, Key key, char[] password, Certificate[] chain)
            throws KeyStoreException {
        throw new KeyStoreException(READ_ONLY);
    }

    @Override
    public void engineSetKeyEntry(String alias, byte[] key, Certificate[] chain) throws KeyStoreException {
        throw new KeyStoreException(READ_ONLY);
    }

    @Override
    public void engineSetCertificateEntry(String alias, Certificate cert) throws KeyStoreException {
        throw new KeyStoreException(READ_ONLY);
    }

    @Override
    public void engineDeleteEntry(String alias) throws KeyStoreException {
        throw new KeyStoreException(READ_ONLY);
    }

    /** Refused: store may throw only IOException here, so the KeyStoreException is its cause. */
    @Override
    public void engineStore(OutputStream stream, char[] password) throws IOException {
        throw new IOException(READ_ONLY, new KeyStoreException(READ_ONLY));
    }

    @Override
    public void engineStore(KeyStore.LoadStoreParameter param) throws IOException {
        throw new IOException(READ_ONLY, new KeyStoreException(READ_ONLY));
    }
}
