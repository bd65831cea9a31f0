package demo;

/** What the result codes of Brelmont.Kavro mean, for printing. */
final class ResultCodes {
    private ResultCodes() {
    }

    static String meaning(int code) {
        switch (code) {
            case 0: return "success";
            case -1: return "a PIN transport text is not valid Base64";
            case 1001: return "no usable token module for the module kind";
            case 1002: return "the slot is not registered (call GetSlotList first)";
            case 1003: return "an argument is missing or out of range";
            case 1004: return "the token serial cannot be read or is not 16 characters";
            case 1005: return "no memory for a working buffer";
            case 1006: return "no certificate on the token has that serial";
            case 1007: return "no key carries the certificate's CKA_ID";
            case 1008: return "the signature mechanism selector is not 0 to 3";
            case 1011: return "no such key or store certificate";
            case 1012: return "no slot holds a token";
            case 1201: return "the PIN transport key cannot be set up";
            case 1202: return "the PEM certificate text cannot be unwrapped";
            case 1301: return "the personal certificate store cannot be opened";
            case 1302: return "no certificate chosen, or the bytes are not a certificate";
            case 1303: return "the certificate's private key is not available";
            case 1304: return "the hash cannot be created or fed";
            case 1305: return "the certificate file cannot be read";
            case 1306: return "no cryptographic provider";
            case 1307: return "the public key cannot be imported";
            case 1308: return "the signature does not verify";
            case 1309: return "the hash cannot be signed";
            case 4001: return "the login was refused";
            case 0x90: return "CKR_OPERATION_ACTIVE: an earlier operation is still active on the session";
            case 0xA0: return "CKR_PIN_INCORRECT (from C_InitToken: the SO PIN is wrong)";
            case 0xA4: return "CKR_PIN_LOCKED (or no security-officer attempts left)";
            case 0xB3: return "CKR_SESSION_HANDLE_INVALID: no open session on the slot";
            case 0xC0: return "CKR_SIGNATURE_INVALID: the signature does not verify";
            case 0x101: return "CKR_USER_NOT_LOGGED_IN";
            case 0x150: return "CKR_BUFFER_TOO_SMALL: the output array is too short";
            default:
                if (code > 0 && code < 256) {
                    return "security-officer attempts left, or PKCS #11 result 0x" + Integer.toHexString(code);
                }
                return "PKCS #11 result 0x" + Integer.toHexString(code);
        }
    }
}
