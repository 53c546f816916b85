#!/usr/bin/env python3
"""Checks JSON objects that idrovan-cli printed against the published schemas.

    check_json_schemas.py SCHEMA_DIR MIN_COUNT PATH...

Each PATH is a file that holds one object per line, or a directory whose json-out-*.jsonl files
do (what tests/unit/json_capture.h writes). An object with report_id
is a comparison (comparison.schema.json), one with renewed the result of --new-marker
(renewal.schema.json), one with licence the result of --verify-licence (licence.schema.json),
any other a report (report.schema.json). Fails on any
object that does not match, and when fewer than MIN_COUNT objects were checked at all, so that
a test run that printed nothing cannot pass."""
import glob
import json
import os
import sys

import jsonschema


def main():
    schema_dir, min_count = sys.argv[1], int(sys.argv[2])
    files = []
    for path in sys.argv[3:]:
        if os.path.isdir(path):
            files += sorted(glob.glob(os.path.join(path, "json-out-*.jsonl")))
        else:
            files.append(path)
    validators = {}
    for name in ("report", "comparison", "renewal", "licence"):
        with open(os.path.join(schema_dir, name + ".schema.json"), encoding="utf-8") as f:
            schema = json.load(f)
        jsonschema.Draft202012Validator.check_schema(schema)
        validators[name] = jsonschema.Draft202012Validator(schema)
    count = failures = 0
    for path in files:
        with open(path, "rb") as f:
            for number, line in enumerate(f.read().decode("ascii").splitlines(), 1):
                if not line.strip():
                    continue
                obj = json.loads(line)
                kind = ("comparison" if "report_id" in obj else
                        "renewal" if "renewed" in obj else
                        "licence" if "licence" in obj else "report")
                errors = list(validators[kind].iter_errors(obj))
                count += 1
                for error in errors:
                    failures += 1
                    print(f"{path}:{number}: not a valid {kind}: {error.message}: {line}")
    print(f"{count} JSON objects checked against {schema_dir}, {failures} faults")
    if count < min_count:
        print(f"expected at least {min_count} objects")
        return 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
