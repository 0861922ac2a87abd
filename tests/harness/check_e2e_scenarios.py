#!/usr/bin/env python3
"""Holds the end-to-end scenario list (e2e-scenarios.sh) to what it names: its exit-code names to
SetupResult (src/common/setup_result.h), name for name and value for value; the README's exit-code
table to the same codes, in order; each scenario to an exit code, and to a case of its own in
e2e-run.sh, and each case there to the list.
Usage: check_e2e_scenarios.py SOURCE_DIR"""
import pathlib
import re
import subprocess
import sys

root = pathlib.Path(sys.argv[1])
harness = root / "tests" / "harness"
listed = subprocess.run(
    ["bash", "-c", 'source "$1"; echo "${exit_code_names[*]}"; echo "$e2e_scenarios"', "-",
     str(harness / "e2e-scenarios.sh")], check=True, capture_output=True, text=True).stdout.splitlines()
names = listed[0].split()
scenarios = [line.split() for line in listed[1:] if line.strip()]
faults = []

enum = re.search(r"enum class SetupResult[^{]*\{(.*?)\};", (root / "src/common/setup_result.h").read_text(), re.S)
declared = [(name, int(value)) for name, value in re.findall(r"(\w+)\s*=\s*(\d+)", enum.group(1))]
if declared != list((name, code) for code, name in enumerate(names)):
    faults.append(f"exit-code names {names} differ from SetupResult {declared}")

readme = (root / "README.md").read_text()
table = readme.split("## Exit codes", 1)[1].split("\n## ", 1)[0]
codes = [int(code) for code in re.findall(r"^\| (\d+) \|", table, re.M)]
if codes != list(range(len(names))):
    faults.append(f"the README's exit-code table lists {codes}, not 0 to {len(names) - 1}")

seen = set()
for fields in scenarios:
    if len(fields) != 2 or fields[1] not in names:
        faults.append(f"scenario line {' '.join(fields)!r} does not name one exit code")
    if fields[0] in seen:
        faults.append(f"scenario {fields[0]} is listed twice")
    seen.add(fields[0])
runner = (harness / "e2e-run.sh").read_text()
cases = runner.split("case $scenario in", 1)[1].split("\nesac", 1)[0]
arms = set(re.findall(r"^  ([a-z0-9-]+)\)", cases, re.M))
for missing in sorted(seen - arms):
    faults.append(f"e2e-run.sh has no case for the scenario {missing}")
for unlisted in sorted(arms - seen):
    faults.append(f"e2e-run.sh has a case for {unlisted}, which the list does not name")

for fault in faults:
    print(fault)
print(f"{len(scenarios)} scenarios, {len(names)} exit codes: " + ("MISMATCH" if faults else "consistent"))
sys.exit(1 if faults else 0)
