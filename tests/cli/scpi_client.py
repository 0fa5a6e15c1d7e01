#!/usr/bin/python3
# A test script's view of brivane-cli's SCPI server, through PyVISA:
#   scpi_client.py PORT COMMAND...  -> one line per command: the answer of a
#   query, "sent" for anything else; "error <text>" when VISA fails.
import sys

import pyvisa

port, commands = sys.argv[1], sys.argv[2:]
try:
    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource("TCPIP::127.0.0.1::%s::SOCKET" % port,
                            read_termination="\n", write_termination="\n", timeout=3000)
    for c in commands:
        if c.endswith("?"):
            print(inst.query(c).strip())
        else:
            inst.write(c)
            print("sent")
    inst.close()
except Exception as e:  # the test shows what VISA said
    print("error %s" % e)
