#!/usr/bin/python3
# Hostile and careless Modbus clients for SECONDS: 20 that connect and drop
# at random, some leaving half a request behind, one that sends 1 MB of
# garbage, and a PLC that polls the registers all along and counts its
# answers. Prints that count. With a SCPI port too, half the churners and a
# second megabyte go there, and a lab script polls it as well: two counts.
#   modbus_hammer.py PORT SECONDS [SCPI_PORT]
import random
import socket
import struct
import sys
import threading
import time

port, seconds = int(sys.argv[1]), float(sys.argv[2])
scpi = int(sys.argv[3]) if len(sys.argv) > 3 else None
end = time.time() + seconds
READ = struct.pack(">HHHBBHH", 1, 0, 6, 1, 4, 0, 17)  # read 17 input registers
QUERY = b"FETC:ALL?;SYST:ERR?\n"


def churn(seed, target=None):
    rnd = random.Random(seed)
    request = QUERY if target else READ
    target = target or port
    while time.time() < end:
        try:
            s = socket.create_connection(("127.0.0.1", target), timeout=1)
            kind = rnd.randrange(3)
            if kind == 0:
                s.sendall(request[: rnd.randrange(1, len(request))])  # half a request
            elif kind == 1:
                s.sendall(request * rnd.randrange(1, 50))  # a burst, never read
            time.sleep(rnd.random() * 0.3)
            s.close()
        except OSError:
            time.sleep(0.05)


def garbage(target):
    try:
        s = socket.create_connection(("127.0.0.1", target), timeout=2)
        rnd = random.Random(7)
        block = bytes(rnd.randrange(256) for _ in range(4096))
        for _ in range(256):
            s.sendall(block)
        s.close()
    except OSError:
        pass


answers = {"modbus": 0, "scpi": 0}


def plc():
    while time.time() < end:
        try:
            s = socket.create_connection(("127.0.0.1", port), timeout=2)
            while time.time() < end:
                s.sendall(READ)
                if len(s.recv(256)) >= 9:
                    answers["modbus"] += 1
                time.sleep(0.05)
        except OSError:
            time.sleep(0.1)


def script():
    while time.time() < end:
        try:
            s = socket.create_connection(("127.0.0.1", scpi), timeout=2)
            f = s.makefile("rb")
            while time.time() < end:
                s.sendall(b"MEAS:POW?\n")
                if f.readline().endswith(b"\n"):
                    answers["scpi"] += 1
                time.sleep(0.05)
        except OSError:
            time.sleep(0.1)


# The steady clients first: they keep their places among the servers' clients.
threads = [threading.Thread(target=plc)] + ([threading.Thread(target=script)] if scpi else [])
for t in threads:
    t.start()
time.sleep(1.0)
steady = len(threads)
threads += [threading.Thread(target=churn, args=(i, scpi if scpi and i % 2 else None)) for i in range(20)]
threads += [threading.Thread(target=garbage, args=(port,))]
if scpi:
    threads += [threading.Thread(target=garbage, args=(scpi,))]
for t in threads[steady:]:
    t.start()
for t in threads:
    t.join()
print(answers["modbus"], answers["scpi"]) if scpi else print(answers["modbus"])
