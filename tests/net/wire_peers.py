#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Independent decoders and encoders for NetBIOS packets, for the wire tests.

Each command prints key=value lines. Exit status 77 means a tool is missing
(the reason is printed); the tests then skip.

  check-samba | check-tshark
  samba-dgram HEX                  decode a datagram with Samba's NDR; repack it
  samba-name HEX                   decode a name service packet; repack it
  samba-build-dgram TYPE ID IP SRC SRCTYPE DST DSTTYPE SLOT DATAHEX PRIORITY PAD
                                   encode a mailslot datagram with Samba's NDR,
                                   then put PAD bytes between the name and the data
  samba-build-query ID FLAGS NAME TYPE
  samba-build-answer ID NAME TYPE TTL NBFLAGS IP
  samba-build-request ID FLAGS NAME TYPE TTL NBFLAGS IP
                                   a registration, refresh or release request: the
                                   question and the claimant's additional record
  samba-build-response ID FLAGS NAME TYPE RRTYPE TTL RDATAHEX
                                   a response with one answer record (NB: RDATA as
                                   NB entries; any other type: RDATA as it is)
  tshark PORT:HEX...               one UDP packet per argument, decoded by tshark
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile


def out(key, value):
    print(f"{key}={value}")


def skip(reason):
    print(reason)
    sys.exit(77)


def samba():
    try:
        from samba.dcerpc import nbt
        from samba.ndr import ndr_pack, ndr_unpack
    except ImportError as error:
        skip(f"python3-samba is not available: {error}")
    return nbt, ndr_pack, ndr_unpack


def name_text(name):
    return f"{name.name}<{name.type:02X}>"


def samba_dgram(hexbytes):
    nbt, ndr_pack, ndr_unpack = samba()
    raw = bytes.fromhex(hexbytes)
    packet = ndr_unpack(nbt.dgram_packet, raw)
    msg = packet.data
    smb = msg.body
    trans = smb.body
    out("msg_type", hex(packet.msg_type))
    out("flags", hex(packet.flags))
    out("dgram_id", hex(packet.dgram_id))
    out("src_addr", packet.src_addr)
    out("src_port", packet.src_port)
    out("length", msg.length)
    out("offset", msg.offset)
    out("source", name_text(msg.source_name))
    out("destination", name_text(msg.dest_name))
    out("command", hex(smb.smb_command))
    out("wct", trans.wct)
    out("total_data_count", trans.total_data_count)
    out("data_count", trans.data_count)
    out("data_offset", trans.data_offset)
    out("setup_count", trans.setup_count)
    out("opcode", trans.opcode)
    out("priority", trans.priority)
    out("class", trans._class)
    out("byte_count", trans.byte_count)
    out("mailslot", trans.mailslot_name)
    out("data", bytes(trans.data).hex())
    repacked = ndr_pack(packet)
    out("repacked", "same" if repacked == raw else repacked.hex())


def samba_name(hexbytes):
    nbt, ndr_pack, ndr_unpack = samba()
    raw = bytes.fromhex(hexbytes)
    packet = ndr_unpack(nbt.name_packet, raw)
    out("id", hex(packet.name_trn_id))
    out("operation", f"0x{packet.operation:04x}")
    out("qdcount", packet.qdcount)
    out("ancount", packet.ancount)
    for i, question in enumerate(packet.questions):
        out(f"question{i}.name", name_text(question.name))
        out(f"question{i}.type", hex(question.question_type))
        out(f"question{i}.class", hex(question.question_class))
    for i, answer in enumerate(packet.answers):
        out(f"answer{i}.name", name_text(answer.name))
        out(f"answer{i}.type", hex(answer.rr_type))
        out(f"answer{i}.class", hex(answer.rr_class))
        out(f"answer{i}.ttl", answer.ttl)
        for j, address in enumerate(answer.rdata.addresses):
            out(f"answer{i}.nb_flags{j}", f"0x{address.nb_flags:04x}")
            out(f"answer{i}.address{j}", address.ipaddr)
    repacked = ndr_pack(packet)
    out("repacked", "same" if repacked == raw else repacked.hex())


def make_name(nbt, text, suffix):
    name = nbt.name()
    name.name = text
    name.type = int(suffix, 0)
    return name


