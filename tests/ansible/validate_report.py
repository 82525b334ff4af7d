"""Prints the errors of validate-modules' JSON report that the collection's
tests/sanity/ignore-2.14.txt does not name, and fails when there are any.
    validate_report.py REPORT IGNORE_FILE
"""
import json
import sys

with open(sys.argv[1], encoding='utf-8') as report:
    results = json.load(report)
ignored = set()
with open(sys.argv[2], encoding='utf-8') as ignore:
    for line in ignore:
        path, check = line.split('#')[0].split()[:2]
        ignored.add((path, check.split(':', 1)[1]))
errors = [(path, error) for path, result in results.items() for error in result.get('errors', [])
          if (path, error['code']) not in ignored]
for path, error in errors:
    print('%s:%s:%s: %s: %s' % (path, error['line'], error['column'], error['code'], error['msg']))
sys.exit(1 if errors else 0)
