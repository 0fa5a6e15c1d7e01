#!/usr/bin/env python3
"""Writes seed corpora in fuzz/corpus/<target>/: valid traffic and files,
laid out the way each target's FuzzedDataProvider reads its input (numbers
from the end, bytes and strings from the front)."""
import os
import sys
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def check(data):
    # CRC-32 with start 0xFFFFFFFF and no final inversion: zlib's complement.
    return (zlib.crc32(bytes(data)) ^ 0xFFFFFFFF) & 0xFFFFFFFF


def be32(v):
    return bytes([(v >> 24) & 255, (v >> 16) & 255, (v >> 8) & 255, v & 255])


def serial_frame(dst, src, payload):
    head = bytes([dst, src, 0, len(payload) >> 8, len(payload) & 255])
    return head + payload + be32(check(head + payload))


def usb_header(body_len, flag):
    head = bytes([0x80, 0, body_len >> 8, body_len & 255, flag])
    return head + be32(check(head))


def usb_text(text, trailer=False):
    if not trailer:
        return usb_header(len(text), 0) + text
    m = usb_header(len(text) + 4, 1) + text
    return m + be32(check(m))


def usb_relay(dst, src, payload):
    inner = serial_frame(dst, src, payload)
    return usb_header(len(inner) + 8, 0) + b"bus 123 " + inner


class Input:
    """Mirror of FuzzedDataProvider: `front` is read forwards, `back` from the end."""

    def __init__(self):
        self.front = bytearray()
        self.back = bytearray()  # in the order the provider takes them

    def integral(self, lo, hi, value, bits=64):
        span = hi - lo
        n = 0
        while n * 8 < bits and (span >> (n * 8)) > 0:
            n += 1
        r = value - lo
        assert 0 <= r <= span
        for i in range(n):
            self.back.append((r >> (8 * (n - 1 - i))) & 255)

    def u8(self, v):
        self.integral(0, 255, v, 8)

    def boolean(self, v):
        self.u8(1 if v else 0)

    def raw(self, data):
        self.front += data

    def string(self, text, limit):
        out = bytearray()
        for c in text:
            out += b"\\\\" if c == 0x5C else bytes([c])
        if len(text) < limit:
            out += b"\\ "
        self.front += out

    def bytes(self):
        return bytes(self.front) + bytes(reversed(self.back))


