#!/usr/bin/python3
"""Writes the CycloneDX 1.6 bill of materials of a shipped program or of the verification kit.

    bom.py program OUT FILE MAP NAME VERSION
    bom.py kit OUT ZIP NAME VERSION MEMBER=MAP...

A program's components are what its link map says the linker pulled in: every archive of which
it took a member, and every object file it loaded, outside the build. Each is traced to the
Debian package that installed it (dpkg -S) and that package's version (dpkg-query), with a
package URL, its licence as an SPDX expression and the fields of BSI TR-03183-2: SHA-512, file
name, and whether it is an executable or an archive. The kit's components are its files as the zip
holds them, and the programs among them carry their own linked components.

Nothing in it depends on the time or the folder it runs in, so the same build gives the same
bill of materials; with SOURCE_DATE_EPOCH set, that is its time stamp.
"""

import datetime
import hashlib
import json
import os
import re
import subprocess
import sys
import urllib.parse
import uuid
import zipfile

# The licences of the Debian packages whose files a program links, as SPDX expressions. GCC's
# runtime libraries carry the GCC Runtime Library Exception; mingw-w64's runtime is under the
# Zope Public License 2.1, its start-up code and import libraries in the public domain, and a few
# of its parts under further permissive licences, which the package's copyright file lists.
GCC_RUNTIME = "GPL-3.0-or-later WITH GCC-exception-3.1"
MINGW_RUNTIME = "ZPL-2.1 AND LicenseRef-public-domain"
LICENCES = {
    "gcc-mingw-w64-i686-win32": GCC_RUNTIME,
    "g++-mingw-w64-i686-win32": GCC_RUNTIME,
    "gcc-mingw-w64-i686-posix": GCC_RUNTIME,
    "g++-mingw-w64-i686-posix": GCC_RUNTIME,
    "gcc-mingw-w64-x86-64-win32": GCC_RUNTIME,
    "g++-mingw-w64-x86-64-win32": GCC_RUNTIME,
    "mingw-w64-i686-dev": MINGW_RUNTIME,
    "mingw-w64-x86-64-dev": MINGW_RUNTIME,
    "mingw-w64-common": MINGW_RUNTIME,
}

# Where the programs' own objects come from: these belong to the program, not to a component.
PROJECT_FOLDERS = [os.path.realpath(folder) for folder in os.environ.get(
    "DUNVELT_BOM_PROJECT_FOLDERS", os.getcwd()).split(os.pathsep) if folder]


class BomError(Exception):
    pass


def sha512(data):
    return hashlib.sha512(data).hexdigest()


def read(path):
    with open(path, "rb") as file:
        return file.read()


def linked_files(map_path):
    """The files a link took code from, as its map names them: {real path: [members]}."""
    try:
        text = read(map_path).decode("utf-8", "replace")
    except OSError as error:
        raise BomError(f"Cannot read the link map {map_path}: {error.strerror}") from error
    if "Archive member included" not in text or "\nLOAD " not in text:
        raise BomError(f"{map_path} is not a GNU ld link map (-Wl,-Map)")
    files = {}
    archives = text.split("Linker script and memory map", 1)[0]
    for line in archives.splitlines():
        match = re.match(r"^(/[^()\s]+)\(([^()]+)\)$", line)
        if match:
            files.setdefault(os.path.realpath(match.group(1)), set()).add(match.group(2))
    for match in re.finditer(r"^LOAD (/\S+\.o(?:bj)?)$", text, re.MULTILINE):
        files.setdefault(os.path.realpath(match.group(1)), set())
    return {path: sorted(members) for path, members in files.items() if not is_project_file(path)}


def is_project_file(path):
    return any(path == folder or path.startswith(folder + os.sep) for folder in PROJECT_FOLDERS)


