#!/usr/bin/env python3
"""Checks every GitHub Actions workflow of the repository against GitHub's published schema.

    check_workflows.py REPOSITORY_ROOT [WORKFLOW...]

Without WORKFLOW arguments: every .github/workflows/*.yml and *.yaml under the root (at least
one must exist). The schema is read from IDROVAN_SCHEMAS_DIR/github/workflow.json, by default
../shared/schemas beside the repository; where it is missing the check prints SKIPPED with the
reason and exits 77. A workflow also fails when PyYAML reads a top-level key as something other
than a string: a bare `on:` is YAML 1.1's true, and the schema alone would not say what went
wrong."""
import glob
import json
import os
import sys

import jsonschema
import yaml

SKIPPED = 77


def faults_of(path, validator):
    with open(path, encoding="utf-8") as f:
        workflow = yaml.safe_load(f)
    if not isinstance(workflow, dict):
        return ["not a mapping"]
    faults = [f"top-level key {key!r} is not a string (quote it: \"on\":)"
              for key in workflow if not isinstance(key, str)]
    faults += [f"{'/'.join(map(str, error.absolute_path)) or '(top)'}: {error.message}"
               for error in validator.iter_errors(workflow)]
    return faults


def main():
    root = os.path.abspath(sys.argv[1])
    paths = sys.argv[2:] or sorted(
        glob.glob(os.path.join(root, ".github", "workflows", "*.yml")) +
        glob.glob(os.path.join(root, ".github", "workflows", "*.yaml")))
    if not paths:
        print(f"no workflow files under {root}/.github/workflows")
        return 1
    schemas = os.environ.get("IDROVAN_SCHEMAS_DIR") or os.path.join(root, "..", "shared",
                                                                     "schemas")
    schema_path = os.path.join(schemas, "github", "workflow.json")
    if not os.path.isfile(schema_path):
        print(f"SKIPPED: the workflows against GitHub's schema: {schema_path} is missing "
              f"(IDROVAN_SCHEMAS_DIR names the folder; default ../shared/schemas beside the "
              f"repository)")
        return SKIPPED
    with open(schema_path, encoding="utf-8") as f:
        schema = json.load(f)
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    validator = validator_class(schema)
    status = 0
    for path in paths:
        faults = faults_of(path, validator)
        for fault in faults:
            print(f"{path}: {fault}")
        print(f"{path}: {'valid' if not faults else 'INVALID'}")
        status |= bool(faults)
    return status


if __name__ == "__main__":
    sys.exit(main())
