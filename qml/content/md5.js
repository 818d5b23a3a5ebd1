// MD5 message digest (RFC 1321) of a text's UTF-8 bytes, as 32 lower-case
// hexadecimal digits. The devices check the password against exactly this
// form, so the encoding below must not be swapped for a library's own.
// Plain script without a pragma: the probe worker pulls it in with
// Qt.include, and a test engine can evaluate it as it is.

// UTF-8 bytes of a JavaScript text taken as 16-bit units. A surrogate pair
// becomes one four-byte sequence; a lone surrogate is written as the
// three-byte sequence of its own value instead of a substitute character.
function md5_utf8Bytes(text) {
    var bytes = [];
    var length = text.length;
    for (var i = 0; i < length; i++) {
        var unit = text.charCodeAt(i);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length) {
            var low = text.charCodeAt(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                var codePoint = 0x10000 + ((unit & 0x3FF) << 10) + (low & 0x3FF);
                bytes.push(0xF0 | (codePoint >>> 18),
                           0x80 | ((codePoint >>> 12) & 0x3F),
                           0x80 | ((codePoint >>> 6) & 0x3F),
                           0x80 | (codePoint & 0x3F));
                i++;
                continue;
            }
        }
        if (unit <= 0x7F) {
            bytes.push(unit);
        } else if (unit <= 0x7FF) {
            bytes.push(0xC0 | (unit >>> 6), 0x80 | (unit & 0x3F));
        } else {
            bytes.push(0xE0 | (unit >>> 12), 0x80 | ((unit >>> 6) & 0x3F), 0x80 | (unit & 0x3F));
        }
    }
    return bytes;
}

// Per-round shift amounts and the sine-derived constants of RFC 1321, 3.4.
var md5_shifts = [
    7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
    5, 9, 14, 20, 5, 9, 14, 20, 5, 9, 14, 20, 5, 9, 14, 20,
    4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
    6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21
];

var md5_sines = (function () {
    var table = [];
    for (var i = 0; i < 64; i++)
        table.push((Math.floor(Math.abs(Math.sin(i + 1)) * 4294967296)) | 0);
    return table;
})();

function md5_rotateLeft(value, count) {
    return (value << count) | (value >>> (32 - count));
}

// Digest of a byte array as four 32-bit words (A, B, C, D).
function md5_words(bytes) {
    var byteCount = bytes.length;
    // Padding: a single 1 bit, zeros up to 56 bytes modulo 64, then the
    // message length in bits as a 64-bit little-endian number.
    var blockCount = ((byteCount + 8) >>> 6) + 1;
    var words = new Array(blockCount * 16);
    for (var w = 0; w < words.length; w++)
        words[w] = 0;
    for (var b = 0; b < byteCount; b++)
        words[b >>> 2] |= bytes[b] << ((b % 4) * 8);
    words[byteCount >>> 2] |= 0x80 << ((byteCount % 4) * 8);
    var bitCountLow = (byteCount * 8) >>> 0;
    var bitCountHigh = Math.floor(byteCount / 0x20000000);
    words[blockCount * 16 - 2] = bitCountLow | 0;
    words[blockCount * 16 - 1] = bitCountHigh | 0;

    var a0 = 0x67452301, b0 = 0xEFCDAB89 | 0, c0 = 0x98BADCFE | 0, d0 = 0x10325476;
    for (var block = 0; block < words.length; block += 16) {
        var a = a0, bb = b0, c = c0, d = d0;
        for (var step = 0; step < 64; step++) {
            var f, g;
            if (step < 16) {
                f = (bb & c) | (~bb & d);
                g = step;
            } else if (step < 32) {
                f = (bb & d) | (c & ~d);
                g = (5 * step + 1) % 16;
            } else if (step < 48) {
                f = bb ^ c ^ d;
                g = (3 * step + 5) % 16;
            } else {
                f = c ^ (bb | ~d);
                g = (7 * step) % 16;
            }
            var sum = (a + f + md5_sines[step] + words[block + g]) | 0;
            a = d;
            d = c;
            c = bb;
            bb = (bb + md5_rotateLeft(sum, md5_shifts[step])) | 0;
        }
        a0 = (a0 + a) | 0;
        b0 = (b0 + bb) | 0;
        c0 = (c0 + c) | 0;
        d0 = (d0 + d) | 0;
    }
    return [a0, b0, c0, d0];
}

var md5_hexDigits = "0123456789abcdef";

function hex_md5(text) {
    var words = md5_words(md5_utf8Bytes(String(text)));
    var hex = "";
    // Each word goes out low byte first, each byte high nibble first.
    for (var i = 0; i < 4; i++) {
        for (var shift = 0; shift < 32; shift += 8) {
            var octet = (words[i] >>> shift) & 0xFF;
            hex += md5_hexDigits.charAt(octet >>> 4) + md5_hexDigits.charAt(octet & 0x0F);
        }
    }
    return hex;
}
