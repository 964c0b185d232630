#!/usr/bin/env python3
"""The policy template checked offline: Microsoft's schema through xmllint, then what the schema
cannot see (references between the two files, unique ids, what Intune's import takes), and the
key and value names against the service's own constants in config/config_values.h.
Then each check is shown to fail on a template spoiled for it.

    check_template.py REPOSITORY_ROOT
"""
import pathlib
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

NS = {"p": "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"}
CONTROLS = ("checkBox", "comboBox", "decimalTextBox", "dropdownList", "listBox",
            "longDecimalTextBox", "multiTextBox", "textBox")
# The registry type each kind of element writes.
ELEMENT_TYPES = {"enum": "REG_SZ", "text": "REG_SZ", "decimal": "REG_DWORD"}


def code_names(header, source):
    """The policy key, the values with their types, and the longest text, as the service has them."""
    names = dict(re.findall(r'constexpr const char\* (k\w+) = "((?:[^"\\]|\\.)*)";', header))
    names = {k: v.replace("\\\\", "\\") for k, v in names.items()}
    table = re.search(r"kSettings\[\] = \{(.*?)\n\};", header, re.S).group(1)
    settings = {names[n]: t for n, t in re.findall(r"\{(k\w+), (REG_\w+)\}", table)}
    capacity = int(re.search(r"kTextCapacity = (\d+);", source).group(1))
    return names["kPolicyKeyPath"], settings, capacity - 1


def check(admx_text, adml_text, code):
    """Every way the pair falls short, in words; empty when it does not."""
    policy_key, settings, longest = code
    errors = []
    admx, adml = ET.fromstring(admx_text), ET.fromstring(adml_text)
    strings = [s.get("id") for s in adml.iterfind(".//p:stringTable/p:string", NS)]
    presentations = {p.get("id"): p for p in adml.iterfind(".//p:presentationTable/p:presentation", NS)}
    policies = admx.findall(".//p:policies/p:policy", NS)
    groups = {
        "string": strings,
        "presentation": [p.get("id") for p in adml.iterfind(".//p:presentation", NS)],
        "policy": [p.get("name") for p in policies],
        "category": [c.get("name") for c in admx.iterfind(".//p:category", NS)],
        "supportedOn": [d.get("name") for d in admx.iterfind(".//p:definition", NS)],
    }
    for kind, ids in groups.items():
        errors += [f"{kind} id {i} is not unique" for i in sorted(set(ids)) if ids.count(i) > 1]
    for kind, known in (("string", strings), ("presentation", presentations)):
        for ref in re.findall(r"\$\(" + kind + r"\.(\w+)\)", admx_text):
            if ref not in known:
                errors.append(f"$({kind}.{ref}) has no {kind} in the ADML")
    for ref in admx.iterfind(".//p:parentCategory", NS):
        if ref.get("ref") not in groups["category"]:
            errors.append(f"category {ref.get('ref')} is not defined here")
    for ref in admx.iterfind(".//p:policy/p:supportedOn", NS):
        if ref.get("ref") not in groups["supportedOn"]:
            errors.append(f"supportedOn {ref.get('ref')} is not defined here")
    written = {}

    def note(name, value, stored):
        written.setdefault(value, []).append(name)
        if value not in settings:
            errors.append(f"{name} writes {value}, which the service does not read")
        elif stored != settings[value]:
            errors.append(f"{name} writes {value} as {stored}, not {settings[value]}")

    for policy in policies:
        name = policy.get("name")
        if policy.get("class") != "Machine":
            errors.append(f"{name} is not of class Machine")
        if policy.get("key", "").lower() != policy_key.lower():
            errors.append(f"{name} writes under {policy.get('key')}, not {policy_key}")
        found = policy.find("p:elements", NS)
        elements = list(found) if found is not None else []
        ids = [e.get("id") for e in elements]
        errors += [f"{name}: element id {i} is not unique" for i in set(ids) if ids.count(i) > 1]
        if policy.get("valueName") is not None:  # on/off: Enabled and Disabled set its own value
            states = policy.findall("p:enabledValue/*", NS) + policy.findall("p:disabledValue/*", NS)
            note(name, policy.get("valueName"),
                 "REG_SZ" if any(s.tag.endswith("}string") for s in states) else "REG_DWORD")
        presentation = presentations.get(
            re.sub(r"^\$\(presentation\.(\w+)\)$", r"\1", policy.get("presentation", "")))
        for control in presentation if presentation is not None else []:
            if control.get("refId") is not None and control.get("refId") not in ids:
                errors.append(f"{name}: control refId {control.get('refId')} names no element of it")
        for element in elements:
            kind = element.tag.split("}")[1]
            stored = ELEMENT_TYPES.get(kind)
            if kind == "decimal" and element.get("storeAsText") == "true":
                stored = "REG_SZ"
            if element.get("key") not in (None, policy.get("key")):
                errors.append(f"{name}: element {element.get('id')} writes under another key")
            if kind == "enum" and element.findall(".//p:value/p:decimal", NS):
                stored = "REG_DWORD"
            note(name, element.get("valueName"), stored)
            if kind == "text" and int(element.get("maxLength", "1023")) > longest:
                errors.append(f"{name} allows more than the {longest} characters the service reads")
    for value in settings:
        if len(written.get(value, [])) != 1:
            errors.append(f"{value} has {len(written.get(value, []))} settings in the template, not 1")
    # What Intune's "Imported ADMX templates" takes: no combo box, no file over 1 MB.
    errors += [f"a comboBox: Intune imports none" for _ in adml.iterfind(".//p:comboBox", NS)]
    for label, text in (("ADMX", admx_text), ("ADML", adml_text)):
        if len(text.encode("utf-8")) > 1024 * 1024:
            errors.append(f"the {label} is larger than 1 MB")
    return errors


