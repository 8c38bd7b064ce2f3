package quorvel.pkcs.pkcs11;

/** Cryptoki's fixed-width text fields, padded with blanks. */
final class FixedText {

    private FixedText() {
    }

    /** The text without its trailing whitespace (String.stripTrailing, which Java 8 lacks). */
    static String trimmed(String text) {
        if (text == null) return null;
        int end = text.length();
        while (end > 0 && Character.isWhitespace(text.charAt(end - 1))) end--;
        return text.substring(0, end);
    }
}
