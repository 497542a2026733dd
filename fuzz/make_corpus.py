#!/usr/bin/env python3
"""Writes the seed corpora in corpus/<target>/ from the wire tables the tests use.
Run it again after a table changes; the files it writes are kept in the repository."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def answers(*replies):
    return b"".join(bytes([len(r)]) + r for r in replies)


# Printer replies: identify, firmware, model-setting query, setting mode, write, leave.
identify = b"7MCQX-K40VII\0"
firmware = b"_6.10\0"
model = lambda d: bytes([0x37, 0x27, 0x31, 0x32, 0x37, 0x1F, d, 0x00])
enter = bytes([0x37, 0x20, 0x00])
status = bytes([0x12])
auto_status = bytes([0x10, 0x00, 0x00, 0x00])
for d in b"0123":
    write("exchange_fuzz", "get_%c" % d, bytes([0]) + answers(identify, firmware, model(d)))
write("exchange_fuzz", "get_xon_inside", bytes([0]) + answers(b"7MC\x11QX-K40VII\x13\0", firmware, model(0x33)))
write("exchange_fuzz", "get_status_first", bytes([0]) + answers(status + identify, auto_status + firmware, model(0x30)))
write("exchange_fuzz", "get_old_firmware", bytes([0]) + answers(identify, b"_5.00\0"))
write("exchange_fuzz", "get_long_block", bytes([0]) + answers(b"\x37" + b"A" * 250, b"B" * 255, b"C" * 20 + b"\0"))
write("exchange_fuzz", "set", bytes([1]) + answers(identify, firmware, model(0x30), enter, b"", b"", identify, firmware, model(0x32)))
write("exchange_fuzz", "set_radio", bytes([0x11]) + answers(identify, firmware, model(0x31), enter, status, auto_status, identify, firmware, model(0x33)))
write("exchange_fuzz", "print", bytes([2]) + answers(identify, firmware))


def string_descriptor(text):
    body = b"".join(bytes([ord(c), 0]) for c in text)
    return bytes([2 + len(body), 3]) + body


device_descriptor = bytes([18, 1, 0x00, 0x02, 0, 0, 0, 64, 0x3F, 0x05, 0x12, 0x34, 0x10, 0x01, 1, 2, 3, 1])
run = bytes([4, 3, 0x09, 0x04]) + string_descriptor("ZEMAK") + string_descriptor("QX-K40VII") + string_descriptor("0001")
write("usb_answers_fuzz", "device_descriptor", device_descriptor)
write("usb_answers_fuzz", "string_run", run)
write("usb_answers_fuzz", "one_string", string_descriptor("QX-K40VII"))
write("usb_answers_fuzz", "cut_run", run[:17])
write("usb_answers_fuzz", "timeouts", struct.pack("<4I", 5, 50, 5, 2000))
for state in (0x02, 0x04, 0x08, 0x10, 0x24, 0x3C):
    write("usb_answers_fuzz", "state_%02x" % state, struct.pack("<I", state))


def wide(text):
    return text.encode("utf-16-le") + b"\0\0"


ports = wide("PVDPRT000") + wide("PVDPRT001") + wide("QX-LAN") + b"\0\0"
write("service_answers_fuzz", "list", b"\x01" + ports)
write("service_answers_fuzz", "list_first", b"\x00" + ports)
write("service_answers_fuzz", "list_unterminated", b"\x02" + wide("PVDPRT000") + "PVDPRT0".encode("utf-16-le"))
write("service_answers_fuzz", "long_name", b"\x00" + wide("P" * 40) + b"\0\0")
write("service_answers_fuzz", "property", b"\x00" + wide("127.0.0.1"))
write("service_answers_fuzz", "odd_length", b"\x00" + "QX".encode("utf-16-le") + b"Q")

pipe = b"\\Device\\NamedPipe\\Spooler\\COM3\0"
serial = b"\\Device\\Serial2\0"
write("dos_device_list_fuzz", "spooler_then_device", struct.pack(">H", len(pipe + serial) + 1) + pipe + serial + b"\0" + b"\xff" + serial + b"\0")
write("dos_device_list_fuzz", "plain", struct.pack(">H", len(serial) + 1) + serial + b"\0")
write("dos_device_list_fuzz", "claims_more", struct.pack(">H", 5000) + pipe + serial)
write("dos_device_list_fuzz", "only_pipe", struct.pack(">H", len(pipe) + 1) + pipe + b"\0\xff" + pipe)


def zemak(letter, result, data, target=(0, 0), function=0):
    return (b"ZEMAK" + letter + bytes(target) + struct.pack(">HHH", function, result, len(data)) + data)


extended = bytearray(80)
extended[61] = 0x04
write("search_reply_fuzz", "plain", zemak(b"p", 0, b"NX-L100 QX-K40VII\0"))
write("search_reply_fuzz", "extended", zemak(b"p", 0xE000, bytes(extended)))
write("search_reply_fuzz", "extended_short", zemak(b"p", 0xE000, bytes(40)))
write("search_reply_fuzz", "request_echo", zemak(b"P", 0, b""))
write("search_reply_fuzz", "wrong_length", zemak(b"p", 0, b"NX-L")[:-1] + b"\x00\x09NX-L")
write("search_reply_fuzz", "status", zemak(b"s", 0, b"\x00\x01", target=(3, 0)))

# Status channel: replies to each request, back to back and split.
ready = zemak(b"q", 0, b"\x01", target=(3, 0), function=0x20)
identity = zemak(b"q", 0, b"NX-L100\0", function=0)
basic = zemak(b"q", 0, b"\x00\x00\x00\x00", target=(3, 0), function=0)
ext = zemak(b"q", 0xE000, bytes(extended), target=(3, 0), function=1)
control = zemak(b"c", 0, b"", target=(3, 0), function=0x12)
write("zemak_parser_fuzz", "replies", ready + identity + basic + ext + control)
write("zemak_parser_fuzz", "split", identity[:7] + identity[7:] + identity[:9])
write("zemak_parser_fuzz", "garbage_first", b"ZEMZEMAK" + ready)
write("zemak_parser_fuzz", "long_data", zemak(b"q", 0, bytes(600), function=0)[:14] + bytes(600))

for name, text in {"dotted": "127.0.0.1", "default": "192.168.192.168", "octet": "255", "zero": "0",
                   "leading_zeros": "007", "too_big": "256", "negative": "-1", "blank": " 12",
                   "hex": "0x7f.1", "short": "10.1", "long": "1.2.3.4.5", "letters": "abc",
                   "spaces": "127 .0.0.1"}.items():
    write("address_text_fuzz", name, text.encode())
