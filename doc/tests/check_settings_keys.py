#!/usr/bin/env python3
"""Checks that pellux-settings(5) describes every key the Linux daemon reads or writes in its
settings file, with the type the code uses, and no key the code does not know.

The keys have no single table in the code: each part reads its own (the engine in
session/client_settings.cpp, the activity log, the proxy and the language in ui/, the base
station list in app/, the client id in ui/system/). So the key list is taken from the sources of
the daemon's folders, from every call of the settings store's and the user interface's setting
functions:

    ReadNumber|ReadText|WriteNumber|WriteText|HoldsUnusable                (SettingsStore)
    ReadIntSetting|ReadStringSetting|WriteIntSetting|WriteStringSetting|
    SettingUnusable                                                        (UserInterface)
    LoadText|LoadNumber                                                    (ClientSettings)

whose second argument is a string literal ("ServerHost") or a constant (kSerialPortSetting),
which must be defined as `kName = "Key"` in one of the scanned files. A lower-case identifier
there is a function passing its own parameter on and names no key. Windows-only files (*_win.*)
are left out: the page describes the Linux file.

The page's keys are its entry lines as rendered, "Key (text, ...)" or "Key (number, ...)" at
the left margin of a section.

Usage:
    check_settings_keys.py SOURCE_ROOT PAGE            PAGE: .scd (rendered here) or troff
    check_settings_keys.py --self-test SOURCE_ROOT PAGE.scd
The self-test runs the check on a page with an entry taken out, on a page with a wrong type,
and on sources with a new key and with an unknown constant, and fails unless each of them fails
naming what is wrong.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

DAEMON_FOLDERS = ("app", "base", "device", "link", "server", "session", "service", "ui")
SECTION = "Tracker"

NUMBER_CALLS = {"ReadNumber", "WriteNumber", "ReadIntSetting", "WriteIntSetting", "LoadNumber"}
TEXT_CALLS = {"ReadText", "WriteText", "ReadStringSetting", "WriteStringSetting", "LoadText"}
KIND_CALLS = {"HoldsUnusable", "SettingUnusable"}

# A call: the function, its first argument (the section, or `ui` for LoadText and LoadNumber),
# and its second (the key), which ends at a comma or the closing parenthesis.
CALL = re.compile(
    r"\b(" + "|".join(sorted(NUMBER_CALLS | TEXT_CALLS | KIND_CALLS)) + r")\s*\(\s*"
    r"([^,()]+?)\s*,\s*"
    r'("(?:[^"\\]|\\.)*"|[A-Za-z_][A-Za-z0-9_]*(?:::[A-Za-z_][A-Za-z0-9_]*)*)\s*[,)]'
)
# A constant naming a key or a section: `kSerialPortSetting = "SerialPort"`.
CONSTANT = re.compile(r"\b(k[A-Z][A-Za-z0-9_]*)\s*=\s*\"([^\"\\]*)\"")
# An entry of the page as rendered: "ServerHost (text, default ...)" at a section's margin.
PAGE_ENTRY = re.compile(r"^ {7}([A-Za-z][A-Za-z0-9]*) \((text|number)[,)]")


class Problems(list):
    def say(self, text):
        self.append(text)


def source_files(root):
    for folder in DAEMON_FOLDERS:
        for directory, _, names in os.walk(os.path.join(root, folder)):
            for name in sorted(names):
                if not name.endswith((".cpp", ".h")) or "_win." in name:
                    continue
                yield os.path.join(directory, name)


def line_of(text, offset):
    return text.count("\n", 0, offset) + 1


def strip_comments(text):
    """Blanks out // and /* */ comments, keeping offsets and line numbers, so that a key
    named in a comment counts for nothing."""
    def blank(match):
        if match.group(0)[0] in "\"'":
            return match.group(0)  # a string or character literal stays as it is
        return re.sub(r"[^\n]", " ", match.group(0))
    literal_or_comment = r"""//[^\n]*|/\*.*?\*/|"(?:[^"\\\n]|\\.)*"|'(?:[^'\\\n]|\\.)*'"""
    return re.sub(literal_or_comment, blank, text, flags=re.S)


def code_keys(root, problems):
    """{key: {"types": set, "where": [file:line]}} of every key the daemon's code uses."""
    texts = {}
    for path in source_files(root):
        with open(path, encoding="utf-8") as handle:
            texts[path] = strip_comments(handle.read())
    constants = {}
    for path, text in texts.items():
        for match in CONSTANT.finditer(text):
            constants.setdefault(match.group(1), set()).add(match.group(2))

    def resolve(word, path, offset, what):
        if word.startswith('"'):
            return word[1:-1]
        name = word.split("::")[-1]
        if not re.match(r"k[A-Z]", name):
            return None  # a parameter passed on: no key of its own
        values = constants.get(name, set())
        if len(values) != 1:
            problems.say("%s:%d: the %s %s is %s: the check cannot tell which key is meant" % (
                os.path.relpath(path, root), line_of(texts[path], offset), what, name,
                "defined nowhere in the daemon's sources" if not values
                else "defined as " + ", ".join(sorted(values))))
            return None
        return next(iter(values))

    keys = {}
    for path, text in texts.items():
        for match in CALL.finditer(text):
            function, section_word, key_word = match.groups()
            where = "%s:%d" % (os.path.relpath(path, root), line_of(text, match.start()))
            key = resolve(key_word, path, match.start(), "key constant")
            if key is None:
                continue
            if function not in ("LoadText", "LoadNumber"):
                section = resolve(section_word.strip(), path, match.start(), "section constant")
                if section is not None and section != SECTION:
                    problems.say("%s: %s reads the key %s of the section %s, which the page does "
                                 "not describe" % (where, function, key, section))
            entry = keys.setdefault(key, {"types": set(), "where": []})
            if function in NUMBER_CALLS:
                entry["types"].add("number")
            elif function in TEXT_CALLS:
                entry["types"].add("text")
            entry["where"].append(where)
    return keys


