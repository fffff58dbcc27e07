# Reads Prometheus text with the reference client's parser and prints its samples as JSON:
# {"samples": {"name{label=value,...}": value}, "types": {"family": "counter"}}.
# A text the parser refuses ends the program with an error.
import json
import sys

from prometheus_client.parser import text_string_to_metric_families

samples, types = {}, {}
with open(sys.argv[1], encoding="utf-8") as f:
    text = f.read()
for family in text_string_to_metric_families(text):
    types[family.name] = family.type
    for s in family.samples:
        labels = ",".join(f"{k}={v}" for k, v in sorted(s.labels.items()))
        samples[f"{s.name}{{{labels}}}"] = s.value
print(json.dumps({"samples": samples, "types": types}))
