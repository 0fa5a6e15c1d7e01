#!/usr/bin/python3
# Hostile and careless Modbus clients for SECONDS: 20 that connect and drop
# at random, some leaving half a request behind, one that sends 1 MB of
# garbage, and a PLC that polls the registers all along and counts its
# answers. Prints that count.
#   modbus_hammer.py PORT SECONDS
import random
import socket
import struct
import sys
import threading
import time

port, seconds = int(sys.argv[1]), float(sys.argv[2])
end = time.time() + seconds
READ = struct.pack(">HHHBBHH", 1, 0, 6, 1, 4, 0, 17)  # read 17 input registers


def churn(seed):
    rnd = random.Random(seed)
    while time.time() < end:
        try:
            s = socket.create_connection(("127.0.0.1", port), timeout=1)
            kind = rnd.randrange(3)
            if kind == 0:
                s.sendall(READ[: rnd.randrange(1, len(READ))])  # half a request
            elif kind == 1:
                s.sendall(READ * rnd.randrange(1, 50))  # a burst, never read
            time.sleep(rnd.random() * 0.3)
            s.close()
        except OSError:
            time.sleep(0.05)


def garbage():
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=2)
        rnd = random.Random(7)
        block = bytes(rnd.randrange(256) for _ in range(4096))
        for _ in range(256):
            s.sendall(block)
        s.close()
    except OSError:
        pass


answers = 0


def plc():
    global answers
    while time.time() < end:
        try:
            s = socket.create_connection(("127.0.0.1", port), timeout=2)
            while time.time() < end:
                s.sendall(READ)
                if len(s.recv(256)) >= 9:
                    answers += 1
                time.sleep(0.05)
        except OSError:
            time.sleep(0.1)


# The PLC first: it keeps its place among the server's clients.
threads = [threading.Thread(target=plc)]
threads[0].start()
time.sleep(1.0)
threads += [threading.Thread(target=churn, args=(i,)) for i in range(20)]
threads += [threading.Thread(target=garbage)]
for t in threads[1:]:
    t.start()
for t in threads:
    t.join()
print(answers)