def rendered(page):
    """The page as a reader sees it, as plain text."""
    with open(page, "rb") as handle:
        troff = handle.read()
    if page.endswith(".scd"):
        troff = subprocess.run(["scdoc"], input=troff, stdout=subprocess.PIPE,
                               check=True).stdout
    text = subprocess.run(["groff", "-man", "-Tutf8", "-P-cbou"], input=troff,
                          stdout=subprocess.PIPE, check=True,
                          env=dict(os.environ, LC_ALL="C.UTF-8")).stdout
    return text.decode("utf-8")


def page_keys(page):
    keys = {}
    for line in rendered(page).splitlines():
        match = PAGE_ENTRY.match(line)
        if match:
            keys.setdefault(match.group(1), set()).add(match.group(2))
    return keys


def check(root, page):
    """The problems found, as lines; none when the page and the code agree."""
    problems = Problems()
    in_code = code_keys(root, problems)
    if not in_code:
        problems.say("no settings key found in the daemon's sources under %s: the check's "
                     "patterns no longer match the code" % root)
    on_page = page_keys(page)
    for key in sorted(in_code):
        where = ", ".join(in_code[key]["where"][:3])
        if key not in on_page:
            problems.say("%s does not describe the key %s (used at %s)" % (
                os.path.basename(page), key, where))
            continue
        for kind in sorted(on_page[key]):
            if in_code[key]["types"] and kind not in in_code[key]["types"]:
                problems.say("%s calls the key %s a %s; the code uses it as a %s (%s)" % (
                    os.path.basename(page), key, kind,
                    " and ".join(sorted(in_code[key]["types"])), where))
    for key in sorted(set(on_page) - set(in_code)):
        problems.say("%s describes the key %s, which no code of the daemon reads or writes" % (
            os.path.basename(page), key))
    return problems, len(in_code)


def expect_failure(label, root, page, named):
    problems, _ = check(root, page)
    if not any(named in problem for problem in problems):
        print("self-test: %s: the check did not report %s; it said: %s" % (
            label, named, problems or "nothing"), file=sys.stderr)
        return False
    print("self-test: %s: reported as expected: %s" % (
        label, next(p for p in problems if named in p)))
    return True


def self_test(root, page):
    with open(page, encoding="utf-8") as handle:
        source = handle.read()
    work = tempfile.mkdtemp(prefix="check-settings-keys-")
    try:
        ok = True
        # The ServerPort entry and its indented paragraph taken out.
        without = re.sub(r"^\*ServerPort\*.*\n(?:\t.*\n|\n(?=\t))*", "", source, flags=re.M)
        if without == source:
            print("self-test: the page has no ServerPort entry to take out", file=sys.stderr)
            return False
        mutated = os.path.join(work, "without-serverport.5.scd")
        with open(mutated, "w", encoding="utf-8") as handle:
            handle.write(without)
        ok &= expect_failure("a page without ServerPort", root, mutated, "ServerPort")

        wrong_type = source.replace("*ServerPort* (number,", "*ServerPort* (text,")
        mutated = os.path.join(work, "serverport-as-text.5.scd")
        with open(mutated, "w", encoding="utf-8") as handle:
            handle.write(wrong_type)
        ok &= expect_failure("a page with a wrong type", root, mutated,
                             "calls the key ServerPort a text")

        # A copy of the sources with a new key, and one with a constant defined nowhere.
        copy = os.path.join(work, "source")
        for folder in DAEMON_FOLDERS:
            shutil.copytree(os.path.join(root, folder), os.path.join(copy, folder))
        extra = os.path.join(copy, "session", "self_test_extra.cpp")
        with open(extra, "w", encoding="utf-8") as handle:
            handle.write('void F(UserInterface& ui) {\n'
                         '  ui.ReadIntSetting(kSettingsSection, "BrandNewKey", 0);\n}\n')
        ok &= expect_failure("sources with a new key", copy, page, "BrandNewKey")
        with open(extra, "w", encoding="utf-8") as handle:
            handle.write('void F(SettingsStore& settings) {\n'
                         '  settings.ReadText("Tracker", kNowhereDefinedSetting);\n}\n')
        ok &= expect_failure("sources with an unknown constant", copy, page,
                             "kNowhereDefinedSetting")
        return ok
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main(arguments):
    if len(arguments) == 3 and arguments[0] == "--self-test":
        return 0 if self_test(arguments[1], arguments[2]) else 1
    if len(arguments) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    root, page = arguments
    problems, count = check(root, page)
    for problem in problems:
        print("check-settings-keys: " + problem, file=sys.stderr)
    if problems:
        return 1
    print("check-settings-keys: %s describes the %d keys the daemon's code uses" % (
        os.path.basename(page), count))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
