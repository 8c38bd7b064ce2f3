#!/usr/bin/env python3
"""A virtual ISO 7816 card carrying a small PKCS#15 application, for OpenSC.

  card.py PORT SHIM_DIR

Connects to the virtual reader (vpcd) on 127.0.0.1:PORT; the card is in the
reader while this runs. Uses Debian's card emulator (vsmartcard-vpicc), whose
package misses its own module path, and two Python 3 faults of it that the
ISO 7816 card meets are mended here: the old "sha" module (SHIM_DIR holds a
stand-in) and its BER-TLV packer, which joins bytes as if they were a list.
The application: EF(DIR) naming it, EF(ODF) with an (empty) data-object
directory and an authentication-object directory holding the user PIN
(ASCII digits, 4 to 8, padded to 8 with zero bytes; "1234", the emulator's),
EF(TokenInfo) with label "corvale card". OpenSC binds it with its PKCS#15
framework when its "default" card driver is enabled. The emulator's PIN
commands are wrapped: a wrong PIN is answered 63Cx (tries left) rather than
6300, and CHANGE REFERENCE DATA takes the old and the new PIN, each padded to
8 bytes, and refuses a wrong old one.
"""
import logging
import sys

sys.path[:0] = ["/usr/lib/python3/site-packages/virtualsmartcard", sys.argv[2]]

import virtualsmartcard.TLVutils as tlv  # noqa: E402
from virtualsmartcard.SmartcardFilesystem import DF, TransparentStructureEF  # noqa: E402
from virtualsmartcard.SWutils import SW, SwError  # noqa: E402
from virtualsmartcard.VirtualSmartcard import VirtualICC  # noqa: E402


def ber(items, recalculate_length=False):
    """BER-TLV of (tag, length, value) items; a value is bytes or nested items."""
    out = b""
    for tag, length, value in (item[:3] for item in items):
        if tag in (0x00, 0xFF):
            out += bytes([tag])
            continue
        if not isinstance(value, bytes):
            value = ber(value, recalculate_length)
        if recalculate_length:
            length = len(value)
        size = (length.bit_length() + 7) // 8
        encoded = bytes([length]) if length < 0x80 else bytes([0x80 | size]) + length.to_bytes(size, "big")
        out += tag.to_bytes((tag.bit_length() + 7) // 8, "big") + encoded + value
    return out


def der(tag, *parts):
    body = b"".join(parts)
    return bytes([tag, len(body)]) + body


def verify_pin(sam):
    """VERIFY answering a wrong PIN with 63Cx (x tries left), as OpenSC expects, not 6300."""
    def verify(p1, p2, data):
        try:
            return sam.verify(p1, p2, data)
        except SwError as e:
            if e.sw == SW["WARN_NOINFO63"]:
                e.sw = 0x63C0 | sam.counter
            raise
    return verify


def change_pin(sam):
    def change(p1, p2, data):
        if len(data) != 16:
            raise SwError(SW["ERR_WRONGLENGTH"])
        verify_pin(sam)(0, p2, data[:8])
        sam.PIN = data[8:].replace(b"\0", b"")
        return SW["NORMAL"], b""
    return change


tlv.pack = ber
AID = bytes.fromhex("A000000063504B43532D3135")  # PKCS#15
LABEL = b"corvale card"

vicc = VirtualICC(None, "iso7816", "127.0.0.1", int(sys.argv[1]), logginglevel=logging.CRITICAL)
mf = vicc.os.mf
app = DF(parent=mf, fid=0x5015, dfname=AID)
mf.append(app)
mf.append(TransparentStructureEF(parent=mf, fid=0x2F00,
                                 data=der(0x61, der(0x4F, AID), der(0x51, bytes.fromhex("3F005015")))))
app.append(TransparentStructureEF(parent=app, fid=0x5031, data=der(0xA7, der(0x30, der(0x04, b"\x44\x07")))
                                 + der(0xA8, der(0x30, der(0x04, b"\x44\x01")))))
app.append(TransparentStructureEF(parent=app, fid=0x4407, data=b"\x00"))
# A PIN object: label, modifiable; auth id 01; flags initialized and
# needs-padding, ASCII digits, 4 to 8 long, stored as 8, reference 1, padded with 00.
app.append(TransparentStructureEF(parent=app, fid=0x4401, data=der(
    0x30, der(0x30, der(0x0C, b"User PIN"), der(0x03, b"\x06\x40")), der(0x30, der(0x04, b"\x01")),
    der(0xA1, der(0x30, der(0x03, b"\x00\x0C"), der(0x0A, b"\x01"), der(0x02, b"\x04"), der(0x02, b"\x08"),
                  der(0x02, b"\x08"), der(0x80, b"\x01"), der(0x04, b"\x00"))))))
app.append(TransparentStructureEF(parent=app, fid=0x5032, data=der(
    0x30, der(0x02, b"\x00"), der(0x04, bytes.fromhex("12345678")), der(0x0C, b"corvale"), der(0x80, LABEL),
    der(0x03, b"\x00"))))
vicc.os.ins2handler[0x20] = verify_pin(vicc.os.SAM)
vicc.os.ins2handler[0x24] = change_pin(vicc.os.SAM)
vicc.run()
