#!/usr/bin/env python3
"""A virtual PIV card (the card edge of NIST SP 800-73-4), for OpenSC's PIV driver and Yubico's ykcs11.

  card.py PORT STATE_DIR

Connects to the virtual reader (vpcd) on 127.0.0.1:PORT; the card is in the
reader while this runs. Its keys and self-signed certificates are made on the
first start into STATE_DIR and reused by later starts (the card taken out and
put in again is the same card):

  9A  PIV authentication   RSA-2048   digitalSignature              PIN
  9C  digital signature    EC P-256   digitalSignature, nonRepudiation   PIN always
  9D  key management       RSA-2048   keyEncipherment               PIN
  9E  card authentication  EC P-256   digitalSignature              no PIN

The PIN is 123456 at every start, 3 tries, blocked after the last wrong one;
it can be changed (6 to 8 digits). "PIN always" for 9C: a successful VERIFY
allows one signature with 9C, by the next command. The card answers at once:
every response fits a short APDU (256 data bytes, the rest by GET RESPONSE),
and commands may be chained (CLA 10).
"""
import datetime
import os
import secrets
import socket
import sys
import time

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, rsa, utils
from cryptography.x509.oid import NameOID

PIV_AID = bytes.fromhex("A000000308000010000100")
# T=0 and T=1 offered (ykcs11 connects with T=1 only), historical bytes "PIVEMU01".
ATR = bytes.fromhex("3B888001504956454D5530311A")
PIN, TRIES = b"123456", 3
# Key reference: certificate object, algorithm, PIN rule, name, key usage.
KEYS = {
    0x9A: (0x5FC105, "rsa", "pin", "PIV authentication", {"digital_signature"}),
    0x9C: (0x5FC10A, "ec", "always", "digital signature", {"digital_signature", "content_commitment"}),
    0x9D: (0x5FC10B, "rsa", "pin", "key management", {"key_encipherment"}),
    0x9E: (0x5FC101, "ec", "none", "card authentication", {"digital_signature"}),
}
ALGORITHM = {"rsa": 0x07, "ec": 0x11}
HASHES = {20: hashes.SHA1(), 28: hashes.SHA224(), 32: hashes.SHA256(), 48: hashes.SHA384(), 64: hashes.SHA512()}


class Status(Exception):
    def __init__(self, sw):
        super().__init__(hex(sw))
        self.sw = sw


def tlv(tag, value):
    n = len(value)
    length = bytes([n]) if n < 0x80 else bytes([0x81, n]) if n < 0x100 else bytes([0x82]) + n.to_bytes(2, "big")
    return tag + length + value


def parse(data):
    """BER-TLV items (one-byte tags) as a dict."""
    items, i = {}, 0
    while i + 2 <= len(data):
        tag, n = data[i], data[i + 1]
        i += 2
        if n & 0x80:
            size = n & 0x7F
            n = int.from_bytes(data[i:i + size], "big")
            i += size
        items[tag] = data[i:i + n]
        i += n
    return items


def make_keys(state):
    """Keys and certificates, made once per STATE_DIR (a directory renamed into place whole)."""
    if os.path.isdir(state):
        return
    tmp = f"{state}.{os.getpid()}"
    os.makedirs(tmp)
    now = datetime.datetime.now(datetime.timezone.utc)
    for ref, (_, alg, _, name, usage) in KEYS.items():
        key = rsa.generate_private_key(65537, 2048) if alg == "rsa" else ec.generate_private_key(ec.SECP256R1())
        subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, f"corvale {name}")])
        flags = {f: f in usage for f in ("digital_signature", "content_commitment", "key_encipherment",
                                         "data_encipherment", "key_agreement", "key_cert_sign", "crl_sign")}
        cert = (x509.CertificateBuilder().subject_name(subject).issuer_name(subject).public_key(key.public_key())
                .serial_number(x509.random_serial_number()).not_valid_before(now - datetime.timedelta(days=1))
                .not_valid_after(now + datetime.timedelta(days=30))
                .add_extension(x509.KeyUsage(encipher_only=False, decipher_only=False, **flags), critical=True)
                .sign(key, hashes.SHA256()))
        with open(f"{tmp}/{ref:02x}.key", "wb") as f:
            f.write(key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                      serialization.NoEncryption()))
        with open(f"{tmp}/{ref:02x}.crt", "wb") as f:
            f.write(cert.public_bytes(serialization.Encoding.DER))
    with open(f"{tmp}/guid", "wb") as f:
        f.write(secrets.token_bytes(16))
    try:
        os.rename(tmp, state)
    except OSError:  # another start made them first
        for name in os.listdir(tmp):
            os.unlink(f"{tmp}/{name}")
        os.rmdir(tmp)