def dpkg_owners(paths):
    """{path: package} for the paths that dpkg knows."""
    if not paths:
        return {}
    result = subprocess.run(["dpkg", "-S", *paths], capture_output=True, text=True)
    owners = {}
    for line in result.stdout.splitlines():
        package, _, path = line.partition(": ")
        if "," in package:  # a path that two packages share: the first named installed it
            package = package.split(",")[0]
        owners[path] = package.strip()
    return owners


def debian_packages(paths, strict=True):
    """{path: (package, version, architecture)} from dpkg's database; strict: every path must
    belong to a package."""
    if not paths:
        return {}
    owners = dpkg_owners(paths)
    # Debian 12 merged /bin and /lib into /usr, but its packages still name some files there.
    unmerged = {path[4:]: path for path in paths if path not in owners
                and re.match(r"/usr/(s?bin|lib[^/]*)/", path)}
    owners.update((unmerged[path], package) for path, package in dpkg_owners(unmerged).items())
    missing = [path for path in paths if path not in owners]
    if missing and strict:
        raise BomError("Linked, but installed by no Debian package: " + ", ".join(missing))
    names = sorted(set(owners.values()))
    query = subprocess.run(
        ["dpkg-query", "-W", "-f", "${binary:Package}\t${Package}\t${Version}\t${Architecture}\n",
         *names], capture_output=True, text=True, check=True)
    versions = {}
    for line in query.stdout.splitlines():
        qualified, package, version, architecture = line.split("\t")
        versions[qualified] = versions[package] = (package, version, architecture)
    return {path: versions[package] for path, package in owners.items()}


def purl(package, version, architecture, path=None):
    quoted = urllib.parse.quote
    text = (f"pkg:deb/debian/{quoted(package, safe='')}@{quoted(version, safe='')}"
            f"?arch={architecture}&distro=debian-{debian_release()}")
    return text + (f"#{quoted(path.lstrip('/'), safe='/')}" if path else "")


def debian_release():
    try:
        return read("/etc/debian_version").decode().strip().split(".")[0]
    except OSError:
        return "unknown"


def bsi_properties(file_name, executable, archive):
    return [
        {"name": "bsi:component:filename", "value": file_name},
        {"name": "bsi:component:executable", "value": "executable" if executable else "non-executable"},
        {"name": "bsi:component:archive", "value": "archive" if archive else "no archive"},
    ]


def linked_components(map_path, owner_ref):
    """The components a program's link map shows, each with its bom-ref under OWNER_REF."""
    files = linked_files(map_path)
    packages = debian_packages(sorted(files))
    components = []
    for path in sorted(files, key=lambda p: (packages[p][0], os.path.basename(p))):
        package, version, architecture = packages[path]
        if package not in LICENCES:
            raise BomError(f"{path} comes from {package}, whose licence this bill of materials "
                           f"does not know: add it to LICENCES in {__file__}")
        name = os.path.basename(path)
        members = files[path]
        linked = (f"{len(members)} members linked: " + ", ".join(members)) if members else "linked whole"
        components.append({
            "type": "library",
            "bom-ref": f"{owner_ref}/{name}",
            "name": name,
            "version": version,
            "description": f"{path} from the Debian package {package}; {linked}",
            "hashes": [{"alg": "SHA-512", "content": sha512(read(path))}],
            "licenses": [{"expression": LICENCES[package]}],
            "purl": purl(package, version, architecture, path),
            "properties": bsi_properties(name, False, name.endswith(".a")) + [
                {"name": "dunvelt:debian:package", "value": package},
                {"name": "dunvelt:debian:version", "value": version},
                {"name": "dunvelt:linked-into", "value": owner_ref},
            ],
        })
    return components


def program_component(name, version, file_name, data, ref):
    return {
        "type": "application",
        "bom-ref": ref,
        "name": name,
        "version": version,
        "hashes": [{"alg": "SHA-512", "content": sha512(data)}],
        "properties": bsi_properties(file_name, file_name.lower().endswith((".exe", ".cmd")), False),
    }