def schema_errors(schema, admx_text, adml_text):
    with tempfile.TemporaryDirectory() as folder:
        files = []
        for name, text in (("hingeflow.admx", admx_text), ("hingeflow.adml", adml_text)):
            path = pathlib.Path(folder, name)
            path.write_text(text, encoding="utf-8")
            files.append(str(path))
        run = subprocess.run(["xmllint", "--noout", "--schema", str(schema), *files],
                             capture_output=True, text=True)
    return [] if run.returncode == 0 else [line for line in run.stderr.splitlines() if line]


def main(root):
    root = pathlib.Path(root)
    template = root / "policy"
    admx = (template / "hingeflow.admx").read_text(encoding="utf-8")
    adml = (template / "en-US" / "hingeflow.adml").read_text(encoding="utf-8")
    header = (root / "config" / "config_values.h").read_text()
    code = code_names(header, (root / "config" / "config_values.cpp").read_text())
    schema = root / "tests" / "policy" / "admx-schema" / "PolicyDefinitionFiles.xsd"
    failures = 0

    def report(what, errors, expected=None):
        nonlocal failures
        ok = not errors if expected is None else any(expected in e for e in errors)
        failures += 0 if ok else 1
        print(f"{'ok  ' if ok else 'FAIL'} - {what}" + ("" if ok else f": {errors}"))

    languages = sorted(p.name for p in template.iterdir() if p.is_dir())
    report("one ADML, en-US only", [] if languages == ["en-US"] else [f"languages {languages}"])
    report("the pair is valid under Microsoft's schema", schema_errors(schema, admx, adml))
    report("references, ids, names and Intune's limits", check(admx, adml, code))

    # Each check spoiled once: (what, ADMX from, to, ADML from, to, a value added to the code's
    # table, what the failure must say).
    spoiled = [
        ("an element the schema does not know", "<elements>", "<elements><bogus/>", "", "", None,
         "bogus"),
        ("an unresolved string", "$(string.LogPath_Explain)", "$(string.Nowhere)", "", "", None,
         "$(string.Nowhere) has no string"),
        ("an unresolved presentation", "$(presentation.LogPath)", "$(presentation.Nowhere)", "",
         "", None, "$(presentation.Nowhere) has no presentation"),
        ("a refId of another policy", "", "", 'refId="LogPath"', 'refId="TriggerDevice"', None,
         "control refId TriggerDevice names no element"),
        ("a string id twice", "", "", '<string id="LogPath">', '<string id="hingeflow">', None,
         "string id hingeflow is not unique"),
        ("a policy name twice", 'name="LogPath"', 'name="TriggerDevice"', "", "", None,
         "policy id TriggerDevice is not unique"),
        ("another key", 'key="Software\\Policies\\hingeflow"', 'key="Software\\Policies\\other"', "",
         "", None, "writes under Software\\Policies\\other"),
        ("a value name retyped wrong", 'valueName="HingeflowServiceLogPath"',
         'valueName="HingeflowServiceLogpath"', "", "", None, "which the service does not read"),
        ("a number stored as text", 'minValue="0"', 'storeAsText="true" minValue="0"', "", "",
         None, "as REG_SZ, not REG_DWORD"),
        ("an on/off setting stored as text", '<decimal value="1"/>', "<string>1</string>", "", "",
         None, "ExternalDevicesOnly writes HingeflowExternalDevicesOnly as REG_SZ"),
        ("a longer text than the service reads", 'maxLength="2047"', 'maxLength="2048"', "", "",
         None, "more than the 2047 characters"),
        ("a user policy", 'name="LogPath" class="Machine"', 'name="LogPath" class="User"', "", "",
         None, "LogPath is not of class Machine"),
        ("a value the service reads that the template lacks", "", "", "", "", "HingeflowNewValue",
         "HingeflowNewValue has 0 settings"),
        ("a combo box", "", "", "<textBox refId=\"LogPath\">\n          <label>Log file:</label>\n        </textBox>",
         '<comboBox refId="LogPath">Log file:</comboBox>', None, "a comboBox"),
        ("a file over 1 MB", "<policies>", "<!--" + "x" * (1024 * 1024) + "--><policies>", "", "",
         None, "larger than 1 MB"),
    ]
    for what, a_from, a_to, l_from, l_to, added, expected in spoiled:
        bad_admx, bad_adml = admx.replace(a_from, a_to, 1), adml.replace(l_from, l_to, 1)
        assert bad_admx != admx or bad_adml != adml or added, what
        bad_code = (code[0], {**code[1], added: "REG_DWORD"}, code[2]) if added else code
        errors = (schema_errors(schema, bad_admx, bad_adml) if what.startswith("an element")
                  else check(bad_admx, bad_adml, bad_code))
        report(f"fails on {what}", errors, expected)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "."))
