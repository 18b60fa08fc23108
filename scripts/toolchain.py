#!/usr/bin/python3
"""Records the toolchain that made the shipped programs, and compares a record with this system's.

    toolchain.py record OUT SOURCE VERSION --programs FILE... --objects DIR... --tools PROGRAM...
    toolchain.py compare RECORD

The record, in the form of a Debian .buildinfo file, names the source commit, SOURCE_DATE_EPOCH
(the environment's, or else the commit's time), the programs' SHA-256 digests, and every Debian
package, with its version, that made their bytes: the compiler and linker with the libraries
they load, the headers the compiler read (its dependency files under the object folders), what
the linker took in (each program's link map, FILE.map), and the build tools. compare says which
of them this system lacks or has at another version, and exits 0 only when none does: then a
build of the recorded commit should give the recorded digests.
"""

import hashlib
import os
import re
import subprocess
import sys

import bom


def run(*command, cwd=None):
    try:
        result = subprocess.run(command, capture_output=True, text=True, cwd=cwd)
    except OSError:
        return None
    return result.stdout.strip() if result.returncode == 0 else None


def header_files(folders):
    """The files the compiler read, from the dependency files (*.d) it wrote."""
    files = set()
    for folder in folders:
        for parent, _, names in os.walk(folder):
            for name in names:
                if name.endswith(".d"):
                    with open(os.path.join(parent, name), encoding="utf-8", errors="replace") as f:
                        text = f.read().replace("\\\n", " ")
                    files.update(word for word in text.split(":", 1)[-1].split()
                                 if word.startswith("/"))
    return files


def tool_files(tools):
    """The tools, and for the cross compiler and binutils, whose code becomes the programs, their
    own programs and the shared libraries they load (GMP, MPFR, ISL: they steer the optimiser).
    The build tools' libraries do not touch the bytes, and are left out."""
    files, translators = set(), set()
    for tool in tools:
        files.add(os.path.realpath(tool))
        if "mingw32" not in os.path.basename(tool):
            continue
        translators.add(tool)
        if re.search(r"g(cc|\+\+)(-[\w.]+)?$", tool):
            for name in ("cc1plus", "cc1", "collect2", "lto-wrapper", "as", "ld"):
                found = run(tool, f"-print-prog-name={name}")
                if found and os.path.isabs(found):
                    translators.add(found)
    for program in translators:
        real = os.path.realpath(program)
        if not os.path.isfile(real):
            continue
        files.add(real)
        for line in (run("ldd", real) or "").splitlines():
            match = re.search(r"(/\S+) \(0x", line)
            if match:
                files.add(os.path.realpath(match.group(1)))
    return {path for path in files if os.path.isfile(path)}


def source_state(source):
    commit = run("git", "rev-parse", "HEAD", cwd=source)
    if not commit:
        return "unknown (not a git checkout)", "unknown", None
    changed = run("git", "status", "--porcelain", "--untracked-files=no", cwd=source)
    tree = "clean" if not changed else f"modified ({len(changed.splitlines())} files)"
    return commit, tree, run("git", "log", "-1", "--format=%ct", cwd=source)


def record(out, source, version, programs, objects, tools):
    maps = [program + ".map" for program in programs if os.path.isfile(program + ".map")]
    files = set(header_files(objects)) | tool_files(tools)
    for map_path in maps:
        files.update(bom.linked_files(map_path))
    files = {path for path in map(os.path.realpath, files) if not bom.is_project_file(path)}
    owners = bom.debian_packages(sorted(files), strict=False)
    packages = sorted(set(owners.values()))
    native = run("dpkg", "--print-architecture")
    commit, tree, commit_time = source_state(source)
    epoch = os.environ.get("SOURCE_DATE_EPOCH") or commit_time
    release = run("sh", "-c", ". /etc/os-release && echo $VERSION_CODENAME") or "unknown"
    lines = ["Format: 1.0", "Source: dunvelt", f"Version: {version}",
             f"Git-Commit: {commit}", f"Source-Tree: {tree}"]
    if epoch:
        lines.append(f"Source-Date-Epoch: {epoch}")
    lines += [f"Build-Architecture: {native}", "Build-Origin: Debian",
              f"Build-Distribution: {release}", "Checksums-Sha256:"]
    for program in programs:
        with open(program, "rb") as file:
            data = file.read()
        lines.append(f" {hashlib.sha256(data).hexdigest()} {len(data)} {os.path.basename(program)}")
    lines.append("Installed-Build-Depends:")
    entries = []
    for package, version_, architecture in packages:
        qualifier = f":{architecture}" if architecture not in (native, "all") else ""
        entries.append(f" {package}{qualifier} (= {version_})")
    lines.append(",\n".join(entries))
    unpackaged = sorted(files - set(owners))
    if unpackaged:
        lines.append("Unpackaged-Files:")
        lines += [f" {path}" for path in unpackaged]
    with open(out + ".partial", "w", encoding="utf-8") as file:
        file.write("\n".join(lines) + "\n")
    os.replace(out + ".partial", out)


