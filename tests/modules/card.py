#!/usr/bin/env python3
"""A virtual ISO 7816 card carrying a small PKCS#15 application, for OpenSC.

  card.py PORT SHIM_DIR

Connects to the virtual reader (vpcd) on 127.0.0.1:PORT; the card is in the
reader while this runs. Uses Debian's card emulator (vsmartcard-vpicc), whose
package misses its own module path, and two Python 3 faults of it that the
ISO 7816 card meets are mended here: the old "sha" module (SHIM_DIR holds a
stand-in) and its BER-TLV packer, which joins bytes as if they were a list.
The application: EF(DIR) naming it, EF(ODF) with one (empty) data-object
directory, EF(TokenInfo) with label "corvale card". OpenSC binds it with its
PKCS#15 framework when its "default" card driver is enabled.
"""
import logging
import sys

sys.path[:0] = ["/usr/lib/python3/site-packages/virtualsmartcard", sys.argv[2]]

import virtualsmartcard.TLVutils as tlv  # noqa: E402
from virtualsmartcard.SmartcardFilesystem import DF, TransparentStructureEF  # noqa: E402
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


tlv.pack = ber
AID = bytes.fromhex("A000000063504B43532D3135")  # PKCS#15
LABEL = b"corvale card"

vicc = VirtualICC(None, "iso7816", "127.0.0.1", int(sys.argv[1]), logginglevel=logging.CRITICAL)
mf = vicc.os.mf
app = DF(parent=mf, fid=0x5015, dfname=AID)
mf.append(app)
mf.append(TransparentStructureEF(parent=mf, fid=0x2F00,
                                 data=der(0x61, der(0x4F, AID), der(0x51, bytes.fromhex("3F005015")))))
app.append(TransparentStructureEF(parent=app, fid=0x5031, data=der(0xA7, der(0x30, der(0x04, b"\x44\x07")))))
app.append(TransparentStructureEF(parent=app, fid=0x4407, data=b"\x00"))
app.append(TransparentStructureEF(parent=app, fid=0x5032, data=der(
    0x30, der(0x02, b"\x00"), der(0x04, bytes.fromhex("12345678")), der(0x0C, b"corvale"), der(0x80, LABEL),
    der(0x03, b"\x00"))))
vicc.run()
