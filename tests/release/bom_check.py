"""Checks a CycloneDX bill of materials against the official 1.6 JSON schema, with the schemas it
refers to read from SCHEMAS and never from the network, and checks what it says against the files:
    bom_check.py SCHEMAS BOM FILE [--kit] [--expect NAME,...]
    bom_check.py SCHEMAS BOM --schema-only
FILE is the program, or with --kit the zip, whose members are unpacked with unzip and compared
one by one. Every linked component must name a Debian package installed here at the version the
bill of materials gives, and hash as its file does; --expect names components that must be among
them. Prints one line per fault and exits 1 on any.
"""

import hashlib
import json
import os
import subprocess
import sys
import tempfile
import urllib.parse

import jsonschema


def load(path):
    with open(path, encoding="utf-8") as file:
        return json.load(file)


def schema_faults(schemas, bom):
    main = load(os.path.join(schemas, "bom-1.6.SNAPSHOT.schema.json"))
    store = {}
    for name in ("spdx.SNAPSHOT.schema.json", "jsf-0.82.SNAPSHOT.schema.json"):
        schema = load(os.path.join(schemas, name))
        store[schema["$id"]] = store["http://cyclonedx.org/schema/" + name] = schema

    def offline(uri):
        raise jsonschema.RefResolutionError(f"{uri} is not among the schemas in {schemas}")

    resolver = jsonschema.RefResolver.from_schema(main, store=store,
                                                  handlers={"http": offline, "https": offline})
    validator = jsonschema.Draft7Validator(main, resolver=resolver,
                                           format_checker=jsonschema.draft7_format_checker)
    return [f"schema: {'/'.join(map(str, error.absolute_path)) or '(top)'}: {error.message}"
            for error in validator.iter_errors(bom)]


def sha512_of(path):
    with open(path, "rb") as file:
        return hashlib.sha512(file.read()).hexdigest()


def sha512(component):
    return next((h["content"] for h in component.get("hashes", []) if h["alg"] == "SHA-512"), None)


def property_value(component, name):
    return next((p["value"] for p in component.get("properties", []) if p["name"] == name), None)


def installed_version(package):
    result = subprocess.run(["dpkg-query", "-W", "-f", "${Version}", package],
                            capture_output=True, text=True)
    return result.stdout if result.returncode == 0 else None


def linked_faults(component):
    """A component from a Debian package: its purl, version, file and fields."""
    name, faults = component["name"], []
    purl = urllib.parse.urlsplit(component.get("purl", ""))
    if not component.get("purl", "").startswith("pkg:deb/debian/") or not purl.fragment:
        return [f"{name}: no Debian package URL with the file's path: {component.get('purl')}"]
    package, _, version = urllib.parse.unquote(purl.path.split("/")[-1]).partition("@")
    path = "/" + urllib.parse.unquote(purl.fragment)
    if installed_version(package) != version or component.get("version") != version:
        faults.append(f"{name}: {package} {version} is not the installed "
                      f"{installed_version(package)}")
    if not os.path.isfile(path) or sha512(component) != sha512_of(path):
        faults.append(f"{name}: its SHA-512 is not that of {path}")
    if not component.get("licenses") or "expression" not in component["licenses"][0]:
        faults.append(f"{name}: no licence expression")
    if property_value(component, "bsi:component:filename") != os.path.basename(path):
        faults.append(f"{name}: its file name is not {os.path.basename(path)}")
    if property_value(component, "bsi:component:executable") != "non-executable":
        faults.append(f"{name}: a linked library is marked executable")
    return faults


def file_faults(bom, path, kit):
    faults = []
    main = bom["metadata"]["component"]
    if sha512(main) != sha512_of(path):
        faults.append(f"{main['name']}: its SHA-512 is not that of {path}")
    if property_value(main, "bsi:component:filename") != os.path.basename(path):
        faults.append(f"{main['name']}: its file name is not {os.path.basename(path)}")
    programs = [main]
    if kit:
        with tempfile.TemporaryDirectory() as unpacked:
            subprocess.run(["unzip", "-q", path, "-d", unpacked], check=True)
            members = sorted(os.listdir(unpacked))
            named = sorted(property_value(c, "bsi:component:filename") for c in bom["components"])
            if named != members:
                faults.append(f"the kit holds {members}, its bill of materials names {named}")
            for component in bom["components"]:
                member = os.path.join(unpacked, property_value(component, "bsi:component:filename"))
                if os.path.isfile(member) and sha512(component) != sha512_of(member):
                    faults.append(f"{component['name']}: its SHA-512 is not that of the kit's file")
        programs = [c for c in bom["components"] if c.get("components")]
    else:
        programs[0] = {**main, "components": bom["components"]}
    for program in programs:
        for component in program["components"]:
            faults += linked_faults(component)
    return faults, programs


def main(argv):
    args = argv[1:]
    kit = "--kit" in args
    schema_only = "--schema-only" in args
    args = [a for a in args if a != "--schema-only"]
    if schema_only and len(args) == 2:
        args.append(None)
    expected = []
    if "--expect" in args:
        expected = args[args.index("--expect") + 1].split(",")
        del args[args.index("--expect"):args.index("--expect") + 2]
    args = [a for a in args if a != "--kit"]
    if len(args) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    schemas, bom_path, path = args
    bom = load(bom_path)
    faults = schema_faults(schemas, bom)
    if not faults and not schema_only:
        more, programs = file_faults(bom, path, kit)
        faults += more
        for program in programs:
            names = {c["name"] for c in program["components"]}
            faults += [f"{program['name']}: no linked component {name}"
                       for name in expected if name not in names]
    for fault in faults[:5]:
        print(f"{bom_path}: {fault}")
    if len(faults) > 5:
        print(f"{bom_path}: and {len(faults) - 5} more faults")
    if not faults:
        count = sum(1 + len(c.get("components", [])) for c in bom["components"])
        checked = "" if schema_only else ", every hash matches"
        print(f"{bom_path}: valid CycloneDX 1.6; {count} components{checked}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