def samba_build_dgram(kind, ident, ip, src, srctype, dst, dsttype, slot, datahex, priority, pad):
    nbt, ndr_pack, _ = samba()
    data = bytes.fromhex(datahex)
    pad = int(pad)
    trans = nbt.smb_trans_body()
    trans.wct = 17
    trans.total_data_count = len(data)
    trans.data_count = len(data)
    trans.data_offset = 70 + len(slot) + pad
    trans.setup_count = 3
    trans.opcode = 1
    trans.priority = int(priority)
    trans._class = 2
    trans.byte_count = len(slot) + 1 + pad + len(data)
    trans.mailslot_name = slot
    trans.data = data
    smb = nbt.dgram_smb_packet()
    smb.smb_command = 0x25
    smb.body = trans
    msg = nbt.dgram_message()
    msg.source_name = make_name(nbt, src, srctype)
    msg.dest_name = make_name(nbt, dst, dsttype)
    msg.dgram_body_type = 0xFF534D42
    msg.body = smb
    packet = nbt.dgram_packet()
    packet.msg_type = int(kind, 0)
    packet.flags = 0x02
    packet.dgram_id = int(ident, 0)
    packet.src_addr = ip
    packet.src_port = 138
    # NDR leaves DGM_LENGTH to the caller; pack once to learn it.
    msg.length = 0
    packet.data = msg
    msg.length = len(ndr_pack(packet)) - 14 + pad
    packet.data = msg
    raw = ndr_pack(packet)
    name_end = 14 + 68 + 69 + len(slot) + 1
    raw = bytearray(raw[:name_end] + bytes(range(0xA0, 0xA0 + pad)) + raw[name_end:])
    # NDR counts the bytes it wrote itself; the padding is ours.
    byte_count = 14 + 68 + 67
    struct.pack_into("<H", raw, byte_count, struct.unpack_from("<H", raw, byte_count)[0] + pad)
    out("packet", raw.hex())


def samba_build_query(ident, flags, text, suffix):
    nbt, ndr_pack, _ = samba()
    packet = nbt.name_packet()
    packet.name_trn_id = int(ident, 0)
    packet.operation = int(flags, 0)
    question = nbt.name_question()
    question.name = make_name(nbt, text, suffix)
    question.question_type = nbt.NBT_QTYPE_NETBIOS
    question.question_class = nbt.NBT_QCLASS_IP
    packet.qdcount = 1
    packet.questions = [question]
    out("packet", ndr_pack(packet).hex())


def samba_build_answer(ident, text, suffix, ttl, nbflags, ip):
    nbt, ndr_pack, _ = samba()
    address = nbt.rdata_address()
    address.nb_flags = int(nbflags, 0)
    address.ipaddr = ip
    rdata = nbt.rdata_netbios()
    rdata.length = 6
    rdata.addresses = [address]
    answer = nbt.res_rec()
    answer.name = make_name(nbt, text, suffix)
    answer.rr_type = nbt.NBT_QTYPE_NETBIOS
    answer.rr_class = nbt.NBT_QCLASS_IP
    answer.ttl = int(ttl)
    answer.rdata = rdata
    packet = nbt.name_packet()
    packet.name_trn_id = int(ident, 0)
    packet.operation = 0x8500
    packet.ancount = 1
    packet.answers = [answer]
    out("packet", ndr_pack(packet).hex())


def nb_record(nbt, text, suffix, ttl, entries):
    rdata = nbt.rdata_netbios()
    rdata.length = 6 * len(entries)
    addresses = []
    for flags, ip in entries:
        address = nbt.rdata_address()
        address.nb_flags = flags
        address.ipaddr = ip
        addresses.append(address)
    rdata.addresses = addresses
    record = nbt.res_rec()
    record.name = make_name(nbt, text, suffix)
    record.rr_type = nbt.NBT_QTYPE_NETBIOS
    record.rr_class = nbt.NBT_QCLASS_IP
    record.ttl = int(ttl)
    record.rdata = rdata
    return record


def samba_build_request(ident, flags, text, suffix, ttl, nbflags, ip):
    nbt, ndr_pack, _ = samba()
    question = nbt.name_question()
    question.name = make_name(nbt, text, suffix)
    question.question_type = nbt.NBT_QTYPE_NETBIOS
    question.question_class = nbt.NBT_QCLASS_IP
    packet = nbt.name_packet()
    packet.name_trn_id = int(ident, 0)
    packet.operation = int(flags, 0)
    packet.qdcount = 1
    packet.questions = [question]
    packet.arcount = 1
    packet.additional = [nb_record(nbt, text, suffix, ttl, [(int(nbflags, 0), ip)])]
    out("packet", ndr_pack(packet).hex())