def write(target, name, data):
    d = os.path.join(ROOT, target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


AL = b"al PL=  1500.123 Fl=     4.512 Te=    21.004 Td=     4.771 shutter=O"
PEL = b"Pel: 1000 IRMS:  4.348 VRMS: 230 heater: 1 000"
INFO = b"Typ 3.4 Range 6000W FlowMin  4.000 shutter=C"
READY = b"Ready EC-Brivane V 2.1"


def serial_seeds():
    frames = [serial_frame(64, 113, p) for p in (AL, PEL, INFO, READY, b"asa", b"ai:\xfe\xff")]
    # Whole frames, one op each.
    s = Input()
    s.integral(1, 9000, 9000)
    for f in frames:
        s.u8(0)
        s.integral(0, 2048, len(f))
        s.raw(f)
    write("serial_receive", "frames", s.bytes())
    # The same traffic with noise in between, in small reads.
    s = Input()
    s.integral(1, 9000, 7)
    stream = b"\xaa\x00\x13" + frames[0] + b"\x40\x71\x00\x05\xdc" + frames[1] + frames[2][:20]
    s.u8(0)
    s.integral(0, 2048, len(stream))
    s.raw(stream)
    s.u8(3)
    s.u8(0)
    s.integral(0, 2048, len(frames[2]) - 20)
    s.raw(frames[2][20:])
    write("serial_receive", "noisy", s.bytes())
    # Built frames, one with a byte changed.
    s = Input()
    s.integral(1, 9000, 100)
    for flags, payload in ((0x01, AL), (0x11, PEL)):
        s.u8(flags)
        s.u8(64)
        s.u8(113)
        s.integral(0, 1600, len(payload))
        s.raw(payload)
        if flags & 0x10:
            s.integral(0, len(payload) + 8, 12)
            s.u8(0x20)
    write("serial_receive", "built", s.bytes())


def usb_seeds():
    for trailer in (False, True):
        s = Input()
        s.boolean(trailer)
        s.integral(1, 5000, 5000)
        for text in (READY, INFO, AL, PEL):
            m = usb_text(text, trailer)
            s.u8(0)
            s.integral(0, 2048, len(m))
            s.raw(m)
        write("usb_receive", "texts-trailer" if trailer else "texts", s.bytes())
    s = Input()
    s.boolean(False)
    s.integral(1, 5000, 16)
    m = usb_relay(64, 113, AL) + usb_text(b"Ready BusConverter V1.00")
    s.u8(0)
    s.integral(0, 2048, len(m))
    s.raw(m)
    write("usb_receive", "relay-pieces", s.bytes())


INI = (b"[Version]\r\nno=15\r\n[Comm]\r\nPort=com1\r\nSet Parity=1\r\nDevice Address=113\r\n"
       b"Data_Transfer_Mode=2\r\n; comment\r\n[Setup]\r\nInterval=1000\r\nAverage Period=30\r\n"
       b"[BusProtocol]\r\nCommand_No=0000000000\r\nFile_No=1\r\nProtocol=0\r\n")


def profile_seeds():
    s = Input()
    s.string(INI, len(INI) + 10)
    # Read a key, write a plain one.
    s.u8(0)
    s.string(b"Comm", 40)
    s.string(b"Port", 40)
    s.string(b"com2", 20)
    s.integral(0, 300, 100)
    write("profile", "settings", s.bytes())
    write("profile", "lf", (lambda t: (lambda s: (s.string(t, len(t) + 1), s.bytes())[1])(Input()))(
        INI.replace(b"\r\n", b"\n")))


def settings_seeds():
    write("settings_open", "current", INI)
    write("settings_open", "old-version", INI.replace(b"no=15", b"no=14"))
    write("settings_open", "no-version", b"[Comm]\nPort=/dev/ttyUSB0\n[Setup]\nInterval=-5\n")


def answer_seeds():
    s = Input()
    s.integral(0, 2000, len(AL))
    s.raw(AL)
    s.boolean(False)
    for key, offset, width in ((b"PL=", 3, 10), (b"shutter=", 8, 1), (b"Fl=", 3, 10)):
        s.integral(0, 15, 1)
        s.string(key, 24)
        s.boolean(True)
        s.integral(0, 12, offset, 32)
        s.boolean(True)
        s.integral(0, 12, width, 32)
        s.integral(-1, 16, 4, 32)
    write("answer_reader", "al", s.bytes())


def meter_seeds():
    # Link mode 0 and 2: identification, then continuous measuring with answers.
    for mode in (0, 2):
        s = Input()
        s.integral(0, 2**32 - 1, 10000, 32)
        s.boolean(mode == 2)
        s.boolean(False)
        for v in (1, 2, 3, 4):
            s.integral(-1, 17, v, 32)
        s.integral(-2, 5, 2, 32)
        s.integral(-10, 3000, 1000, 32)
        s.integral(-10, 3000, 1000, 32)
        s.integral(-5, 100, 90, 32)

        def answer(text):
            s.u8(4)  # from the meter to us
            parts = [text]
            s.integral(0, 24, len(parts))
            for p in parts:
                s.boolean(False)
                s.string(p, 16 if len(p) > 16 else 16)

        def tick(ms):
            s.u8(6)
            s.integral(0, 40000, ms, 32)

        s.u8(0)  # identification
        tick(100)
        tick(100)
        for text in (READY, INFO):
            s.u8(4)
            s.integral(0, 24, 1)
            s.boolean(True)
            idx = 11 if text == READY else 12
            s.integral(0, 46, idx)
            tick(100)
        s.u8(3)  # measuring, shutter open
        s.integral(0, 4, 0, 32)
        s.boolean(False)
        s.integral(0, 2, 0, 32)
        s.boolean(True)
        for _ in range(3):
            tick(100)
            # "al " then the keys with numbers.
            s.u8(4)
            words = [(0, None), (1, None), (None, b"1500.0 "), (2, None), (None, b"4.5 "), (5, None), (6, None)]
            s.integral(0, 24, len(words))
            for idx, text in words:
                if idx is not None:
                    s.boolean(True)
                    s.integral(0, 46, idx)
                else:
                    s.boolean(False)
                    s.string(text, 16)
            tick(1000)
        write("meter_programs", "measure-mode%d" % mode, s.bytes())


def main():
    serial_seeds()
    usb_seeds()
    profile_seeds()
    settings_seeds()
    answer_seeds()
    meter_seeds()
    return 0


if __name__ == "__main__":
    sys.exit(main())
