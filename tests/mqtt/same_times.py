"""The times of one run's points as the CLI's JSON lines, its CSV rows and its
MQTT readings give them: each must parse as ISO 8601 with a zone, and the three
must be the same text for the same point. Prints the number of points."""
import csv
import datetime
import json
import sys

json_times = [json.loads(line)["time"] for line in open(sys.argv[1]) if line.strip()]
with open(sys.argv[2], newline="") as f:
    csv_times = [row["time"] for row in csv.DictReader(f)]
readings = sorted((json.loads(line) for line in open(sys.argv[3]) if line.strip()), key=lambda r: r["seq"])
mqtt_times = [r["time"] for r in readings]
for t in json_times + csv_times + mqtt_times:
    if datetime.datetime.fromisoformat(t).tzinfo is None:
        sys.exit("time without zone: " + t)
if not json_times or json_times != csv_times or json_times != mqtt_times:
    sys.exit("json %r\ncsv  %r\nmqtt %r" % (json_times, csv_times, mqtt_times))
print(len(json_times))