def samba_build_response(ident, flags, text, suffix, rrtype, ttl, rdatahex):
    nbt, ndr_pack, _ = samba()
    raw = bytes.fromhex(rdatahex)
    if int(rrtype, 0) == nbt.NBT_QTYPE_NETBIOS:
        entries = [(struct.unpack_from(">H", raw, at)[0], ".".join(str(b) for b in raw[at + 2:at + 6]))
                   for at in range(0, len(raw) - 5, 6)]
        record = nb_record(nbt, text, suffix, ttl, entries)
    else:
        data = nbt.rdata_data()
        data.length = len(raw)
        data.data = list(raw)
        record = nbt.res_rec()
        record.name = make_name(nbt, text, suffix)
        record.rr_type = int(rrtype, 0)
        record.rr_class = nbt.NBT_QCLASS_IP
        record.ttl = int(ttl)
        record.rdata = data
    packet = nbt.name_packet()
    packet.name_trn_id = int(ident, 0)
    packet.operation = int(flags, 0)
    packet.ancount = 1
    packet.answers = [record]
    out("packet", ndr_pack(packet).hex())


TSHARK_FIELDS = [
    "udp.dstport", "nbdgm.type", "nbdgm.src.ip", "nbdgm.dgram_id", "nbdgm.dgram_len",
    "nbdgm.first", "nbdgm.next", "nbdgm.source_name",
    "nbdgm.destination_name", "smb.cmd", "smb.data_offset", "smb.dc", "smb.trans_name", "mailslot.opcode",
    "mailslot.priority", "mailslot.class", "mailslot.name", "data.data", "nbns.id",
    "nbns.flags", "nbns.name", "nbns.type", "nbns.ttl", "nbns.nb_flags.group", "nbns.addr",
    "_ws.malformed", "_ws.expert.message",
]


def ip_checksum(header):
    total = sum(struct.unpack("!10H", header))
    total = (total >> 16) + (total & 0xFFFF)
    total += total >> 16
    return ~total & 0xFFFF


def write_pcap(path, packets):
    with open(path, "wb") as f:
        f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
        for number, (port, payload) in enumerate(packets):
            udp = struct.pack("!HHHH", port, port, 8 + len(payload), 0) + payload
            ip = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(udp), number, 0, 64, 17, 0,
                             bytes([10, 99, 0, 1]), bytes([10, 99, 0, 255]))
            ip = ip[:10] + struct.pack("!H", ip_checksum(ip)) + ip[12:]
            frame = b"\xFF" * 6 + b"\x02\x00\x00\x00\x00\x01\x08\x00" + ip + udp
            f.write(struct.pack("<IIII", number, 0, len(frame), len(frame)) + frame)


def tshark(*packets):
    program = shutil.which("tshark")
    if not program:
        skip("tshark is not installed")
    parsed = []
    for argument in packets:
        port, payload = argument.split(":", 1)
        parsed.append((int(port), bytes.fromhex(payload)))
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "packets.pcap")
        write_pcap(path, parsed)
        command = [program, "-n", "-r", path, "-T", "fields", "-E", "separator=\t",
                   "-E", "occurrence=a", "-E", "aggregator=,"]
        for field in TSHARK_FIELDS:
            command += ["-e", field]
        result = subprocess.run(command, capture_output=True, text=True, timeout=60,
                                env=dict(os.environ, HOME=folder))
    if result.returncode != 0:
        print(result.stderr, file=sys.stderr)
        sys.exit(1)
    for number, line in enumerate(result.stdout.splitlines()):
        for field, value in zip(TSHARK_FIELDS, line.split("\t")):
            if value:
                out(f"{number}:{field}", value)


def main(argv):
    commands = {
        "check-samba": lambda: (samba(), out("samba", "ok")),
        "check-tshark": lambda: out("tshark", shutil.which("tshark") or skip("tshark is not installed")),
        "samba-dgram": samba_dgram,
        "samba-name": samba_name,
        "samba-build-dgram": samba_build_dgram,
        "samba-build-query": samba_build_query,
        "samba-build-answer": samba_build_answer,
        "samba-build-request": samba_build_request,
        "samba-build-response": samba_build_response,
        "tshark": tshark,
    }
    if len(argv) < 2 or argv[1] not in commands:
        print(__doc__, file=sys.stderr)
        return 2
    commands[argv[1]](*argv[2:])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
