#!/usr/bin/python3
"""Writes the CycloneDX 1.6 bill of materials of an install folder as a packager ships it:

    install-bom.py FOLDER OUT [NAME VERSION]

- every Windows program and DLL in it (known by its content, "MZ" and "PE\\0\\0"), with its
  SHA-512 and the subject of its signer, if it is signed; Dunvelt.exe with the components of its
  own bill of materials, where Dunvelt.exe.cdx.json beside it describes these very bytes;
- the Java runtime, from its release file (version, vendor where it names one) and from the
  modules its lib/modules image really holds, as the JDK's jimage lists them, each with the
  version its module descriptor gives: the JDK's, JavaFX's and the application's.

It needs the host's JDK (jimage, javap) and osslsigncode.
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

import bom


def is_pe(path):
    try:
        with open(path, "rb") as file:
            head = file.read(64)
            if len(head) < 64 or head[:2] != b"MZ":
                return False
            file.seek(int.from_bytes(head[0x3C:0x40], "little"))
            return file.read(4) == b"PE\0\0"
    except OSError:
        return False


def signer_of(path):
    """The subject of the first signer, "unsigned", or "signature does not match the file"."""
    result = subprocess.run(["osslsigncode", "verify", "-in", path], capture_output=True,
                            text=True, stdin=subprocess.DEVNULL, timeout=120)
    text = result.stdout + result.stderr
    if "No signature found" in text:
        return "unsigned"
    held = re.findall(r"^Current message digest\s*:\s*(\S+)", text, re.MULTILINE)
    now = re.findall(r"^Calculated message digest\s*:\s*(\S+)", text, re.MULTILINE)
    if not held or held != now:
        return "signature does not match the file"
    subject = re.search(r"^\s*Subject:\s*(.+)$", text, re.MULTILINE)
    return subject.group(1).strip() if subject else "signed, signer not named"


def release_fields(runtime):
    fields = {}
    try:
        with open(os.path.join(runtime, "release"), encoding="utf-8") as file:
            for line in file:
                name, _, value = line.strip().partition("=")
                if name:
                    fields[name] = value.strip('"')
    except OSError as error:
        raise bom.BomError(f"The runtime has no readable release file: {error.strerror}") from error
    return fields


def modules_of(image):
    """{module: version or None}, from the image's own module descriptors."""
    listing = subprocess.run(["jimage", "list", image], capture_output=True, text=True)
    if listing.returncode:
        raise bom.BomError(f"jimage cannot read {image}: {listing.stderr.strip()}")
    names = re.findall(r"^Module: (\S+)$", listing.stdout, re.MULTILINE)
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run(["jimage", "extract", "--include", r"regex:.*/module-info\.class",
                        "--dir", folder, image], check=True, capture_output=True)
        classes = [os.path.join(folder, name, "module-info.class") for name in names]
        described = subprocess.run(["javap", *classes], capture_output=True, text=True)
    versions = dict.fromkeys(names)
    for match in re.finditer(r"^(?:open )?module ([\w.]+)(?:@(\S+))? \{", described.stdout,
                             re.MULTILINE):
        versions[match.group(1)] = match.group(2)
    return versions


def module_group(name):
    if name.startswith(("java.", "jdk.")):
        return "the JDK"
    if name.startswith("javafx."):
        return "JavaFX"
    return "the application"


def runtime_component(folder):
    fields = release_fields(folder)
    image = os.path.join(folder, "lib", "modules")
    if not os.path.isfile(image):
        raise bom.BomError(f"{folder} holds a release file but no lib/modules image")
    modules = modules_of(image)
    vendor = fields.get("IMPLEMENTOR")
    component = {
        "type": "platform",
        "bom-ref": "runtime",
        "name": "Java runtime",
        "version": fields.get("JAVA_RUNTIME_VERSION") or fields.get("JAVA_VERSION", "unknown"),
        "description": f"Java {fields.get('JAVA_VERSION', '?')} runtime image, vendor: "
                       f"{vendor or 'not named in its release file'}; modules as lib/modules holds them",
        "properties": [{"name": "dunvelt:release:" + key, "value": value}
                       for key, value in sorted(fields.items())],
        "components": [],
    }
    if vendor:
        component["publisher"] = vendor
    with open(image, "rb") as file:
        data = file.read()
    component["components"].append({
        "type": "file", "bom-ref": "runtime/lib/modules", "name": "lib/modules",
        "hashes": [{"alg": "SHA-512", "content": bom.sha512(data)}],
        "properties": bom.bsi_properties("modules", False, True)})
    for name in sorted(modules):
        module = {"type": "library", "bom-ref": f"runtime/module/{name}", "name": name,
                  "group": module_group(name),
                  "description": f"module of {module_group(name)} in lib/modules"}
        if modules[name]:
            module["version"] = modules[name]
        component["components"].append(module)
    return component


def program_component(folder, path):
    relative = os.path.relpath(path, folder).replace(os.sep, "/")
    with open(path, "rb") as file:
        data = file.read()
    component = {
        "type": "library" if relative.lower().endswith(".dll") else "application",
        "bom-ref": relative,
        "name": relative,
        "hashes": [{"alg": "SHA-512", "content": bom.sha512(data)}],
        "properties": bom.bsi_properties(os.path.basename(path), True, False) + [
            {"name": "dunvelt:signer", "value": signer_of(path)}],
    }
    # The launcher's own bill of materials, where it describes these bytes.
    try:
        with open(path + ".cdx.json", encoding="utf-8") as file:
            own = json.load(file)
        if own["metadata"]["component"]["hashes"][0]["content"] == component["hashes"][0]["content"]:
            component["version"] = own["metadata"]["component"].get("version")
            component["components"] = own.get("components", [])
            for linked in component["components"]:
                linked["bom-ref"] = f"{relative}/{linked['name']}"
    except (OSError, KeyError, IndexError, ValueError):
        pass
    return component


def install_bom(folder, out, name, version):
    if not os.path.isdir(folder):
        raise bom.BomError(f"{folder} is not a folder")
    for tool in ("jimage", "javap", "osslsigncode"):
        if not shutil.which(tool):
            raise bom.BomError(f"{tool} not found: it needs the host's JDK and osslsigncode")
    components = []
    for parent, folders, files in os.walk(folder):
        folders.sort()
        for file_name in sorted(files):
            path = os.path.join(parent, file_name)
            if not os.path.islink(path) and is_pe(path):
                components.append(program_component(folder, path))
    if os.path.isfile(os.path.join(folder, "release")):
        components.append(runtime_component(folder))
    if not components:
        raise bom.BomError(f"{folder} holds no Windows program and no Java runtime")
    main = {"type": "application", "bom-ref": "install", "name": name, "version": version}
    digests = "".join(c["hashes"][0]["content"] for c in components if c.get("hashes"))
    main["hashes"] = [{"alg": "SHA-512", "content": bom.sha512(digests.encode())}]
    main["description"] = "an install folder; its hash is that of its programs' hashes in order"
    dependencies = [{"ref": "install", "dependsOn": [c["bom-ref"] for c in components]}]
    bom.write(out, bom.document(main, components, dependencies, []))


def main(argv):
    if len(argv) not in (3, 5):
        print(__doc__.split("\n\n")[1], file=sys.stderr)
        return 2
    folder, out = argv[1], argv[2]
    name, version = (argv[3], argv[4]) if len(argv) == 5 else (os.path.basename(
        os.path.abspath(folder)), "unknown")
    try:
        install_bom(folder, out, name, version)
    except bom.BomError as error:
        print(f"install-bom.py: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
