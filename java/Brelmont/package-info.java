/**
 * PKCS #11 tokens and the user's personal certificate store from Java,
 * through the native kavro library: directly with the static methods of
 * {@link Brelmont.Kavro}, or through the JCA with {@link Brelmont.KavroProvider}.
 *
 * <ul>
 * <li>{@link Brelmont.Kavro}: 27 methods over token modules and the personal
 * store; every outcome is a result code, nothing throws.</li>
 * <li>{@link Brelmont.KavroResult}: the result codes by name, and a short
 * description of any result.</li>
 * <li>{@link Brelmont.KavroCertificates}: a token's certificates whole (value,
 * label, {@code CKA_ID}, serial).</li>
 * <li>{@link Brelmont.KavroProvider}: the JCA provider "Kavro": a key store of
 * the token's keys, RSA signatures and RSA decryption with them, for any
 * code that knows only the JCA (JSSE, jarsigner, keytool).</li>
 * </ul>
 *
 * <h2>Signing with a token key through the JCA</h2>
 * The provider is configured for one token, for example with
 * {@code kind=0,slot=1}; the user PIN opens the key store, whose aliases are
 * the certificates' labels. The JCA hands the signing to Kavro, which has
 * the key, and the verification with the certificate's public key to the
 * JDK's own provider. Run it as
 * {@code java -cp kavro.jar:. SignThroughJca kind=0,slot=1 123456}.
 *
 * <pre>{@code
 * import Brelmont.KavroProvider;
 * import java.nio.charset.StandardCharsets;
 * import java.security.KeyStore;
 * import java.security.PrivateKey;
 * import java.security.Provider;
 * import java.security.Security;
 * import java.security.Signature;
 * import java.security.cert.Certificate;
 *
 * public final class SignThroughJca {
 *     public static void main(String[] args) throws Exception {
 *         Provider kavro = new KavroProvider().configure(args[0]);
 *         Security.addProvider(kavro);
 *
 *         KeyStore token = KeyStore.getInstance("Kavro");
 *         token.load(null, args[1].toCharArray());
 *         String alias = token.aliases().nextElement();
 *         PrivateKey key = (PrivateKey) token.getKey(alias, null);
 *         Certificate certificate = token.getCertificate(alias);
 *
 *         byte[] data = "signed on the token".getBytes(StandardCharsets.UTF_8);
 *         Signature signer = Signature.getInstance("SHA256withRSA");
 *         signer.initSign(key);
 *         signer.update(data);
 *         byte[] signature = signer.sign();
 *
 *         Signature verifier = Signature.getInstance("SHA256withRSA");
 *         verifier.initVerify(certificate);
 *         verifier.update(data);
 *         System.out.println(alias + ": " + verifier.verify(signature));
 *     }
 * }
 * }</pre>
 */
package Brelmont;
