#!/usr/bin/env python3
"""The release record: what a build of the web setup and quillo-release was made from, so that anyone can
rebuild it and, where the bytes differ, tell which input did it.

The record is an in-toto statement with a SLSA provenance predicate (JSON): the two files with their
SHA-256 as subjects; the source commit and whether the tree had changes, the architecture, the build type,
RELEASE_HOST and EXPECTED_PUBLISHER as the build's parameters; the Debian package versions of the cross
compiler, binutils, the MinGW-w64 runtime, CMake, and Python and zlib (which draw and compress the icon)
as its resolved dependencies. It holds no time and no folder, so a rebuild with the same inputs writes
the same record.

  release-record.py write ...          the build writes the record (release_tool/CMakeLists.txt)
  release-record.py check RECORD [--tree DIR]
      rebuilds this checkout with the record's settings, writes the rebuild's own record, and compares:
      each input that differs from the record is named, then each file, byte for byte by its SHA-256.
      Exit code 0 when both files are the recorded ones, 1 when either differs or nothing could be
      rebuilt, 2 on a wrong command line.
"""
import argparse
import hashlib
import json
import os
import shutil
import subprocess
import sys

STATEMENT_TYPE = "https://in-toto.io/Statement/v1"
PREDICATE_TYPE = "https://slsa.dev/provenance/v1"
BUILD_TYPE = "https://brimlow.example/quillo/websetup-build/v1"
BUILDER_ID = "https://brimlow.example/quillo/tools/release-build"
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# The Debian packages whose versions decide the bytes, for each architecture's toolchain.
TOOLCHAIN_ARCH = {"i686": "i686", "x86_64": "x86-64"}


def packages_for(arch):
    a = TOOLCHAIN_ARCH[arch]
    return [f"g++-mingw-w64-{a}-win32", f"gcc-mingw-w64-{a}-win32", f"gcc-mingw-w64-{a}-win32-runtime",
            "gcc-mingw-w64-base", f"binutils-mingw-w64-{a}", f"mingw-w64-{a}-dev", "mingw-w64-common",
            "cmake", "python3", "zlib1g"]


def installed_version(package):
    """The version dpkg-query reports for the package of this machine's architecture (or of all), or None."""
    try:
        native = subprocess.run(["dpkg", "--print-architecture"], capture_output=True, text=True).stdout.strip()
        out = subprocess.run(["dpkg-query", "-W", "-f", "${Architecture} ${Version} ${db:Status-Abbrev}\n",
                              package], capture_output=True, text=True).stdout
    except FileNotFoundError:
        return None
    found = {}
    for line in out.splitlines():
        parts = line.split(" ", 2)
        if len(parts) == 3 and parts[2].startswith("ii") and parts[1]:
            found[parts[0]] = parts[1]
    for arch in (native, "all"):
        if arch in found:
            return found[arch]
    return next(iter(found.values()), None)


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def write(args):
    commit, state = open(args.source_state).read().split()
    dependencies = [{
        "uri": f"git+https://brimlow.example/quillo/websetup.git@{commit}",
        "digest": {"gitCommit": commit} if commit != "unknown" else {},
        "annotations": {"treeHadChanges": state == "dirty"},
    }]
    for package in packages_for(args.arch):
        version = installed_version(package)
        dependencies.append({
            "name": package,
            "uri": f"pkg:deb/debian/{package}@{version}" if version else f"pkg:deb/debian/{package}",
            "annotations": {"version": version if version else "not installed"},
        })
    record = {
        "_type": STATEMENT_TYPE,
        "subject": [{"name": os.path.basename(path), "digest": {"sha256": sha256_of(path)}}
                    for path in (args.websetup, args.tool)],
        "predicateType": PREDICATE_TYPE,
        "predicate": {
            "buildDefinition": {
                "buildType": BUILD_TYPE,
                "externalParameters": {
                    "sourceCommit": commit,
                    "treeHadChanges": state == "dirty",
                    "architecture": args.arch,
                    "CMAKE_BUILD_TYPE": args.build_type,
                    "RELEASE_HOST": args.release_host,
                    "EXPECTED_PUBLISHER": args.publisher,
                    "ALLOW_UNPUBLISHABLE_HOST": args.allow_unpublishable_host.upper() in ("ON", "TRUE", "1", "YES"),
                },
                "resolvedDependencies": dependencies,
            },
            "runDetails": {"builder": {"id": BUILDER_ID}},
        },
    }
    text = json.dumps(record, indent=2, ensure_ascii=False) + "\n"
    old = open(args.out, encoding="utf-8").read() if os.path.exists(args.out) else None
    if old != text:
        with open(args.out, "w", encoding="utf-8") as f:
            f.write(text)
    print(f"Release record: {args.out}")
    return 0


