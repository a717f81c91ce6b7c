#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Asks the Wayland compositor at WAYLAND_DISPLAY for an activation token
(xdg_activation_v1), as a launcher does before it starts a program, and prints
it. Speaks the wire protocol itself, so that it needs no client library.

Run: activation_token.py [APP_ID]
Exits 1 with a message where the compositor offers no xdg_activation_v1 or
answers with an error.
"""
import os
import socket
import struct
import sys

DISPLAY_ID, REGISTRY_ID, SYNC_ID, ACTIVATION_ID, TOKEN_ID = 1, 2, 3, 4, 5


def string_arg(text):
    data = text.encode() + b"\0"
    return struct.pack("=I", len(data)) + data + b"\0" * (-len(data) % 4)


def read_string(body, at):
    (length,) = struct.unpack_from("=I", body, at)
    text = body[at + 4:at + 4 + length - 1].decode(errors="replace")
    return text, at + 4 + length + (-length % 4)


class Connection:
    def __init__(self):
        name = os.environ.get("WAYLAND_DISPLAY", "wayland-0")
        path = name if name.startswith("/") else os.path.join(os.environ["XDG_RUNTIME_DIR"], name)
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(path)
        self.buffer = b""

    def send(self, object_id, opcode, args=b""):
        self.sock.sendall(struct.pack("=II", object_id, (8 + len(args)) << 16 | opcode) + args)

    def events(self):
        while True:
            while len(self.buffer) >= 8:
                object_id, word = struct.unpack_from("=II", self.buffer)
                size = word >> 16
                if size < 8 or len(self.buffer) < size:
                    break
                body, self.buffer = self.buffer[8:size], self.buffer[size:]
                yield object_id, word & 0xFFFF, body
            data = self.sock.recv(65536)
            if not data:
                raise SystemExit("the compositor closed the connection")
            self.buffer += data


def main():
    app_id = sys.argv[1] if len(sys.argv) > 1 else ""
    connection = Connection()
    connection.send(DISPLAY_ID, 1, struct.pack("=I", REGISTRY_ID))  # wl_display.get_registry
    connection.send(DISPLAY_ID, 0, struct.pack("=I", SYNC_ID))  # wl_display.sync
    bound = False
    for object_id, opcode, body in connection.events():
        if object_id == DISPLAY_ID and opcode == 0:  # wl_display.error
            _, code = struct.unpack_from("=II", body)
            message, _ = read_string(body, 8)
            raise SystemExit(f"compositor error {code}: {message}")
        if object_id == REGISTRY_ID and opcode == 0:  # wl_registry.global
            (name,) = struct.unpack_from("=I", body)
            interface, at = read_string(body, 4)
            if interface == "xdg_activation_v1" and not bound:
                bound = True
                # wl_registry.bind(name, interface, version 1, new id)
                connection.send(REGISTRY_ID, 0, struct.pack("=I", name) + string_arg(interface)
                                + struct.pack("=II", 1, ACTIVATION_ID))
                connection.send(ACTIVATION_ID, 1, struct.pack("=I", TOKEN_ID))  # get_activation_token
                if app_id:
                    connection.send(TOKEN_ID, 1, string_arg(app_id))  # set_app_id
                connection.send(TOKEN_ID, 3)  # commit
        elif object_id == SYNC_ID and not bound:
            raise SystemExit("the compositor offers no xdg_activation_v1")
        elif object_id == TOKEN_ID and opcode == 0:  # xdg_activation_token_v1.done
            token, _ = read_string(body, 0)
            print(token)
            return 0


if __name__ == "__main__":
    sys.exit(main())
