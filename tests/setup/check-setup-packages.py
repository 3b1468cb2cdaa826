#!/usr/bin/env python3
"""Checks that scripts/setup installs every Debian package the builds and the tests use.

It collects the files a configured build found (the programs and package directories in each
CMakeCache.txt of the build tree) and the programs and files the tests and scripts call (listed in
tools-the-tests-call.txt), finds the Debian package that owns each (`dpkg -S`), and fails naming
every package that neither scripts/setup lists nor a listed package pulls in through its
dependencies. Packages every Debian system has (essential or required ones) count as there.

  check-setup-packages.py --build DIR --setup scripts/setup --tools FILE
                          [--drop PACKAGE]... [--expect-missing PACKAGE]...

--drop takes a package off the list scripts/setup prints, as if it were not there; with
--expect-missing the check passes only if it fails naming those packages among the missing (so a
test can show that a package left out of the list is caught).
"""
import argparse
import glob
import os
import re
import shutil
import subprocess
import sys


def cache_entries(build):
    """(where, path) of every absolute file or package directory the build trees' caches name."""
    caches = [os.path.join(build, "CMakeCache.txt")] + sorted(glob.glob(os.path.join(build, "*", "CMakeCache.txt")))
    own = (os.path.realpath(build), os.path.realpath(os.path.join(os.path.dirname(__file__), "..", "..")))
    found = []
    for cache in caches:
        if not os.path.isfile(cache):
            continue
        for line in open(cache, encoding="utf-8", errors="replace"):
            match = re.match(r"^([A-Za-z0-9_.+-]+):(FILEPATH|PATH)=(/.*)$", line.rstrip("\n"))
            if not match:
                continue
            name, _, value = match.groups()
            if name == "CMAKE_INSTALL_PREFIX" or not os.path.exists(value):
                continue
            if os.path.realpath(value).startswith(own):
                continue
            where = f"{name} in {cache}"
            if os.path.isdir(value):
                # A package's CMake directory: the package that owns its configuration file.
                configs = glob.glob(os.path.join(value, "*onfig.cmake")) + glob.glob(os.path.join(value, "*-config.cmake"))
                if not configs:
                    continue
                value = sorted(configs)[0]
            found.append((where, value))
    return found


def listed_tools(path):
    """(where, path or None, name) of every program or file the tools list names."""
    found = []
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        text, _, reason = line.partition("#")
        text = text.strip()
        if not text:
            continue
        where = f"{os.path.basename(path)}:{number} ({reason.strip() or 'no reason given'})"
        resolved = text if text.startswith("/") else shutil.which(text)
        if resolved is not None and not os.path.exists(resolved):
            resolved = None
        found.append((where, resolved, text))
    return found


def owners(paths):
    """path -> set of packages that own it (tried as given and as its real path)."""
    candidates = {}
    for path in paths:
        tries = {path, os.path.realpath(path)}
        # Merged /usr: a file may be registered under /bin or /lib rather than /usr/bin or /usr/lib.
        for each in list(tries):
            if each.startswith("/usr/"):
                tries.add(each[len("/usr"):])
        candidates[path] = tries
    queries = sorted({each for tries in candidates.values() for each in tries})
    result = subprocess.run(["dpkg-query", "-S"] + queries, capture_output=True, text=True)
    by_path = {}
    for line in result.stdout.splitlines():
        if line.startswith("diversion by"):
            continue
        packages, sep, owned = line.partition(": ")
        if not sep:
            continue
        for package in packages.split(","):
            by_path.setdefault(owned.strip(), set()).add(package.strip().split(":")[0])
    return {path: set().union(*(by_path.get(each, set()) for each in tries)) for path, tries in candidates.items()}


def installed_packages():
    """Installed packages: name -> (essential or required, provides, dependency groups)."""
    fields = "${db:Status-Abbrev}\t${Package}\t${Essential}\t${Priority}\t${Provides}\t${Pre-Depends}\t${Depends}\n"
    result = subprocess.run(["dpkg-query", "-W", "-f", fields], capture_output=True, text=True, check=True)
    packages = {}
    for line in result.stdout.splitlines():
        status, name, essential, priority, provides, pre_depends, depends = (line.split("\t") + [""] * 7)[:7]
        if not status.startswith("ii"):
            continue
        groups = []
        for group in filter(None, (each.strip() for each in f"{pre_depends},{depends}".split(","))):
            groups.append([re.split(r"[\s:(]", alternative.strip())[0] for alternative in group.split("|")])
        virtual = [re.split(r"[\s(]", each.strip())[0] for each in provides.split(",") if each.strip()]
        packages[name] = (essential == "yes" or priority == "required", virtual, groups)
    return packages


def pulled_in(roots, packages):
    """Every installed package the roots are or depend on, through virtual packages too."""
    providers = {}
    for name, (_, virtual, _) in packages.items():
        for each in virtual:
            providers.setdefault(each, set()).add(name)
    seen = set()
    pending = [name for name in roots if name in packages or name in providers]
    while pending:
        name = pending.pop()
        for real in ({name} if name in packages else set()) | providers.get(name, set()):
            if real in seen:
                continue
            seen.add(real)
            for group in packages[real][2]:
                for alternative in group:
                    if alternative in packages or alternative in providers:
                        pending.append(alternative)
    return seen


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--setup", required=True)
    parser.add_argument("--tools", required=True)
    parser.add_argument("--drop", action="append", default=[])
    parser.add_argument("--expect-missing", action="append", default=[])
    args = parser.parse_args()

    if shutil.which("dpkg-query") is None:
        print("SKIP: dpkg-query is not here; this check needs a Debian system")
        return 77
    listed = subprocess.run([args.setup, "--list"], capture_output=True, text=True, check=True).stdout.split()
    for package in args.drop:
        if package not in listed:
            print(f"--drop {package}: scripts/setup does not list it")
            return 2
    listed = [package for package in listed if package not in args.drop]

    problems = []
    needed = []  # (where, path)
    for where, path, name in listed_tools(args.tools):
        if path is None:
            problems.append(f"{name} is not installed ({where}); scripts/setup must install the package that has it")
        else:
            needed.append((where, path))
    needed += cache_entries(args.build)

    packages = installed_packages()
    baseline = [name for name, (always, _, _) in packages.items() if always]
    covered = pulled_in(listed, packages) | pulled_in(baseline, packages)
    unowned = []
    missing = {}  # package -> [(where, path)]
    owned_by = owners([path for _, path in needed])
    for where, path in needed:
        found = owned_by[path]
        if not found:
            unowned.append(f"{path} ({where})")
        elif not found & covered:
            for package in sorted(found):
                missing.setdefault(package, []).append((where, path))

    for line in unowned:
        print(f"not from a Debian package, not checked: {line}")
    for package, uses in sorted(missing.items()):
        where, path = uses[0]
        more = f" and {len(uses) - 1} more" if len(uses) > 1 else ""
        problems.append(f"scripts/setup does not install {package}, which has {path} ({where}){more}")
    for line in problems:
        print(f"ERROR: {line}")
    print(f"{len(needed)} programs, files and package directories checked against {len(listed)} listed packages")

    if args.expect_missing:
        if set(args.expect_missing) <= set(missing):
            print(f"as expected, the check names {' '.join(sorted(args.expect_missing))}")
            return 0
        print(f"expected the check to name {' '.join(sorted(args.expect_missing))}, "
              f"it named: {' '.join(sorted(missing)) or 'nothing'}")
        return 1
    if problems:
        return 1
    print("every package the builds and tests use is installed by scripts/setup or what it pulls in")
    return 0


if __name__ == "__main__":
    sys.exit(main())
