"""Reads a CSV export back with Python's csv module; prints one power per row.

Fails (exit 1) when the header, a time or a number does not parse."""
import csv
import datetime
import sys

with open(sys.argv[1], newline="") as f:
    rows = list(csv.DictReader(f))
expected = ["time", "power_W", "flow_l_per_min", "te_C", "td_C", "valid", "ec_valid",
            "ec_power_W", "ec_current_A", "ec_voltage_V", "heater_state", "heater_value"]
with open(sys.argv[1], newline="") as f:
    header = next(csv.reader(f))
if header != expected:
    sys.exit("header %r" % header)
for row in rows:
    stamp = datetime.datetime.fromisoformat(row["time"])
    if stamp.tzinfo is None:
        sys.exit("time without zone: " + row["time"])
    for key in expected[1:5]:
        float(row[key])
    print(repr(float(row["power_W"])))
