#!/usr/bin/python3
"""Checks JSON documents against a JSON Schema (draft 7) with Debian's python3-jsonschema.

Usage: check_json_schema.py SCHEMA DOCUMENT_FILE...
Prints every violation (file, path in the document, message) and exits 1 when there is one;
exits 2 when the schema itself is not a valid draft 7 schema.
"""
import json
import sys

import jsonschema


def main():
    with open(sys.argv[1], encoding="utf-8") as schema_file:
        schema = json.load(schema_file)
    try:
        jsonschema.Draft7Validator.check_schema(schema)
    except jsonschema.SchemaError as error:
        print(f"{sys.argv[1]}: not a draft 7 schema: {error.message}")
        return 2
    validator = jsonschema.Draft7Validator(schema)
    violations = 0
    for path in sys.argv[2:]:
        with open(path, encoding="utf-8") as document_file:
            document = json.load(document_file)
        for error in validator.iter_errors(document):
            where = "/".join(str(part) for part in error.absolute_path)
            print(f"{path}: /{where}: {error.message}")
            violations += 1
    return 1 if violations else 0


if __name__ == "__main__":
    sys.exit(main())