class RecordError(Exception):
    pass


def read_record(path):
    try:
        record = json.load(open(path, encoding="utf-8"))
    except (OSError, ValueError) as error:
        raise RecordError(f"{path} cannot be read as JSON: {error}")
    if record.get("_type") != STATEMENT_TYPE or record.get("predicateType") != PREDICATE_TYPE:
        raise RecordError(f"{path} is not a release record: it must be an in-toto statement ({STATEMENT_TYPE}) "
                          f"with a SLSA provenance predicate ({PREDICATE_TYPE}).")
    try:
        definition = record["predicate"]["buildDefinition"]
        parameters = definition["externalParameters"]
        subjects = {s["name"]: s["digest"]["sha256"] for s in record["subject"]}
        packages = {d["name"]: d["annotations"]["version"] for d in definition["resolvedDependencies"] if "name" in d}
        if parameters["architecture"] not in TOOLCHAIN_ARCH:
            raise RecordError(f"{path} names the architecture {parameters['architecture']}, which this "
                              "build cannot make.")
    except (KeyError, TypeError) as error:
        raise RecordError(f"{path} lacks {error} of a release record written by the build.")
    return parameters, subjects, packages


def check(args):
    try:
        parameters, subjects, packages = read_record(args.record)
    except RecordError as error:
        print(f"FAILED: {error}")
        print("do not trust the build: the record could not be read")
        return 1
    arch = parameters["architecture"]
    tree = os.path.abspath(args.tree or os.path.join(ROOT, "build-record-check"))
    print(f"Record {args.record}: commit {parameters['sourceCommit']}"
          f"{' (from a tree with changes)' if parameters['treeHadChanges'] else ''}, {arch}, "
          f"RELEASE_HOST {parameters['RELEASE_HOST']}, EXPECTED_PUBLISHER \"{parameters['EXPECTED_PUBLISHER']}\".")
    print(f"Rebuilding {ROOT} with the record's settings in {tree} ...")
    if not args.incremental:
        shutil.rmtree(tree, ignore_errors=True)
    configure = ["cmake", "-S", ROOT, "-B", tree,
                 f"-DCMAKE_TOOLCHAIN_FILE={ROOT}/cmake/toolchain-mingw-{arch}.cmake",
                 f"-DCMAKE_BUILD_TYPE={parameters['CMAKE_BUILD_TYPE']}",
                 f"-DRELEASE_HOST={parameters['RELEASE_HOST']}",
                 f"-DEXPECTED_PUBLISHER={parameters['EXPECTED_PUBLISHER']}",
                 f"-DALLOW_UNPUBLISHABLE_HOST={'ON' if parameters.get('ALLOW_UNPUBLISHABLE_HOST') else 'OFF'}",
                 "-DWEBSETUP_TESTS=OFF", "-DWEBSETUP_SOURCE_STATE="]
    os.makedirs(tree, exist_ok=True)
    log_path = os.path.join(tree, "record-check.log")
    with open(log_path, "w") as log:
        built = (subprocess.run(configure, stdout=log, stderr=subprocess.STDOUT).returncode == 0 and
                 subprocess.run(["cmake", "--build", tree, "-j", str(os.cpu_count() or 1), "--target",
                                 "release_record"], stdout=log, stderr=subprocess.STDOUT).returncode == 0)
    rebuilt_path = os.path.join(tree, "src", "BrimlowAIQuillo-WebSetup.intoto.json")
    if not built or not os.path.exists(rebuilt_path):
        print(open(log_path).read()[-3000:])
        print(f"FAILED: the rebuild did not finish; its log is {log_path}.")
        print("could not check the build: the rebuild failed")
        return 1
    rebuilt, rebuilt_subjects, rebuilt_packages = read_record(rebuilt_path)

    # The inputs, one by one: what the record says beside what this checkout and machine have.
    differing = []

    def compare(name, recorded, here, advice):
        recorded, here = ("yes" if v is True else "no" if v is False else v for v in (recorded, here))
        if recorded == here:
            print(f"OK: {name}: {here}, as recorded")
        else:
            differing.append(name)
            print(f"INPUT DIFFERS: {name}: the record says {recorded}, this rebuild has {here}. {advice}")

    compare("source commit", parameters["sourceCommit"], rebuilt["sourceCommit"],
            f"Check out the recorded commit: git checkout {parameters['sourceCommit']}")
    compare("tree had changes", parameters["treeHadChanges"], rebuilt["treeHadChanges"],
            "A record of a tree with changes cannot be rebuilt from a commit; for this checkout, commit or "
            "stash the changes (git status lists them)." if not parameters["treeHadChanges"] or
            rebuilt["treeHadChanges"] else "The recorded build had changes that are in no commit: ask for "
            "a build of a clean tree.")
    for package in sorted(set(packages) | set(rebuilt_packages)):
        compare(f"Debian package {package}", packages.get(package, "not recorded"),
                rebuilt_packages.get(package, "not recorded"),
                "Install the recorded version (apt-get install "
                f"{package}={packages.get(package, '?')}, or snapshot.debian.org for an older one).")

    same = 0
    for name, digest in subjects.items():
        again = rebuilt_subjects.get(name)
        if again == digest:
            same += 1
            print(f"IDENTICAL: {name}: SHA-256 {digest}, as recorded")
        else:
            print(f"DIFFERENT: {name}: the record says SHA-256 {digest}, the rebuild gives {again}")
    inputs = (f"{len(differing)} input{'s' if len(differing) != 1 else ''} differ"
              f"{'s' if len(differing) == 1 else ''} from the record: {', '.join(differing)}")
    if same == len(subjects):
        if differing:
            print(f"rebuild identical: {same} of {len(subjects)} files match the record byte for byte, "
                  f"though {inputs}")
        else:
            print(f"rebuild identical: {same} of {len(subjects)} files match the record byte for byte")
        return 0
    if differing:
        print(f"rebuild DIFFERS: {len(subjects) - same} of {len(subjects)} files differ; {inputs}")
    else:
        print(f"rebuild DIFFERS: {len(subjects) - same} of {len(subjects)} files differ, though no recorded "
              "input does: an input the record does not hold changed (report it with both records)")
    return 1


def main():
    parser = argparse.ArgumentParser(prog="release-record.py", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    w = commands.add_parser("write", help="write the record (the build does this)")
    for option in ("websetup", "tool", "source-state", "arch", "release-host", "publisher", "build-type",
                   "allow-unpublishable-host", "out"):
        w.add_argument("--" + option, required=True)
    c = commands.add_parser("check", help="rebuild this checkout from a record and compare")
    c.add_argument("record", help="the release record, BrimlowAIQuillo-WebSetup.intoto.json")
    c.add_argument("--tree", help="the build folder for the rebuild (default build-record-check, made anew)")
    c.add_argument("--incremental", action="store_true", help="build in --tree as it is, without emptying it")
    args = parser.parse_args()
    return write(args) if args.command == "write" else check(args)


if __name__ == "__main__":
    sys.exit(main())
