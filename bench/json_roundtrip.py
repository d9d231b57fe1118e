# Twin of json-roundtrip.kel: json.loads and compact json.dumps (not ASCII-only).
import json

with open('json-16.json', encoding='utf-8') as f:
    value = json.loads(f.read())
print(len(json.dumps(value, ensure_ascii=False, separators=(',', ':'))))