def document(main, components, dependencies, tools):
    serial = uuid.uuid5(uuid.NAMESPACE_URL, "urn:sha512:" + main["hashes"][0]["content"])
    metadata = {"component": main, "tools": {"components": tools}}
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if epoch:
        moment = datetime.datetime.fromtimestamp(int(epoch), datetime.timezone.utc)
        metadata = {"timestamp": moment.strftime("%Y-%m-%dT%H:%M:%SZ"), **metadata}
    return {
        "$schema": "http://cyclonedx.org/schema/bom-1.6.schema.json",
        "bomFormat": "CycloneDX",
        "specVersion": "1.6",
        "serialNumber": f"urn:uuid:{serial}",
        "version": 1,
        "metadata": metadata,
        "components": components,
        "dependencies": dependencies,
    }


def build_tools():
    """The compiler and linker packages that made the programs, as the build's tools."""
    names = ["binutils-mingw-w64-i686", "g++-mingw-w64-i686-win32"]
    query = subprocess.run(["dpkg-query", "-W", "-f", "${Package}\t${Version}\t${Architecture}\n",
                            *names], capture_output=True, text=True)
    tools = []
    for line in query.stdout.splitlines():
        package, version, architecture = line.split("\t")
        tools.append({"type": "application", "bom-ref": f"tool/{package}", "name": package,
                      "version": version, "purl": purl(package, version, architecture)})
    return tools


def write(out, bom):
    text = json.dumps(bom, indent=2, ensure_ascii=False) + "\n"
    with open(out + ".partial", "w", encoding="utf-8") as file:
        file.write(text)
    os.replace(out + ".partial", out)


def program_bom(out, path, map_path, name, version):
    file_name = os.path.basename(path)
    main = program_component(name, version, file_name, read(path), file_name)
    components = linked_components(map_path, file_name)
    dependencies = [{"ref": file_name, "dependsOn": [c["bom-ref"] for c in components]}]
    dependencies += [{"ref": c["bom-ref"]} for c in components]
    write(out, document(main, components, dependencies, build_tools()))


def kit_bom(out, zip_path, name, version, maps):
    zip_name = os.path.basename(zip_path)
    main = program_component(name, version, zip_name, read(zip_path), zip_name)
    main["type"] = "file"
    main["properties"] = bsi_properties(zip_name, False, True)
    components, dependencies = [], []
    with zipfile.ZipFile(zip_path) as kit:
        for member in kit.infolist():
            data = kit.read(member)
            file_name = member.filename
            component = program_component(os.path.splitext(file_name)[0], version, file_name,
                                          data, f"{zip_name}/{file_name}")
            if file_name in maps:
                component["components"] = linked_components(maps[file_name], component["bom-ref"])
                refs = [c["bom-ref"] for c in component["components"]]
                dependencies.append({"ref": component["bom-ref"], "dependsOn": refs})
                dependencies += [{"ref": ref} for ref in refs]
            else:
                if not file_name.lower().endswith((".exe", ".cmd")):
                    component["type"] = "file"
                dependencies.append({"ref": component["bom-ref"]})
            components.append(component)
    unknown = sorted(set(maps) - {c["properties"][0]["value"] for c in components})
    if unknown:
        raise BomError(f"{zip_path} holds no {', '.join(unknown)}")
    dependencies.insert(0, {"ref": zip_name, "dependsOn": [c["bom-ref"] for c in components]})
    write(out, document(main, components, dependencies, build_tools()))


def main(argv):
    try:
        if len(argv) == 7 and argv[1] == "program":
            program_bom(*argv[2:])
        elif len(argv) >= 6 and argv[1] == "kit":
            maps = dict(arg.split("=", 1) for arg in argv[6:] if "=" in arg)
            if len(maps) != len(argv) - 6:
                raise BomError("Each member of the kit is given as NAME=MAP")
            kit_bom(argv[2], argv[3], argv[4], argv[5], maps)
        else:
            print(__doc__.split("\n\n")[1], file=sys.stderr)
            return 2
    except BomError as error:
        print(f"bom.py: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