class Card:
    def __init__(self, state):
        self.keys, self.objects = {}, {}
        for ref, (obj, _, _, _, _) in KEYS.items():
            with open(f"{state}/{ref:02x}.key", "rb") as f:
                self.keys[ref] = serialization.load_pem_private_key(f.read(), None)
            with open(f"{state}/{ref:02x}.crt", "rb") as f:
                # Certificate, not compressed (ykcs11 cannot decompress), error detection code.
                self.objects[obj] = tlv(b"\x53", tlv(b"\x70", f.read()) + b"\x71\x01\x00\xFE\x00")
        with open(f"{state}/guid", "rb") as f:
            guid = f.read()
        # CHUID: a FASC-N of agency 9999 (so the serial number is the GUID, and key usage follows the
        # certificates), the GUID, an expiry date, an empty signature.
        fascn = bytes.fromhex("D4E739DA739CED39CE739D836858210842108421C84210C3EB")
        self.objects[0x5FC102] = tlv(b"\x53", tlv(b"\x30", fascn) + tlv(b"\x34", guid) + tlv(b"\x35", b"20991231")
                                     + b"\x3E\x00\xFE\x00")
        # Discovery: the PIV AID, and the PIN usage policy "PIV PIN only".
        self.objects[0x7E] = bytes.fromhex("7E124F0BA0000003080000100001005F2F024000")
        self.pin, self.tries = PIN, TRIES
        self.reset()

    def reset(self):
        self.verified = self.armed = False
        self.chain, self.pending = None, b""

    def apdu(self, cmd):
        if len(cmd) < 4:
            return b"\x67\x00"
        cla, ins, p1, p2 = cmd[:4]
        body, data, le = cmd[4:], b"", 256
        if len(body) == 1:  # Le, or no data at all (ykcs11 sends P3 = 00 without data)
            le = body[0] or 256
        elif body:
            data, rest = body[1:1 + body[0]], body[1 + body[0]:]
            if len(data) != body[0] or len(rest) > 1:
                return b"\x67\x00"
            if rest:
                le = rest[0] or 256
        armed, self.armed = self.armed, False
        if ins == 0xC0:
            return self.respond(le)
        self.pending = b""
        if cla & 0x10:
            if self.chain and self.chain[0] != cmd[1:4]:
                self.chain = None
                return b"\x68\x83"
            self.chain = (cmd[1:4], (self.chain[1] if self.chain else b"") + data)
            self.armed = armed and ins == 0x87 and p2 == 0x9C
            return b"\x90\x00"
        if self.chain:
            head, first = self.chain
            self.chain = None
            if head != cmd[1:4]:
                return b"\x68\x83"
            data = first + data
        try:
            if ins == 0xA4:
                self.pending = self.select(p1, p2, data)
            elif ins == 0xCB and (p1, p2) == (0x3F, 0xFF):
                self.pending = self.get_data(data)
            elif ins == 0x20 and p2 == 0x80:
                self.verify(p1, data)
            elif ins == 0x24 and p2 == 0x80:
                self.change(data)
            elif ins == 0x87:
                self.pending = self.authenticate(p1, p2, data, armed)
            else:
                raise Status(0x6D00)
        except Status as e:
            return e.sw.to_bytes(2, "big")
        return self.respond(le)

    def respond(self, le):
        out, self.pending = self.pending[:le], self.pending[le:]
        n = len(self.pending)
        return out + (bytes([0x61, n if n < 256 else 0]) if n else b"\x90\x00")

    def select(self, p1, p2, aid):
        if p1 != 0x04 or len(aid) < 5 or not PIV_AID.startswith(aid):
            raise Status(0x6A82)
        if p2 & 0x0C == 0x0C:
            return b""
        # Application property template: PIX, coexistent tag allocation authority, label, algorithms.
        return tlv(b"\x61", tlv(b"\x4F", PIV_AID[5:]) + tlv(b"\x79", tlv(b"\x4F", PIV_AID[:5]))
                   + tlv(b"\x50", b"corvale PIV") + bytes.fromhex("AC09800107800111060100"))

    def get_data(self, data):
        if len(data) < 3 or data[0] != 0x5C or data[1] != len(data) - 2:
            raise Status(0x6A80)
        obj = self.objects.get(int.from_bytes(data[2:], "big"))
        if obj is None:
            raise Status(0x6A82)
        return obj

    def pin_status(self):
        if self.tries == 0:
            return Status(0x6983)
        return Status(0x63C0 | self.tries)

    def check_pin(self, given):
        if self.tries == 0:
            raise Status(0x6983)
        if len(given) != 8 or given.rstrip(b"\xFF") != self.pin:
            self.verified = False
            self.tries -= 1
            raise self.pin_status()
        self.tries = TRIES

    def verify(self, p1, data):
        if p1 == 0xFF:  # reset the security status
            self.verified = False
        elif not data:
            if not self.verified:
                raise self.pin_status()
        else:
            self.check_pin(data)
            self.verified = self.armed = True

    def change(self, data):
        if len(data) != 16:
            raise Status(0x6A80)
        self.check_pin(data[:8])
        new = data[8:].rstrip(b"\xFF")
        if not 6 <= len(new) <= 8 or not new.isdigit():
            raise Status(0x6A80)
        self.pin = new

    def authenticate(self, p1, p2, data, armed):
        if len(data) < 2 or data[0] != 0x7C:
            raise Status(0x6A80)
        items = parse(parse(data).get(0x7C, b""))
        if p2 == 0x9B and items.get(0x81) == b"":  # a challenge: random bytes
            return tlv(b"\x7C", tlv(b"\x81", secrets.token_bytes(8)))
        if p2 not in KEYS:
            raise Status(0x6A88)
        _, alg, rule, _, _ = KEYS[p2]
        if (rule == "pin" and not self.verified) or (rule == "always" and not (self.verified and armed)):
            raise Status(0x6982)
        given, key = items.get(0x81), self.keys[p2]
        if p1 != ALGORITHM[alg] or items.get(0x82) != b"" or given is None:
            raise Status(0x6A80)
        if alg == "rsa":
            numbers = key.private_numbers()
            n, m = numbers.public_numbers.n, int.from_bytes(given, "big")
            if len(given) != 256 or m >= n:
                raise Status(0x6A80)
            out = pow(m, numbers.d, n).to_bytes(256, "big")
        else:
            if len(given) not in HASHES:
                raise Status(0x6A80)
            out = key.sign(given, ec.ECDSA(utils.Prehashed(HASHES[len(given)])))
        return tlv(b"\x7C", tlv(b"\x82", out))


