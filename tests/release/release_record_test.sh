#!/usr/bin/env bash
# The release record the build writes beside the web setup: an in-toto statement with a SLSA provenance
# predicate that names both files with their SHA-256, the commit and whether the tree had changes, and the
# Debian package versions dpkg-query reports on this machine. The check rebuilds the sources from it and
# finds the same bytes; against a record whose compiler version was changed by hand, it names exactly
# that input.
# Usage: release_record_test.sh SOURCE_DIR PRODUCT_BUILD WORK_DIR
source "$(dirname "$0")/../harness/fail-loudly.sh"
source_dir=$1 product=$2 work=$3
record=$product/src/BrimlowAIQuillo-WebSetup.intoto.json
status=0
[ -f "$record" ] || { echo "FAILED: no release record at $record"; exit 1; }

# What the record says, against what this machine and checkout say.
commit=$(git -C "$source_dir" rev-parse HEAD 2>/dev/null || echo unknown)
dirty=false
[ -z "$(git -C "$source_dir" status --porcelain 2>/dev/null)" ] || dirty=true
python3 - "$record" "$product" "$commit" "$dirty" <<'PY' || status=1
import hashlib, json, subprocess, sys
record_path, product, commit, dirty = sys.argv[1:5]
record = json.load(open(record_path))
failures = []
def expect(what, found, wanted):
    if found != wanted:
        failures.append(f"{what}: found {found!r}, expected {wanted!r}")
expect("_type", record["_type"], "https://in-toto.io/Statement/v1")
expect("predicateType", record["predicateType"], "https://slsa.dev/provenance/v1")
files = {"BrimlowAIQuillo-WebSetup.exe": f"{product}/src/BrimlowAIQuillo-WebSetup.exe",
         "quillo-release.exe": f"{product}/release_tool/quillo-release.exe"}
subjects = {s["name"]: s["digest"]["sha256"] for s in record["subject"]}
expect("subjects", sorted(subjects), sorted(files))
for name, path in files.items():
    expect(f"SHA-256 of {name}", subjects.get(name), hashlib.sha256(open(path, "rb").read()).hexdigest())
definition = record["predicate"]["buildDefinition"]
parameters = definition["externalParameters"]
expect("sourceCommit", parameters["sourceCommit"], commit)
expect("treeHadChanges", parameters["treeHadChanges"], dirty == "true")
cache = dict(line.split("=", 1) for line in open(f"{product}/CMakeCache.txt").read().splitlines()
             if "=" in line and not line.startswith(("#", "//")))
cache = {key.split(":")[0]: value for key, value in cache.items()}
for option in ("RELEASE_HOST", "EXPECTED_PUBLISHER", "CMAKE_BUILD_TYPE"):
    expect(option, parameters[option], cache[option])
source = [d for d in definition["resolvedDependencies"] if "gitCommit" in d.get("digest", {})]
expect("the source among the resolved dependencies", [d["digest"]["gitCommit"] for d in source], [commit])
packages = {d["name"]: d["annotations"]["version"] for d in definition["resolvedDependencies"] if "name" in d}
arch = "i686" if parameters["architecture"] == "i686" else "x86-64"
for package in (f"g++-mingw-w64-{arch}-win32", f"gcc-mingw-w64-{arch}-win32", f"binutils-mingw-w64-{arch}",
                f"mingw-w64-{arch}-dev", "mingw-w64-common", "cmake"):
    reported = subprocess.run(["dpkg-query", "-W", "-f", "${Version}\n", package], capture_output=True,
                              text=True).stdout.split()
    expect(f"the version of {package}", packages.get(package), reported[0] if reported else None)
for failure in failures:
    print("FAILED: record", failure)
print(f"The record names {len(subjects)} files, commit {parameters['sourceCommit']} and "
      f"{len(packages)} Debian packages.")
sys.exit(1 if failures else 0)
PY

# The rebuild from the record gives the same bytes, and names no differing input.
tree=$work/record-check
out=$work/record-check.txt
"$source_dir/tools/release-record.py" check "$record" --tree "$tree" >"$out" 2>&1 || { echo "FAILED: the check exited with $?"; status=1; }
cat "$out"
grep -qxF "rebuild identical: 2 of 2 files match the record byte for byte" "$out" ||
  { echo "FAILED: the rebuild is not reported identical"; status=1; }
! grep -q "INPUT DIFFERS" "$out" || { echo "FAILED: an input was reported as different"; status=1; }

# A record whose compiler version was changed by hand: that input, and no other, is named.
edited=$work/edited.intoto.json
python3 - "$record" "$edited" <<'PY'
import json, sys
record = json.load(open(sys.argv[1]))
for dependency in record["predicate"]["buildDefinition"]["resolvedDependencies"]:
    if dependency.get("name", "").startswith("g++-mingw-w64-"):
        dependency["annotations"]["version"] = "12.2.0-99edited"
        compiler = dependency["name"]
json.dump(record, open(sys.argv[2], "w"), indent=2)
open(sys.argv[2] + ".compiler", "w").write(compiler)
PY
compiler=$(cat "$edited.compiler")
"$source_dir/tools/release-record.py" check "$edited" --tree "$tree" --incremental >"$out" 2>&1 || true
cat "$out"
differing=$(grep "^INPUT DIFFERS" "$out" || true)
[ "$(echo "$differing" | grep -c .)" = 1 ] && echo "$differing" | grep -qF "INPUT DIFFERS: Debian package $compiler: the record says 12.2.0-99edited, this rebuild has $(dpkg-query -W -f '${Version}' "$compiler")." ||
  { echo "FAILED: expected exactly the compiler $compiler to be named"; status=1; }
tail -1 "$out" | grep -qF "though 1 input differs from the record: Debian package $compiler" ||
  { echo "FAILED: the verdict does not name the compiler"; status=1; }
rm -rf "$tree"
exit $status
