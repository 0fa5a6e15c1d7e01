#!/usr/bin/python3
# A PLC's view of brivane-cli's Modbus TCP server, through pymodbus:
#   modbus_client.py read PORT  -> "seq power current measuring age_tenths model"
#   modbus_client.py coil PORT N -> "ok" or "refused <exception code>"
import struct
import sys

from pymodbus.client import ModbusTcpClient

mode, port = sys.argv[1], int(sys.argv[2])
client = ModbusTcpClient("127.0.0.1", port=port, timeout=3)
if not client.connect():
    print("no connection")
    sys.exit(1)
if mode == "read":
    regs = client.read_input_registers(0, 17, slave=1).registers
    bits = client.read_discrete_inputs(0, 8, slave=1).bits
    power = struct.unpack(">f", struct.pack(">HH", regs[0], regs[1]))[0]
    print(regs[12] << 16 | regs[13], repr(power), int(bits[1]), int(bits[0]), regs[14], regs[16])
else:
    reply = client.write_coil(int(sys.argv[3]), True, slave=1)
    print("refused %d" % reply.exception_code if reply.isError() else "ok")
client.close()