def serve(port, card):
    """vpcd's framing: a 2-byte length, then a command APDU or one control byte."""
    end = time.monotonic() + 30
    while True:
        try:
            sock = socket.create_connection(("127.0.0.1", port))
            break
        except OSError:
            if time.monotonic() > end:
                raise
            time.sleep(0.1)
    # One write per answer, sent at once; reads take whatever has come (length and payload arrive apart).
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    buf = b""
    while True:
        while len(buf) < 2 or len(buf) < 2 + int.from_bytes(buf[:2], "big"):
            # vpcd writes a frame's length and its payload apart, and holds the payload until the length is
            # acknowledged (Nagle): acknowledge at once, not after the usual 40 ms delay.
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_QUICKACK, 1)
            more = sock.recv(65536)
            if not more:
                return
            buf += more
        n = int.from_bytes(buf[:2], "big")
        msg, buf = buf[2:2 + n], buf[2 + n:]
        if n == 1:
            if msg[0] == 0x04:  # the ATR; asked even between chained commands
                sock.sendall(len(ATR).to_bytes(2, "big") + ATR)
            else:  # power off, power on, reset
                card.reset()
            continue
        out = card.apdu(msg)
        sock.sendall(len(out).to_bytes(2, "big") + out)


if __name__ == "__main__":
    make_keys(sys.argv[2])
    serve(int(sys.argv[1]), Card(sys.argv[2]))