def read_record(path):
    """The record's fields, and its packages as (name[:arch], version)."""
    try:
        with open(path, encoding="utf-8") as file:
            text = file.read()
    except (OSError, UnicodeDecodeError) as error:
        raise bom.BomError(f"Cannot read the toolchain record {path}: {error}") from error
    fields, name = {}, None
    for line in text.splitlines():
        if line.startswith(" ") and name:
            fields[name] += "\n" + line.strip()
        elif ":" in line:
            name, _, value = line.partition(":")
            fields[name] = value.strip()
        elif line.strip():
            raise bom.BomError(f"{path} is not a toolchain record: {line!r}")
    packages = []
    for entry in fields.get("Installed-Build-Depends", "").replace("\n", " ").split(","):
        if not entry.strip():
            continue
        match = re.fullmatch(r"\s*([a-z0-9][a-z0-9+.-]*(?::[a-z0-9-]+)?) \(= (\S+)\)\s*", entry)
        if not match:
            raise bom.BomError(f"{path}: not a package and version: {entry.strip()!r}")
        packages.append(match.groups())
    if fields.get("Format") != "1.0" or not packages:
        raise bom.BomError(f"{path} is not a toolchain record: it names no packages")
    return fields, packages


def compare(path):
    fields, packages = read_record(path)
    native = run("dpkg", "--print-architecture")
    differ = []
    for name, version in packages:
        package, _, architecture = name.partition(":")
        # A package of two architectures (libc6 and libc6:i386) is the one of the recorded one.
        lines = (run("dpkg-query", "-W", "-f", "${Architecture} ${db:Status-Status} ${Version}\n",
                     package) or "").splitlines()
        wanted = {architecture or native, "all"}
        line = next((line for line in lines if line.split(" ")[0] in wanted), " ")
        status, _, installed = line.partition(" ")[2].partition(" ")
        if status != "installed":
            differ.append(f"  {name}: recorded {version}, not installed here")
        elif installed != version:
            differ.append(f"  {name}: recorded {version}, here {installed}")
    print(f"Toolchain record of {fields.get('Source', '?')} {fields.get('Version', '?')}, "
          f"commit {fields.get('Git-Commit', '?')} ({fields.get('Source-Tree', '?')}), "
          f"SOURCE_DATE_EPOCH {fields.get('Source-Date-Epoch', 'unset')}")
    if differ:
        print(f"{len(differ)} of {len(packages)} packages differ from this system's:")
        print("\n".join(differ))
        print("A build here may not give the recorded digests; the packager's guide says how to "
              "install the recorded versions from Debian's snapshot archive.")
        return 1
    print(f"All {len(packages)} packages are installed here at the recorded versions: a build of "
          "that commit should give the recorded digests.")
    return 0


def main(argv):
    try:
        if len(argv) >= 5 and argv[1] == "record":
            out, source, version = argv[2:5]
            groups, current = {"--programs": [], "--objects": [], "--tools": []}, None
            for arg in argv[5:]:
                if arg in groups:
                    current = groups[arg]
                elif current is None:
                    raise bom.BomError(f"Unexpected argument {arg}")
                else:
                    current.append(arg)
            if not groups["--programs"]:
                raise bom.BomError("No --programs to record")
            record(out, source, version, groups["--programs"], groups["--objects"],
                   groups["--tools"])
            return 0
        if len(argv) == 3 and argv[1] == "compare":
            return compare(argv[2])
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    except bom.BomError as error:
        print(f"toolchain.py: {error}", file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
