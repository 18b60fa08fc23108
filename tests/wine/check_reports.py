#!/usr/bin/python3
"""Validates the doctor's --json reports that the doctor tests kept against the published schema,
with an independent validator, and checks that each summary counts what its findings say.

    check_reports.py SCHEMA FOLDER NAME...   each NAME.json must be there and valid
"""
import json
import sys

import jsonschema


def main():
    schema_path, folder, names = sys.argv[1], sys.argv[2], sys.argv[3:]
    with open(schema_path, encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft7Validator.check_schema(schema)
    validator = jsonschema.Draft7Validator(schema)
    failures = 0
    for name in names:
        path = "%s/%s.json" % (folder, name)
        try:
            with open(path, encoding="utf-8") as f:
                report = json.load(f)
        except (OSError, ValueError) as problem:
            print("%s: cannot read it: %s" % (name, problem))
            failures += 1
            continue
        errors = sorted(validator.iter_errors(report), key=lambda e: list(e.path))
        for error in errors:
            print("%s: %s at %s" % (name, error.message, "/".join(map(str, error.path))))
        findings = [f for check in report.get("checks", []) for f in check.get("findings", [])]
        problems = sum(1 for f in findings if f.get("verdict") == "problem")
        warnings = sum(1 for f in findings if f.get("verdict") == "warning")
        summary = report.get("summary", {})
        if (summary.get("problems"), summary.get("warnings"), summary.get("exitCode")) != (
                problems, warnings, 1 if problems else 0):
            print("%s: the summary %s does not count its findings (%d problems, %d warnings)"
                  % (name, summary, problems, warnings))
            errors.append("summary")
        failures += 1 if errors else 0
        print("%s: %s, %d checks, %d findings" % (name, "invalid" if errors else "valid",
                                                  len(report.get("checks", [])), len(findings)))
    print("%d passed, %d failed" % (len(names) - failures, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
